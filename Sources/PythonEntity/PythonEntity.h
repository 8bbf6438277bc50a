// Python3EntityBase and Python3Entity: the value wrappers' base and any
// Python value. Their data block and accessors are those of every value
// wrapper (PythonValues/PythonWrappers.h).
#pragma once

#include "PythonValues/PythonWrappers.h"
