// Python objects as the plugin handles them without the host: references
// counted on the object header directly (the plugin never calls the library
// for reference counting) and the scoped reference, the type tests, the
// shared objects, type names, and raising an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "PythonLibrary/PythonAbi.h"

// From 3.12 on, an object whose count reads negative in its low 32 bits is
// immortal: Python neither counts its references nor frees it, and takes
// some it never gives back (3.13 takes one of a static type for each of its
// instances). Counting them here would make such an object mortal again and
// let those references pile up. The counts of earlier versions never come
// near 2^31.
inline bool IsImmortalPythonObject(PyObjectRef object) { return static_cast<int32_t>(object->ob_refcnt) < 0; }

inline void TakePythonRef(PyObjectRef object) {
  if (!IsImmortalPythonObject(object)) ++object->ob_refcnt;
}

// A new reference to a borrowed object, for a wrapper or a call that takes
// references over; null stays null.
inline PyObjectRef NewReference(PyObjectRef borrowed) {
  if (borrowed) TakePythonRef(borrowed);
  return borrowed;
}

// Drops one reference of a temporary; frees the object when it was the last.
inline void ReleasePythonRef(PyObjectRef object) {
  if (!IsImmortalPythonObject(object) && --object->ob_refcnt == 0) object->ob_type->tp_dealloc(object);
}

// A reference that lives in a block of code and is given back when the block
// is left: a temporary, or a reference of a member's own to an object it hands
// into a call that can run Python code (that code may call host code that
// drops the last host reference to the wrapper or argument the object came
// from). Borrow takes a reference of its own to a borrowed object; Adopt takes
// over a new one; null stays null. Given back as ReleasePythonRef gives back a
// temporary, within the operation that took it, so to the interpreter it came
// from (Finalize is refused inside a call into Python).
class ScopedReference {
 public:
  ScopedReference() noexcept = default;
  static ScopedReference Borrow(PyObjectRef borrowed) noexcept { return ScopedReference(NewReference(borrowed)); }
  static ScopedReference Adopt(PyObjectRef owned) noexcept { return ScopedReference(owned); }
  ScopedReference(const ScopedReference&) = delete;
  ScopedReference& operator=(const ScopedReference&) = delete;
  ScopedReference(ScopedReference&& other) noexcept : object_(other.HandOver()) {}
  // The reference held before goes when `other` does.
  ScopedReference& operator=(ScopedReference&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ScopedReference() {
    if (object_) ReleasePythonRef(object_);
  }
  PyObjectRef Get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller (a result, a field) and holds nothing.
  PyObjectRef HandOver() noexcept { return std::exchange(object_, nullptr); }

 private:
  explicit ScopedReference(PyObjectRef owned) noexcept : object_(owned) {}

  PyObjectRef object_ = nullptr;  // owned; null for none
};

// int, bool and int subclasses; inline, as every read of an int asks.
inline bool IsPythonInt(PyObjectRef object) { return object && (TypeOf(object)->tp_flags & Py_TPFLAGS_LONG_SUBCLASS); }
bool IsPythonStr(PyObjectRef object);    // str and its subclasses
bool IsPythonFloat(PyObjectRef object);  // float and its subclasses
bool IsPythonBool(PyObjectRef object);   // exactly bool
bool IsPythonTuple(PyObjectRef object);  // exactly tuple, list, dict, bytes:
bool IsPythonList(PyObjectRef object);   //   subclasses fail these tests
bool IsPythonDict(PyObjectRef object);
bool IsPythonBytes(PyObjectRef object);
bool IsPythonNone(PyObjectRef object);
bool IsPythonCallable(PyObjectRef object);  // callable() is true; runs no Python code
// An int in the Int32 range.
bool PythonIntFitsInInt32(PyObjectRef object);

// A new reference to True or False.
PyObjectRef NewPythonBool(bool value);
// A new reference to None; null when the library offers none.
PyObjectRef NewPythonNone();
// True when a text holds a NUL character, which no module name does.
bool PythonTextHoldsNul(PyObjectRef text);
// A file path as Python decodes file names (the file system encoding, bytes
// it cannot decode kept as escapes); null when Python refuses (error set).
PyObjectRef NewPythonPath(const char* bytes, size_t length);

// A new reference to attribute `name`, or null with no error left.
PyObjectRef NewPythonAttributeOrNull(PyObjectRef object, const char* name);
// A new reference to attribute `name` when it is a str, or null with no error left.
PyObjectRef NewPythonStrAttributeOrNull(PyObjectRef object, const char* name);

// "ValueError", "json.decoder.JSONDecodeError": the module is left out for
// builtins and when it is not a str (a class may carry any object as
// __module__ or __qualname__); the qualified name falls back on the bare
// name, then on the name the type was made with. A new str, or null. Read
// from attributes alone, running no Python code of its own.
PyObjectRef NewTypeName(PyObjectRef type);

// The size of a zero-filled block that a type object of the loaded library
// fits in, the fields each version adds after tp_finalize included.
size_t PythonTypeObjectSize();

// The one way the plugin raises a Python error: the exception held by an
// entry of the table (e__PyExc_TypeError, ...), when the library has it, with
// the message; the parts of a message made of several are joined.
void RaisePythonError(PyObjectRef* exceptionEntry, const char* message) noexcept;
template <typename... Parts>
void RaisePythonError(PyObjectRef* exceptionEntry, const Parts&... parts) noexcept {
  try {
    std::string message;
    (message.append(parts), ...);
    RaisePythonError(exceptionEntry, message.c_str());
  } catch (const std::exception&) {
    RaisePythonError(exceptionEntry, "(no memory for the message)");
  }
}
