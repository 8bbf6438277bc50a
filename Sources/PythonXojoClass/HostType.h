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
#include "HostCode/HostRegistration.h"
#include "PythonLibrary/PythonAbi.h"

// The host's functions, as Python's slots and tables would call them.
using HostInitFunction = int32_t (*)(PyObjectRef self, PyObjectRef args, PyObjectRef kwds);
using HostHashFunction = int64_t (*)(PyObjectRef self);
using HostGetter = PyObjectRef (*)(PyObjectRef self, void* closure);
using HostSetter = int32_t (*)(PyObjectRef self, PyObjectRef value, void* closure);

class HostType final : public PythonVisibleState {
 public:
  HostType(std::string name, HostInitFunction init) : name_(std::move(name)), init_(init) {}
  ~HostType() override;
  HostType(const HostType&) = delete;
  HostType& operator=(const HostType&) = delete;

  const std::string& Name() const { return name_; }
  bool IsFull() const { return methods_.size() >= kMaxHostFunctions; }

  // Only while the running interpreter has not seen the type.
  void AddFunction(std::string name, PyCFunction function, bool takesKeywords) {
    methods_.push_back({std::move(name), function, takesKeywords, {}});
  }
  void AddProperty(std::string name, HostGetter getter, HostSetter setter) {
    properties_.push_back({std::move(name), getter, setter, this, {}});
  }
  // The documentation of the method or property of this name, or of the
  // class itself for an empty name; false when it has no such member.
  bool Document(const std::string& name, std::string text);
  void SetHash(HostHashFunction hash) { hash_ = hash; }
  void SetToString(PyUnaryFunction toString) { toString_ = toString; }

  // The type object readied for the running interpreter, or null with
  // Python's error set when the library refuses it.
  PyTypeObjectLayout* Ready() noexcept;

  // The host-object slot of an instance of a host-defined type (or of a
  // Python subclass of one); null for any other object.
  static HeldObject* DataSlotOf(PyObjectRef object) noexcept;

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
  bool Rebuild();
  PyTypeObjectLayout* TypeObject() const;

  std::string name_;
  std::string documentation_;
  HostInitFunction init_;  // may be null: the base type's initializer applies
  HostHashFunction hash_ = nullptr;
  PyUnaryFunction toString_ = nullptr;
  std::vector<HostFunction> methods_;
  std::vector<HostProperty> properties_;
  std::vector<PyMethodDef> methodTable_;  // as Python calls them, then the end marker
  std::vector<PyGetSetDef> getSetTable_;
  // One per interpreter that readied the type, the last one current; never
  // freed. Each: a header pointing back here, then the type object.
  std::vector<void*> blocks_;
  bool lastBlockReadied_ = false;  // the library readied the last block; one it refused is used again
};
