// Running Python source text in the namespace of __main__, and reading the
// pending error's type and traceback.
#pragma once

#include "REALplugin.h"

bool Python_Execute(REALstringStruct* source);
REALobjectStruct* Python_Evaluate(REALstringStruct* expression);
REALstringStruct* Python_GetErrorTypeName();
REALstringStruct* Python_GetErrorTraceback();
