// Registering host functions and classes on the host side: names, the
// refusals, and the states that Python reads of each module or class.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "Exceptions/Exceptions.h"
#include "HostCode/HostCalls.h"
#include "HostHandles.h"
#include "PythonRuntime/VisibleState.h"
#include "PythonValues/PythonWrappers.h"
#include "REALplugin.h"

// The bytes of a name given by the host; empty for Nil and "".
std::string NameFromHost(REALstringStruct* name);

// Whether a host module or type may still change: not while the running
// interpreter has seen it, which raises a Python3Exception naming `member`
// ("Python3XojoClass.SetHashFunction"). False without raising for null.
bool MayChange(const PythonVisibleState* state, const char* member);

// The name of a new function or property; "" after raising a Python3Exception
// for a missing name, a state that may not change, or a full table; "" for a
// null state too.
std::string NameToRegister(const PythonVisibleState* state, REALstringStruct* name, const char* member, bool full);

// RegisterFunction of a module or class: a function of this name, taking
// keyword arguments when `keywords`; a Python3Exception for a missing name,
// a full table, or a state that may not change.
template <typename State>
void RegisterHostFunction(State* state, REALstringStruct* name, void* function, bool keywords, const char* member) {
  std::string text = NameToRegister(state, name, member, state && state->IsFull());
  if (!text.empty()) state->AddFunction(std::move(text), reinterpret_cast<PyCFunction>(function), keywords);
}

// SetDocumentation of a module or class: the text of the member of this
// name, or of the module or class itself for an empty name; a
// Python3Exception when it has no such member or may not change.
template <typename State>
void DocumentHostMember(State* state, REALstringStruct* name, REALstringStruct* text, const char* member) {
  if (!MayChange(state, member)) return;
  const std::string target = NameFromHost(name);
  if (!state->Document(target, NameFromHost(text)))
    ThrowPythonException(PythonExceptionCode::RegistrationRefused,
                         (std::string(member) + ": nothing named " + target + " is registered").c_str());
}

// The constructor of a Python3XojoModule or Python3XojoClass: a new state
// named `name` in `field` (any earlier one disposed of), and `name` as the
// object's Name; a Python3Exception for a missing name.
void StoreObjectName(REALobjectStruct* self, REALstringStruct* name);
template <typename State, typename... Arguments>
void ConstructHostState(REALobjectStruct* self, REALstringStruct* name, State*& field, Arguments... arguments) {
  std::string text = NameFromHost(name);
  if (text.empty()) return ThrowPythonException(PythonExceptionCode::RegistrationRefused);
  auto state = std::make_unique<State>(std::move(text), arguments...);
  DisposeVisibleState(std::unique_ptr<PythonVisibleState>(std::exchange(field, state.release())));
  StoreObjectName(self, name);
}

// Their destructor: the state disposed of (Python reads copies of the name,
// which Python3Object's destructor gives back).
template <typename State>
void DestroyHostState(State*& field) {
  DisposeVisibleState(std::unique_ptr<PythonVisibleState>(std::exchange(field, nullptr)));
}

// Appends to a host array of objects, creating it when null; the array takes
// its own reference.
void AppendToObjectArray(ArrayField& array, REALobjectStruct* object);
