// Python3Entity's members for Python's data tools: a chart, an image or an
// array as PNG or JPEG bytes in a MemoryBlock, an image from such bytes, and
// a table (a pandas DataFrame, a numpy structured array, a mapping of
// columns) read column by column.
#pragma once

#include <vector>

#include "PythonValues/PythonWrappers.h"

std::vector<REALmethodDefinition> EntityDataToolMethods();
std::vector<REALmethodDefinition> EntityDataToolSharedMethods();

// At every start, before any Python code of the application runs: the
// helper module, and Agg as matplotlib's default backend. Leaves no error set.
void InstallDataTools() noexcept;
