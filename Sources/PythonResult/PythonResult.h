// Python3Result: what a call returned. Its data block is declared with the
// other wrappers' (PythonValues/PythonWrappers.h).
#pragma once

#include "PythonValues/PythonWrappers.h"
