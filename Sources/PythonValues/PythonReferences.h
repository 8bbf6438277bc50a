// The references that wrappers keep in the fields of their data blocks, and
// the rule that none of them is ever given back to an interpreter other than
// the one it came from. (What lives in a block of code is a ScopedReference,
// PythonLibrary/PythonObjects.h.)
#pragma once

#include <cstdint>

#include "PythonLibrary/PythonObjects.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/ReferenceFieldTable.h"

// A wrapper's owned reference lives in a field of its data block. Every such
// field is known, so that Finalize can forget the references that die with
// the interpreter: a wrapper destroyed after a restart must not release an
// object of the old interpreter into the new one. Storing and releasing take
// constant time and allocate nothing per wrapper.
// Always inlined: every wrapper made or destroyed passes here.
inline void StoreReferenceField(ReferenceField& field, PyObjectRef object);  // field takes over the reference
// Releases while the interpreter runs, taking the interpreter lock for the
// current host entry if it has not; leaves the field null.
inline void ReleaseOwnedPythonRef(ReferenceField& field);
void ReplaceReferenceField(ReferenceField& field, PyObjectRef object);  // releases the old, takes over the new
// True when the address is that of a field holding an owned reference; reads
// nothing at the address, which may lie inside any object.
bool IsReferenceField(const ReferenceField* field);
// Before the interpreter stops: every known field gives its reference back
// and becomes null, so what only wrappers kept alive (host objects in
// capsules among them) is freed with the interpreter.
void ReleaseReferenceFields();
void ForgetReferenceFields();  // the interpreter is gone: every known field becomes null

// Out of memory for one more field: a field that Finalize could not forget
// must stay empty, so the reference is given back.
void RefuseUnknownField(ReferenceField& field, PyObjectRef object);

__attribute__((always_inline)) inline void StoreReferenceField(ReferenceField& field, PyObjectRef object) {
  field = object;
  if (!object)
    gReferenceFields.Erase(&field);
  else if (!gReferenceFields.Insert(&field))
    RefuseUnknownField(field, object);
}

__attribute__((always_inline)) inline void ReleaseOwnedPythonRef(ReferenceField& field) {
  PyObjectRef object = field;
  field = nullptr;
  if (!object) return;  // a field in the table is never null
  // Taken first: the lock also keeps the table to one host thread at a time.
  if (gPythonInitialized && host_entries::tEntries.lockHeld == host_entries::LockHeld::None) HoldInterpreterLock();
  if (gReferenceFields.Erase(&field) && gPythonInitialized) ReleasePythonRef(object);
}
