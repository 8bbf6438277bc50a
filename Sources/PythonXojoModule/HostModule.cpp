#include "PythonXojoModule/HostModule.h"

#include "PythonLibrary/PythonLoader.h"
#include "PythonXojoModule/RegisteredModules.h"

PyObjectRef HostModule::CallFunction(size_t index, PyObjectRef module, PyObjectRef args, PyObjectRef kwargs) noexcept {
  HostModule* owner = OwnerOf(module);
  const bool found = owner && index < owner->functions_.size();
  return CallHostFunction(found ? std::string_view(owner->name_) : "module",
                          found ? &owner->functions_[index] : nullptr, module, args, kwargs);
}

bool HostModule::Document(const std::string& name, std::string text) {
  if (name.empty()) {
    documentation_ = std::move(text);
    return true;
  }
  for (HostFunction& function : functions_)
    if (function.name == name) {
      function.documentation = std::move(text);
      return true;
    }
  return false;
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

HostModule* HostModule::OwnerOf(PyObjectRef module) noexcept {
  PyModuleDef* definition = module && EPyModule_GetDef ? EPyModule_GetDef(module) : nullptr;
  return definition ? reinterpret_cast<DefinitionBlock*>(definition)->owner : nullptr;
}

HostModule::~HostModule() {
  for (DefinitionBlock* block : blocks_) block->owner = nullptr;
  ForgetRegisteredModule(this);
}

// Each interpreter gets a definition of its own: what the last one left in
// its definition (its module index, the copy of the module's dictionary that
// single-phase modules keep there) must not reach the next.
bool HostModule::Rebuild() {
  static constexpr auto kFunctionEntries =
      IndexedEntries<&HostModule::CallFunction>::Table(std::make_index_sequence<kMaxHostFunctions>());
  blocks_.reserve(blocks_.size() + 1);
  auto* block = static_cast<DefinitionBlock*>(AllocateStaticPythonObject(sizeof(DefinitionBlock)));
  if (!block) return false;
  blocks_.push_back(block);
  block->owner = this;
  table_.clear();
  table_.reserve(functions_.size() + 1);
  for (size_t i = 0; i < functions_.size(); ++i) table_.push_back(HostMethodDef(functions_[i], kFunctionEntries[i]));
  table_.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});  // sentinel
  PyModuleDef& definition = block->definition;
  definition.m_base.ob_base.ob_refcnt = 1;
  definition.m_name = name_.c_str();
  definition.m_doc = documentation_.c_str();
  definition.m_size = -1;  // no per-module state
  definition.m_methods = table_.data();
  return true;
}

PyObjectRef HostModule::Create() noexcept {
  if (!registered) {
    RaisePythonError(e__PyExc_RuntimeError, "Python3XojoModule.ModuleCreateProc: the module ", name_,
                     " is not registered; call Python3Engine.RegisterXojoModule before Python3Engine.Init");
    return nullptr;
  }
  if (!EPyModule_Create2) return nullptr;
  if (!SeenByRunningInterpreter() && !BuildForPython(name_, [this] { return Rebuild(); })) return nullptr;
  PyObjectRef module = EPyModule_Create2(&blocks_.back()->definition, kPythonApiVersion);
  if (!module) return nullptr;
  MarkSeen();
  if (AddValuesTo(module)) return module;
  ReleasePythonRef(module);
  return nullptr;
}
