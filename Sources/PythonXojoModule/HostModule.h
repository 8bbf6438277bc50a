// What Python reads of a Python3XojoModule: its definition and its method
// table, built anew for each interpreter that creates the module and left
// unchanged while that interpreter runs.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "HostCode/HostFunctionTable.h"
#include "PythonLibrary/PythonAbi.h"

class HostModule final : public HostFunctionTable {
 public:
  explicit HostModule(std::string name) : HostFunctionTable(std::move(name)) {}
  ~HostModule() override;

  // A value every module object gets, kept as marshal data so that it
  // outlives the interpreter it came from; replaces one of the same name.
  void AddValue(std::string name, std::string marshalled);

  // A new module object (a new reference), or null with Python's error set.
  PyObjectRef Create() noexcept;

  bool registered = false;  // entered in Python's table of built-in modules

 private:
  static PyObjectRef CallModuleFunction(size_t index, PyObjectRef module, PyObjectRef args,
                                        PyObjectRef kwargs) noexcept;
  static HostModule* OwnerOfModule(PyObjectRef module) noexcept;
  PyModuleDef* Definition() const;  // of the last block
  bool Rebuild();

  struct HostValue {
    std::string name;
    std::string marshalled;
  };
  bool AddValuesTo(PyObjectRef module) const noexcept;

  std::vector<HostValue> values_;
};
