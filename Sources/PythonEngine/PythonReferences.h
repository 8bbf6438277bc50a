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

// A reference of a member's own to an object it hands into a call that can
// run Python code: that code may call host code that drops the last host
// reference to the wrapper or argument the object came from. Given back when
// the member is done, within the same host call (Finalize is refused inside one).
class HeldReference {
 public:
  explicit HeldReference(PyObjectRef borrowed) noexcept : object_(NewReference(borrowed)) {}
  HeldReference(const HeldReference&) = delete;
  HeldReference& operator=(const HeldReference&) = delete;
  ~HeldReference() {
    if (object_ && gPythonInitialized) ReleasePythonRef(object_);
  }
  PyObjectRef get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  PyObjectRef object_;  // owned; null for none
};

// A wrapper's owned reference lives in a field of its data block. Every such
// field is known, so that Finalize can forget the references that die with
// the interpreter: a wrapper destroyed after a restart must not release an
// object of the old interpreter into the new one. Storing and releasing take
// constant time and allocate nothing per wrapper.
void StoreOwnedPythonRef(PyObjectRef& field, PyObjectRef object);  // field takes over the reference
// Releases while the interpreter runs, taking the interpreter lock for the
// current host entry if it has not; leaves the field null.
void ReleaseOwnedPythonRef(PyObjectRef& field);
void ReplaceOwnedPythonRef(PyObjectRef& field, PyObjectRef object);  // releases the old, takes over the new
// True when the address is that of a field holding an owned reference; reads
// nothing at the address, which may lie inside any object.
bool IsOwnedPythonRefField(const PyObjectRef* field);
// Before the interpreter stops: every known field gives its reference back
// and becomes null, so what only wrappers kept alive (host objects in
// capsules among them) is freed with the interpreter.
void ReleaseOwnedPythonRefs();
void ForgetOwnedPythonRefs();  // the interpreter is gone: every known field becomes null
