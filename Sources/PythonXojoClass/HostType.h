// What Python reads of a Python3XojoClass: the type object with its method
// and property tables, built anew for each interpreter that readies the type
// and left unchanged while that interpreter runs. The slots and table entries
// Python calls are functions of the plugin that find the host's functions
// here and call them under the rules of HostCode.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostCode/HostCalls.h"
#include "HostCode/HostFunctionTable.h"
#include "HostHandles.h"
#include "PythonLibrary/PythonAbi.h"

// The host's functions, as Python's slots and tables would call them.
using HostInitFunction = int32_t (*)(PyObjectRef self, PyObjectRef args, PyObjectRef kwds);
using HostHashFunction = int64_t (*)(PyObjectRef self);
using HostGetter = PyObjectRef (*)(PyObjectRef self, void* closure);
using HostSetter = int32_t (*)(PyObjectRef self, PyObjectRef value, void* closure);

class HostType final : public HostFunctionTable {
 public:
  HostType(std::string name, HostInitFunction init) : HostFunctionTable(std::move(name)), init_(init) {}

  // Only while the running interpreter has not seen the type.
  void AddProperty(std::string name, HostGetter getter, HostSetter setter) {
    properties_.push_back({std::move(name), getter, setter, this, {}});
  }
  void SetHash(HostHashFunction hash) { hash_ = hash; }
  void SetToString(PyUnaryFunction toString) { toString_ = toString; }

  // The type object readied for the running interpreter, or null with
  // Python's error set when the library refuses it.
  PyTypeObjectLayout* Ready() noexcept;

  // The host-object slot of an instance of a host-defined type (or of a
  // Python subclass of one); null for any other object.
  static ObjectField* DataSlotOf(PyObjectRef object) noexcept;

 private:
  struct HostProperty {  // the closure of its table entry
    std::string name;
    HostGetter getter;  // the host's; null: the property cannot be read
    HostSetter setter;  // the host's; null: read-only
    HostType* owner;
    std::string documentation;  // none when empty
  };

  static HostType* OfInstance(PyObjectRef object) noexcept;
  static void Dealloc(PyObjectRef self) noexcept;
  static int Init(PyObjectRef self, PyObjectRef args, PyObjectRef kwds) noexcept;
  static intptr_t Hash(PyObjectRef self) noexcept;
  static PyObjectRef Str(PyObjectRef self) noexcept;
  static PyObjectRef Get(PyObjectRef self, void* closure) noexcept;
  static int Set(PyObjectRef self, PyObjectRef value, void* closure) noexcept;
  static PyObjectRef CallMethod(size_t index, PyObjectRef self, PyObjectRef args, PyObjectRef kwargs) noexcept;
  bool DocumentMember(const std::string& name, std::string& text) override;
  bool Rebuild();
  PyTypeObjectLayout* TypeObject() const;

  HostInitFunction init_;  // may be null: the base type's initializer applies
  HostHashFunction hash_ = nullptr;
  PyUnaryFunction toString_ = nullptr;
  std::vector<HostProperty> properties_;
  std::vector<PyGetSetDef> getSetTable_;  // the properties as Python reads them, then the end marker
  bool lastBlockReadied_ = false;         // the library readied the last block; one it refused is used again
};
