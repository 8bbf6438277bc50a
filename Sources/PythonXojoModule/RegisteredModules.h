#pragma once

#include "REALplugin.h"

// Host modules registered for import, kept alive by the array; or null.
extern REALarrayStruct* gRegisteredModules;
