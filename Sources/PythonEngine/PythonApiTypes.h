// Published layouts of the Python C API structures that the plugin builds
// itself and hands to the library.
#pragma once

#include <cstdint>

#include "PythonEngine/PythonReferences.h"

using PyCFunction = PyObjectRef (*)(PyObjectRef self, PyObjectRef args);

constexpr int METH_VARARGS = 1;

struct PyMethodDef {
  const char* ml_name;  // null ends a table
  PyCFunction ml_meth;
  int ml_flags;
  const char* ml_doc;
};

struct PyGetSetDef {
  const char* name;  // null ends a table
  void* get;
  void* set;
  const char* doc;
  void* closure;
};

struct PyModuleDef_Base {
  PyObjectHeader ob_base;
  PyObjectRef (*m_init)();
  int64_t m_index;
  PyObjectRef m_copy;
};

struct PyModuleDef {
  PyModuleDef_Base m_base;
  const char* m_name;
  const char* m_doc;
  int64_t m_size;
  PyMethodDef* m_methods;
  void* m_slots;
  void* m_traverse;
  void* m_clear;
  void* m_free;
};

static_assert(sizeof(PyMethodDef) == 32, "PyMethodDef layout");
static_assert(sizeof(PyGetSetDef) == 40, "PyGetSetDef layout");
static_assert(sizeof(PyModuleDef) == 104, "PyModuleDef layout");
