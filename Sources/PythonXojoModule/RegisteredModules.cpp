// Python3Engine.RegisterXojoModule: one creator entry per module name in Python's table of built-in
// modules, kept through restarts, and the module objects held until Finalize.

#include "PythonXojoModule/RegisteredModules.h"
#include <algorithm>
#include <vector>

#include <cstring>
#include <string>
#include <utility>

#include "Exceptions/Exceptions.h"
#include "HostCode/HostCalls.h"
#include "HostCode/HostRegistration.h"
#include "HostGlue.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonXojoModule/HostModule.h"
#include "PythonXojoModule/PythonXojoModule.h"

ArrayField gRegisteredModules;

namespace {

// One per module name ever registered. Python's table of built-in modules
// keeps the name and the creator entry for the process, through restarts, and
// so does a registration: the module is created again on the first import
// after every Init, for as long as the application holds the module object.
// A module registered again under the name changes what is behind the entry.
struct RegisteredName {
  const char* name;             // handed to Python; never freed
  PyModuleCreator hostCreator;  // of the latest registration; null before the first
  REALobjectStruct* module;     // the latest Python3XojoModule registered; not locked, valid while `state` is set
  const HostModule* state;      // its state; null once the module object is gone
};
RegisteredName gRegisteredNames[kMaxRegisteredModuleNames];
size_t gRegisteredNameCount = 0;

PyObjectRef CreateRegisteredModule(size_t index) noexcept {
  const RegisteredName& entry = gRegisteredNames[index];
  if (!entry.state || !entry.hostCreator) {
    RaisePythonError(e__PyExc_ImportError, "the module ", entry.name,
                     " is not registered: its Python3XojoModule is gone; keep the object registered with "
                     "Python3Engine.RegisterXojoModule for as long as Python may import it");
    return nullptr;
  }
  const HostCallee callee{entry.name, ""};
  return FollowErrorRule(callee, CallHostCode(callee, entry.hostCreator));
}

constexpr auto kCreatorEntries =
    IndexedEntries<&CreateRegisteredModule>::Table(std::make_index_sequence<kMaxRegisteredModuleNames>());

// The index of the name's entry, made if new; kMaxRegisteredModuleNames when full.
size_t RegisteredNameIndex(const std::string& name) {
  for (size_t index = 0; index < gRegisteredNameCount; ++index)
    if (name == gRegisteredNames[index].name) return index;
  if (gRegisteredNameCount == kMaxRegisteredModuleNames) return kMaxRegisteredModuleNames;
  char* copy = new char[name.size() + 1];
  std::memcpy(copy, name.c_str(), name.size() + 1);
  gRegisteredNames[gRegisteredNameCount] = RegisteredName{copy, nullptr, nullptr, nullptr};
  return gRegisteredNameCount++;
}

// Whether Python's table of built-in modules holds the entry already (from a
// registration before an earlier start): one entry per name, however often
// it is registered.
bool PythonTableHolds(const char* name, PyModuleCreator creator) {
  struct InittabEntry {
    const char* name;  // null ends the table
    PyModuleCreator creator;
  };
  if (!e__PyImport_Inittab || !*e__PyImport_Inittab) return false;
  for (auto* entry = static_cast<const InittabEntry*>(*e__PyImport_Inittab); entry->name; ++entry)
    if (entry->creator == creator && std::strcmp(entry->name, name) == 0) return true;
  return false;
}

// Strict UTF-8 as Python decodes it: no overlong forms, surrogates or code
// points past U+10FFFF.
bool IsUtf8(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80                   ? 1
                          : lead >= 0xC2 && lead < 0xE0 ? 2
                          : lead >= 0xE0 && lead < 0xF0 ? 3
                          : lead >= 0xF0 && lead < 0xF5 ? 4
                                                        : 0;
    if (length == 0 || at + length > text.size()) return false;
    uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kShortest[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
    at += length;
  }
  return true;
}

bool HasName(REALobjectStruct* xojoModule, const std::string& name) {
  const HostModule* state = HostModuleOf(xojoModule);
  return state && state->Name() == name;
}

// Keeps the module in gRegisteredModules in place of any module of the same
// name kept before: a registration replaces the earlier one, which Python
// will no longer create, so only the latest of each name is kept until Finalize.
void KeepRegisteredModule(REALobjectStruct* xojoModule, const std::string& name) {
  const int64_t last = gRegisteredModules ? REALGetArrayUBound(gRegisteredModules.Get()) : -1;
  std::vector<ScopedObject> earlier;
  for (int64_t index = 0; index <= last; ++index) {
    ScopedObject module;
    REALGetArrayValueObject(gRegisteredModules.Get(), index, module.Out());
    if (module.Get()) earlier.push_back(std::move(module));
  }
  const bool replaces = std::any_of(earlier.begin(), earlier.end(),
                                    [&](const ScopedObject& module) { return HasName(module.Get(), name); });
  if (!replaces) return AppendToObjectArray(gRegisteredModules, xojoModule);
  ArrayField kept = {};
  for (const ScopedObject& module : earlier)
    if (!HasName(module.Get(), name)) AppendToObjectArray(kept, module.Get());
  AppendToObjectArray(kept, xojoModule);
  gRegisteredModules.Adopt(kept.HandOver());
}

void Refuse(const char* reason) {
  ThrowPythonException(PythonExceptionCode::RegistrationRefused,
                       (std::string("Python3Engine.RegisterXojoModule: ") + reason).c_str());
}

}  // namespace

