// Published layouts of the Python C API structures that the plugin reads or
// builds itself: the same in every supported 3.x library (64-bit, the default
// build: no free threading, no reference tracing; the loader refuses others).
// Each layout is checked where a field's offset matters.
#pragma once

#include <cstddef>
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

using PyCFunction = PyObjectRef (*)(PyObjectRef self, PyObjectRef args);
using PyCFunctionWithKeywords = PyObjectRef (*)(PyObjectRef self, PyObjectRef args, PyObjectRef kwargs);

// A method table stores every C function as a PyCFunction and the flags say
// its real signature; the detour through void (*)() tells the compiler so.
template <typename To, typename From>
To AsFunctionOfSignature(From function) noexcept {
  return reinterpret_cast<To>(reinterpret_cast<void (*)()>(function));
}

constexpr int METH_VARARGS = 1;
constexpr int METH_NOARGS = 4;    // the function takes (self, null)
constexpr int METH_O = 8;         // the function takes (self, the one argument)
constexpr int METH_KEYWORDS = 2;  // with METH_VARARGS: the function takes (self, args, kwargs)

// The API version handed to PyModule_Create2 with a module definition: the
// stable ABI's, which every 3.x library accepts without a warning.
constexpr int kPythonApiVersion = 3;

// Start symbols of the grammar for PyRun_StringFlags, the same in every version.
constexpr int Py_file_input = 257;  // statements
constexpr int Py_eval_input = 258;  // one expression

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

// A tuple: the size after the object header, then the items.
struct PyTupleHeader {
  PyObjectHeader ob_base;
  int64_t ob_size;
  PyObjectRef ob_item[1];
};
static_assert(offsetof(PyTupleHeader, ob_item) == 24, "tuple items follow the size");

// The part of a Python type object that every 3.x library lays out the same
// way: everything up to and including tp_finalize (400 bytes). Later versions
// add fields after it (3.8: 416 bytes, 3.9 to 3.11: 408, 3.12 and 3.13: 416),
// which the library reads in every type it readies, so a type object is
// always given a larger zero-filled block than this layout (see HostType).
using PyDestructor = void (*)(PyObjectRef self);
using PyHashFunction = intptr_t (*)(PyObjectRef self);
using PyUnaryFunction = PyObjectRef (*)(PyObjectRef self);
using PyInitFunction = int (*)(PyObjectRef self, PyObjectRef args, PyObjectRef kwds);
using PyNewFunction = PyObjectRef (*)(struct PyTypeObjectHeader* type, PyObjectRef args, PyObjectRef kwds);
using PyFreeFunction = void (*)(void* memory);
using PyGetter = PyObjectRef (*)(PyObjectRef self, void* closure);
using PySetter = int (*)(PyObjectRef self, PyObjectRef value, void* closure);

struct PyTypeObjectLayout {
  PyObjectHeader ob_base;
  int64_t ob_size;
  const char* tp_name;
  int64_t tp_basicsize;
  int64_t tp_itemsize;
  PyDestructor tp_dealloc;
  int64_t tp_vectorcall_offset;  // tp_print before 3.8
  void* tp_getattr;
  void* tp_setattr;
  void* tp_as_async;
  void* tp_repr;
  void* tp_as_number;
  void* tp_as_sequence;
  void* tp_as_mapping;
  PyHashFunction tp_hash;
  void* tp_call;
  PyUnaryFunction tp_str;
  void* tp_getattro;
  void* tp_setattro;
  void* tp_as_buffer;
  unsigned long tp_flags;
  const char* tp_doc;
  void* tp_traverse;
  void* tp_clear;
  void* tp_richcompare;
  int64_t tp_weaklistoffset;
  void* tp_iter;
  void* tp_iternext;
  PyMethodDef* tp_methods;
  void* tp_members;
  PyGetSetDef* tp_getset;
  PyTypeObjectLayout* tp_base;  // null until readied, and for object
  PyObjectRef tp_dict;
  void* tp_descr_get;
  void* tp_descr_set;
  int64_t tp_dictoffset;
  PyInitFunction tp_init;
  void* tp_alloc;
  PyNewFunction tp_new;
  PyFreeFunction tp_free;
  void* tp_is_gc;
  PyObjectRef tp_bases;
  PyObjectRef tp_mro;
  PyObjectRef tp_cache;
  void* tp_subclasses;
  PyObjectRef tp_weaklist;
  void* tp_del;
  unsigned int tp_version_tag;
  void* tp_finalize;
};

static_assert(offsetof(PyTypeObjectLayout, tp_dealloc) == 48, "type object layout");
static_assert(offsetof(PyTypeObjectLayout, tp_hash) == 120, "type object layout");
static_assert(offsetof(PyTypeObjectLayout, tp_flags) == 168, "type object layout");
static_assert(offsetof(PyTypeObjectLayout, tp_methods) == 232, "type object layout");
static_assert(offsetof(PyTypeObjectLayout, tp_base) == 256, "type object layout");
static_assert(offsetof(PyTypeObjectLayout, tp_init) == 296, "type object layout");
static_assert(offsetof(PyTypeObjectLayout, tp_free) == 320, "type object layout");
static_assert(sizeof(PyTypeObjectLayout) == 400, "type object layout through tp_finalize");

constexpr unsigned long Py_TPFLAGS_BASETYPE = 1UL << 10;
constexpr unsigned long Py_TPFLAGS_DEFAULT = 1UL << 18;  // Py_TPFLAGS_HAVE_VERSION_TAG
constexpr unsigned long Py_TPFLAGS_LONG_SUBCLASS = 1UL << 24;
constexpr unsigned long Py_TPFLAGS_UNICODE_SUBCLASS = 1UL << 28;

inline PyTypeObjectLayout* TypeOf(PyObjectRef object) { return reinterpret_cast<PyTypeObjectLayout*>(object->ob_type); }

// The buffer protocol: the view an exporter fills (the same in every 3.x
// library since 3.3) and the two slots of a type's tp_as_buffer.
struct Py_buffer {
  void* buf;
  PyObjectRef obj;  // the exporter, one reference owned by the view; null for a view of no object
  int64_t len;      // bytes
  int64_t itemsize;
  int readonly;
  int ndim;
  char* format;  // struct syntax; null means "B"
  int64_t* shape;
  int64_t* strides;
  int64_t* suboffsets;
  void* internal;
};
static_assert(sizeof(Py_buffer) == 80, "Py_buffer layout");

using PyGetBufferFunction = int (*)(PyObjectRef exporter, Py_buffer* view, int flags);
using PyReleaseBufferFunction = void (*)(PyObjectRef exporter, Py_buffer* view);
struct PyBufferProcs {
  PyGetBufferFunction bf_getbuffer;
  PyReleaseBufferFunction bf_releasebuffer;  // may be null
};

constexpr int PyBUF_SIMPLE = 0;
constexpr int PyBUF_WRITABLE = 0x0001;
constexpr int PyBUF_FORMAT = 0x0004;
constexpr int PyBUF_ND = 0x0008;
constexpr int PyBUF_STRIDES = 0x0010 | PyBUF_ND;
constexpr int PyBUF_C_CONTIGUOUS = 0x0020 | PyBUF_STRIDES;
constexpr int PyBUF_INDIRECT = 0x0100 | PyBUF_STRIDES;
constexpr int PyBUF_FULL_RO = PyBUF_INDIRECT | PyBUF_FORMAT;  // any layout, read-only allowed

// What a type readied from a zero-filled block allocates its instances with
// (inherited from object); the layout names it only as an address.
using PyAllocFunction = PyObjectRef (*)(PyTypeObjectLayout* type, int64_t items);
