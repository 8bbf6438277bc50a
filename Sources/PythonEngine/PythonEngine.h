// Shared methods of Python3Engine.
#pragma once

#include <cstdint>

#include "REALplugin.h"

bool Python_IsFound(int64_t preferredVersion);
void Python_SetPythonPath(REALobjectStruct* path);