void Python_RegisterXojoModule(REALobjectStruct* xojoModule, void* moduleCreatorFunction) {
  if (!xojoModule || !moduleCreatorFunction) return;
  if (!EnsurePythonEntries(EPyImport_AppendInittab, EPy_IsInitialized)) return;
  // Libraries before 3.12 accept an entry while running and never use it;
  // later ones end the process.
  if (EPy_IsInitialized())
    return Refuse(
        "Python is running, and it takes new modules only before it starts; "
        "register modules before Python3Engine.Init, or after Python3Engine.Finalize");
  HostModule* module = HostModuleOf(xojoModule);
  if (!module) return ThrowPythonException(PythonExceptionCode::RegistrationRefused);
  // Python decodes every name of its table as it starts: one it cannot
  // decode ends the process in the next Init; C cuts a name at a NUL.
  if (!IsUtf8(module->Name()) || module->Name().find('\0') != std::string::npos)
    return Refuse("the module name is not UTF-8 text without NUL characters");
  const size_t index = RegisteredNameIndex(module->Name());
  if (index == kMaxRegisteredModuleNames)
    return Refuse(
        ("a process can register at most " + std::to_string(kMaxRegisteredModuleNames) + " module names").c_str());
  RegisteredName& entry = gRegisteredNames[index];
  entry.hostCreator = reinterpret_cast<PyModuleCreator>(moduleCreatorFunction);
  entry.module = xojoModule;
  entry.state = module;
  const PyModuleCreator creator = kCreatorEntries[index];
  if (!PythonTableHolds(entry.name, creator) && EPyImport_AppendInittab(entry.name, creator) != 0)
    return Refuse("the Python library refused the module");
  module->registered = true;
  KeepRegisteredModule(xojoModule, module->Name());
}

void KeepRegisteredModulesForThisStart() noexcept {
  for (size_t index = 0; index < gRegisteredNameCount; ++index) {
    const RegisteredName& entry = gRegisteredNames[index];
    if (entry.state) KeepRegisteredModule(entry.module, entry.name);
  }
}

void ForgetRegisteredModule(const HostModule* state) noexcept {
  for (size_t index = 0; index < gRegisteredNameCount; ++index)
    if (gRegisteredNames[index].state == state)
      gRegisteredNames[index] = RegisteredName{gRegisteredNames[index].name, nullptr, nullptr, nullptr};
}

void ReleaseRegisteredModules() noexcept { gRegisteredModules.Reset(); }
