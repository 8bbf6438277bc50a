// The members of HostModule: its definition built anew for each interpreter, the module functions Python
// calls, and the values read back from marshal data into each module object.

#include "PythonXojoModule/HostModule.h"

#include "PythonLibrary/PythonLoader.h"
#include "PythonXojoModule/RegisteredModules.h"

PyObjectRef HostModule::CallModuleFunction(size_t index, PyObjectRef module, PyObjectRef args,
                                           PyObjectRef kwargs) noexcept {
  return CallFunction(OwnerOfModule(module), index, "module", module, args, kwargs);
}

void HostModule::AddValue(std::string name, std::string marshalled) {
  for (HostValue& value : values_)
    if (value.name == name) {
      value.marshalled = std::move(marshalled);
      return;
    }
  values_.push_back({std::move(name), std::move(marshalled)});
}

bool HostModule::AddValuesTo(PyObjectRef module) const noexcept {
  for (const HostValue& value : values_) {
    if (!HasPythonEntries(EPyMarshal_ReadObjectFromString, EPyModule_AddObject)) return false;
    PyObjectRef object =
        EPyMarshal_ReadObjectFromString(value.marshalled.data(), static_cast<Py_ssize_t>(value.marshalled.size()));
    if (!object) return false;
    if (EPyModule_AddObject(module, value.name.c_str(), object) != 0) {
      ReleasePythonRef(object);  // not taken by the failed add
      return false;
    }
  }
  return true;
}

HostModule* HostModule::OwnerOfModule(PyObjectRef module) noexcept {
  PyModuleDef* definition = module && EPyModule_GetDef ? EPyModule_GetDef(module) : nullptr;
  return definition ? static_cast<HostModule*>(OwnerOf(definition)) : nullptr;
}

HostModule::~HostModule() { ForgetRegisteredModule(this); }

PyModuleDef* HostModule::Definition() const { return static_cast<PyModuleDef*>(CurrentObject()); }

// Each interpreter gets a definition of its own: what the last one left in
// its definition (its module index, the copy of the module's dictionary that
// single-phase modules keep there) must not reach the next.
bool HostModule::Rebuild() {
  if (!NewBlock(sizeof(PyModuleDef))) return false;
  PyMethodDef* functions = BuildMethodTable<&HostModule::CallModuleFunction>();
  PyModuleDef& definition = *Definition();
  definition.m_base.ob_base.ob_refcnt = 1;
  definition.m_name = Name().c_str();
  definition.m_doc = Documentation().c_str();
  definition.m_size = -1;  // no per-module state
  definition.m_methods = functions;
  return true;
}

PyObjectRef HostModule::Create() noexcept {
  if (!registered) {
    RaisePythonError(e__PyExc_RuntimeError, "Python3XojoModule.ModuleCreateProc: the module ", Name(),
                     " is not registered; call Python3Engine.RegisterXojoModule before Python3Engine.Init");
    return nullptr;
  }
  if (!EPyModule_Create2) return nullptr;
  if (!SeenByRunningInterpreter() && !BuildForPython(Name(), [this] { return Rebuild(); })) return nullptr;
  ScopedReference module = ScopedReference::Adopt(EPyModule_Create2(Definition(), kPythonApiVersion));
  if (!module) return nullptr;
  MarkSeen();
  return AddValuesTo(module.Get()) ? module.HandOver() : nullptr;
}
