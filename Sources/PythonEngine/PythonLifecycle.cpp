#include "PythonEngine/PythonReferences.h"

bool gPythonInitialized = false;
