// The host module "inventory" that the example application publishes to
// Python: two functions and a class, all written as Xojo code writes them and
// handed to the plugin with their addresses (AddressOf).
#pragma once

#include "xhost/Host.h"

// Builds the module and registers it for the next Python3Engine.Init; call it
// before Init and again after every Finalize.
void publishInventoryModule();

// Drops the module (Finalize has released the plugin's own reference).
void forgetInventoryModule();
