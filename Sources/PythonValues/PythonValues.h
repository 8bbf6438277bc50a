// The conversions between host values and Python objects that every value
// wrapper shares: host strings and Python texts, host objects in capsules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PythonLibrary/PythonObjects.h"
#include "PythonValues/PythonReferences.h"
#include "REALplugin.h"

bool IsHostObjectCapsule(PyObjectRef object);  // a capsule this plugin made for a host object

// A new text from the host string's UTF-8 bytes; null when the host cannot
// supply them (`hostRefused` set) or Python refuses them.
PyObjectRef NewPythonText(REALstringStruct* string, bool* hostRefused = nullptr);
// A new host string of the bytes; null with Python's OverflowError set when
// the host's 32-bit length cannot carry them.
REALstringStruct* HostStringOfBytes(const char* bytes, int64_t size, uint32_t encoding);
// A Python name (module, attribute) from a host string: its whole UTF-8
// text, NUL characters included, so that Python decides what it names. Null
// with Python's UnicodeError set when the host cannot convert it.
PyObjectRef NewPythonName(REALstringStruct* name);
// str() of any object as a new host string, cut at its first NUL character;
// characters UTF-8 cannot hold (lone surrogates) come in backslash form.
// Null when str() fails (Python's error then set).
REALstringStruct* HostStringFromStr(PyObjectRef object);
// The whole UTF-8 text of a str as a new host string; null when it has none.
REALstringStruct* HostStringFromPythonText(PyObjectRef text);
// A capsule owning one lock on the host object; null when Python refuses
// (a Nil object among others). The lock is taken only once the capsule exists.
PyObjectRef NewHostObjectCapsule(REALobjectStruct* object);
// Unlocks a host object that Python let go of (a capsule, an instance of a
// host-defined type), which may run its Xojo Destructor: on the host's
// thread, at once or (from another thread) later, with any pending Python
// error kept aside, since Python hears of no failure there.
void ReleaseHostObjectForPython(REALobjectStruct* object) noexcept;
// The host object inside a capsule of this plugin, with one new lock; null otherwise.
REALobjectStruct* HostObjectFromPython(PyObjectRef object);
