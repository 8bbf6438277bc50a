// The members of HostType: the slots Python calls on an instance, which find the host function through
// its type, and the type object built anew for each interpreter.

#include "PythonXojoClass/HostType.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "PythonLibrary/PythonLoader.h"
#include "PythonValues/PythonValues.h"

namespace {

// An instance: the object header, then the one slot for a host object.
// Python subclasses add their fields after it.
struct HostInstance {
  PyObjectHeader header;
  ObjectField data;  // zero-filled by Python's allocation; may be empty
};

}  // namespace

PyTypeObjectLayout* HostType::TypeObject() const { return static_cast<PyTypeObjectLayout*>(CurrentObject()); }

HostType* HostType::OfInstance(PyObjectRef object) noexcept {
  if (!object) return nullptr;
  for (PyTypeObjectLayout* type = TypeOf(object); type; type = type->tp_base)
    if (type->tp_dealloc == &Dealloc) return static_cast<HostType*>(OwnerOf(type));
  return nullptr;
}

ObjectField* HostType::DataSlotOf(PyObjectRef object) noexcept {
  return OfInstance(object) ? &reinterpret_cast<HostInstance*>(object)->data : nullptr;
}

// ---------------------------------------------------------------------------
// What Python calls.

void HostType::Dealloc(PyObjectRef self) noexcept {
  REALobjectStruct* data = reinterpret_cast<HostInstance*>(self)->data.HandOver();
  // The instance's own type: a Python subclass frees its instances its way.
  PyTypeObjectLayout* type = TypeOf(self);
  if (type->tp_free) type->tp_free(self);
  ReleaseHostObjectForPython(data);
}

namespace {

// Python called a slot for an instance whose class is gone, or a slot the
// class never filled: nothing to call.
template <typename Failure>
Failure NoHostFunction(const char* member, Failure failure) noexcept {
  RaisePythonError(e__PyExc_SystemError, "a slot of a Xojo class (", member, ") was called without its Xojo function");
  return failure;
}

}  // namespace

int HostType::Init(PyObjectRef self, PyObjectRef args, PyObjectRef kwds) noexcept {
  HostType* owner = OfInstance(self);
  if (!owner || !owner->init_) return NoHostFunction("__init__", -1);
  const HostCallee callee{owner->Name(), "__init__"};
  return FollowErrorRule(callee, CallHostCode(callee, owner->init_, self, args, kwds));
}

intptr_t HostType::Hash(PyObjectRef self) noexcept {
  HostType* owner = OfInstance(self);
  if (!owner || !owner->hash_) return NoHostFunction<intptr_t>("__hash__", -1);
  std::optional<int64_t> hash = CallHostCode(HostCallee{owner->Name(), "__hash__"}, owner->hash_, self);
  if (!hash || PythonErrorIsSet()) return -1;
  // -1 tells Python that hashing failed: Python's own types give -2 instead.
  return *hash == -1 ? -2 : static_cast<intptr_t>(*hash);
}

PyObjectRef HostType::Str(PyObjectRef self) noexcept {
  HostType* owner = OfInstance(self);
  if (!owner || !owner->toString_) return NoHostFunction<PyObjectRef>("__str__", nullptr);
  const HostCallee callee{owner->Name(), "__str__"};
  return FollowErrorRule(callee, CallHostCode(callee, owner->toString_, self));
}

// The host's getters and setters receive a null closure: the closure that
// Python passes here is the property itself.
PyObjectRef HostType::Get(PyObjectRef self, void* closure) noexcept {
  const auto* property = static_cast<const HostProperty*>(closure);
  const HostCallee callee{property->owner->Name(), property->name};
  return FollowErrorRule(callee, CallHostCode(callee, property->getter, self, static_cast<void*>(nullptr)));
}

int HostType::Set(PyObjectRef self, PyObjectRef value, void* closure) noexcept {
  const auto* property = static_cast<const HostProperty*>(closure);
  const HostCallee callee{property->owner->Name(), property->name};
  return FollowErrorRule(callee, CallHostCode(callee, property->setter, self, value, static_cast<void*>(nullptr)));
}

PyObjectRef HostType::CallMethod(size_t index, PyObjectRef self, PyObjectRef args, PyObjectRef kwargs) noexcept {
  return CallFunction(OfInstance(self), index, "instance", self, args, kwargs);
}

bool HostType::DocumentMember(const std::string& name, std::string& text) {
  for (HostProperty& property : properties_)
    if (property.name == name) {
      property.documentation = std::move(text);
      return true;
    }
  return false;
}

// ---------------------------------------------------------------------------
// Readying.

// A type object of its own for each interpreter, zero-filled: neither the
// fields a library version adds after tp_finalize nor anything the last
// interpreter left in its type (dictionary, bases, subclasses, flags) reach
// the new one.
bool HostType::Rebuild() {
  if (HasBlock() && !lastBlockReadied_) {
    // The library refused this block: it is used again rather than another
    // one made for each retry (blocks are never freed). What the refused
    // readying put in it goes first.
    PyTypeObjectLayout* refused = TypeObject();
    for (PyObjectRef* left : {&refused->tp_dict, &refused->tp_bases, &refused->tp_mro})
      if (*left && gPythonInitialized) ReleasePythonRef(*left);
    std::memset(static_cast<void*>(refused), 0, PythonTypeObjectSize());
  } else {
    if (!NewBlock(PythonTypeObjectSize())) return false;
    lastBlockReadied_ = false;
  }

  PyMethodDef* methods = BuildMethodTable<&HostType::CallMethod>();
  getSetTable_.clear();
  for (HostProperty& property : properties_)
    getSetTable_.push_back(PyGetSetDef{property.name.c_str(), property.getter ? reinterpret_cast<void*>(&Get) : nullptr,
                                       property.setter ? reinterpret_cast<void*>(&Set) : nullptr,
                                       property.documentation.empty() ? nullptr : property.documentation.c_str(),
                                       &property});
  getSetTable_.push_back(PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr});  // sentinel

  PyTypeObjectLayout* type = TypeObject();
  type->ob_base.ob_refcnt = 1;
  type->tp_name = Name().c_str();
  type->tp_basicsize = sizeof(HostInstance);
  type->tp_dealloc = &Dealloc;
  type->tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  type->tp_doc = Documentation().c_str();
  type->tp_methods = HasFunctions() ? methods : nullptr;
  type->tp_getset = properties_.empty() ? nullptr : getSetTable_.data();
  type->tp_init = init_ ? &Init : nullptr;
  type->tp_hash = hash_ ? &Hash : nullptr;
  type->tp_str = toString_ ? &Str : nullptr;
  type->tp_new = EPyType_GenericNew;
  return true;
}

PyTypeObjectLayout* HostType::Ready() noexcept {
  if (SeenByRunningInterpreter()) return TypeObject();
  if (!HasPythonEntries(EPyType_Ready, EPyType_GenericNew)) {
    RaisePythonError(e__PyExc_SystemError, "the Python library cannot make types");
    return nullptr;
  }
  if (!BuildForPython(Name(), [this] { return Rebuild(); })) return nullptr;
  PyTypeObjectLayout* type = TypeObject();
  if (EPyType_Ready(reinterpret_cast<PyTypeObjectHeader*>(type)) < 0) return nullptr;
  lastBlockReadied_ = true;
  MarkSeen();
  return type;
}
