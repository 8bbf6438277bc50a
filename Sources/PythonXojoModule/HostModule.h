// What Python reads of a Python3XojoModule: its definition and its method
// table, built anew for each interpreter that creates the module and left
// unchanged while that interpreter runs.
#pragma once

#include <string>
#include <vector>

#include "HostCode/HostCalls.h"
#include "HostCode/HostRegistration.h"
#include "PythonLibrary/PythonAbi.h"

class HostModule final : public PythonVisibleState {
 public:
  explicit HostModule(std::string name) : name_(std::move(name)) {}
  ~HostModule() override;
  HostModule(const HostModule&) = delete;
  HostModule& operator=(const HostModule&) = delete;

  const std::string& Name() const { return name_; }
  bool IsFull() const { return functions_.size() >= kMaxHostFunctions; }
  // Only while the running interpreter has not seen the module.
  void AddFunction(std::string name, PyCFunction function, bool takesKeywords) {
    functions_.push_back({std::move(name), function, takesKeywords, {}});
  }
  // The documentation of the function of this name, or of the module itself
  // for an empty name; false when it has no such function.
  bool Document(const std::string& name, std::string text);
  // A value every module object gets, kept as marshal data so that it
  // outlives the interpreter it came from; replaces one of the same name.
  void AddValue(std::string name, std::string marshalled);

  // A new module object (a new reference), or null with Python's error set.
  PyObjectRef Create() noexcept;

  bool registered = false;  // entered in Python's table of built-in modules

 private:
  // The definition Python keeps pointers to, and the way back from it.
  struct DefinitionBlock {
    PyModuleDef definition;
    HostModule* owner;  // null once the module is gone
  };

  static PyObjectRef CallFunction(size_t index, PyObjectRef module, PyObjectRef args, PyObjectRef kwargs) noexcept;
  static HostModule* OwnerOf(PyObjectRef module) noexcept;
  bool Rebuild();

  struct HostValue {
    std::string name;
    std::string marshalled;
  };
  bool AddValuesTo(PyObjectRef module) const noexcept;

  std::string name_;
  std::string documentation_;
  std::vector<HostFunction> functions_;
  std::vector<HostValue> values_;
  std::vector<PyMethodDef> table_;  // the functions as Python calls them, then the end marker
  // One per interpreter that created the module, the last one current; never freed.
  std::vector<DefinitionBlock*> blocks_;
};
