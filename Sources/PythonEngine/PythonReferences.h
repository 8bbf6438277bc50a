// Taking and releasing Python references by working on the object header
// directly: the plugin never calls the library for reference counting.
#pragma once

#include <cstdint>

// The part of every Python object this plugin reads: its reference count,
// then its type. A type object holds its deallocator after the variable-size
// header, the name and the two sizes.
struct PyObjectHeader {
  int64_t ob_refcnt;
  struct PyTypeObjectHeader* ob_type;
};
struct PyTypeObjectHeader {
  PyObjectHeader ob_base;
  int64_t ob_size;
  const char* tp_name;
  int64_t tp_basicsize;
  int64_t tp_itemsize;
  void (*tp_dealloc)(PyObjectHeader*);
};
static_assert(sizeof(PyTypeObjectHeader) == 56, "tp_dealloc sits at offset 48 of a type object");

using PyObjectRef = PyObjectHeader*;

// True while the interpreter runs and was started by this plugin's Init.
extern bool gPythonInitialized;

inline void TakePythonRef(PyObjectRef object) { ++object->ob_refcnt; }

// Drops one reference of a temporary; frees the object when it was the last.
inline void ReleasePythonRef(PyObjectRef object) {
  if (--object->ob_refcnt == 0) object->ob_type->tp_dealloc(object);
}

// Drops the reference a wrapper owns, unless the interpreter it came from is
// no longer running.
inline void ReleaseOwnedPythonRef(PyObjectRef object) {
  if (object && gPythonInitialized) ReleasePythonRef(object);
}
