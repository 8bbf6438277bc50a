// What a host module and a host-defined type hold alike: a name, a
// documentation, the host functions Python calls by their index in the method
// table, and one block of memory per interpreter for the Python object that
// points into it (a module definition, a type object). HostModule adds its
// values, HostType its properties and slots.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "HostCode/HostCalls.h"
#include "PythonLibrary/PythonAbi.h"
#include "PythonRuntime/VisibleState.h"

class HostFunctionTable : public PythonVisibleState {
 public:
  explicit HostFunctionTable(std::string name) : name_(std::move(name)) {}
  ~HostFunctionTable() override;
  HostFunctionTable(const HostFunctionTable&) = delete;
  HostFunctionTable& operator=(const HostFunctionTable&) = delete;

  const std::string& Name() const { return name_; }
  bool IsFull() const { return functions_.size() >= kMaxHostFunctions; }
  // Only while the running interpreter has not seen the table.
  void AddFunction(std::string name, PyCFunction function, bool takesKeywords) {
    functions_.push_back({std::move(name), function, takesKeywords, {}});
  }
  // The documentation of the function (or other member) of this name, or of
  // the module or class itself for an empty name; false when it has no such
  // member.
  bool Document(const std::string& name, std::string text);

 protected:
  // The documentation of a member other than a function; false when there
  // is none of this name.
  virtual bool DocumentMember(const std::string& /*name*/, std::string& /*text*/) { return false; }
  const std::string& Documentation() const { return documentation_; }
  bool HasFunctions() const { return !functions_.empty(); }

  // Python's entry for function `index` of `table`, found from the module or
  // instance Python called it with (`table` null when it is gone, `caller`
  // then naming what was called without it); `kwargs` may be null.
  // Inline: every call of a host function passes here.
  __attribute__((always_inline)) static PyObjectRef CallFunction(const HostFunctionTable* table, size_t index,
                                                                 std::string_view caller, PyObjectRef self,
                                                                 PyObjectRef args, PyObjectRef kwargs) noexcept {
    if (!table || index >= table->functions_.size()) return CallHostFunction(caller, nullptr, self, args, kwargs);
    return CallHostFunction(table->name_, &table->functions_[index], self, args, kwargs);
  }

  // The method table for the interpreter about to read it, through the entry
  // functions of `Dispatch` (one per index), then the end marker; valid until
  // the next call.
  template <auto Dispatch>
  PyMethodDef* BuildMethodTable() {
    static constexpr auto kEntries = IndexedEntries<Dispatch>::Table(std::make_index_sequence<kMaxHostFunctions>());
    return BuildMethodTable(kEntries.data());
  }

  // A new zero-filled block for one interpreter, whose Python object of
  // `objectSize` bytes becomes the current one; false when memory is short.
  // Blocks are never freed: Python may read them past Finalize.
  bool NewBlock(size_t objectSize);
  bool HasBlock() const { return !blocks_.empty(); }
  // The Python object of the last block; only when HasBlock().
  void* CurrentObject() const;
  // The table whose block holds the Python object `object`; null once the
  // table is gone.
  static HostFunctionTable* OwnerOf(const void* object) noexcept;

 private:
  PyMethodDef* BuildMethodTable(const PyCFunctionWithKeywords* entries);

  std::string name_;
  std::string documentation_;  // the module's or class's __doc__
  std::vector<HostFunction> functions_;
  std::vector<PyMethodDef> methodTable_;  // the functions as Python calls them, then the end marker
  // One per interpreter, the last one current; never freed. Each: a header
  // pointing back here (null once the table is gone), then the Python object.
  std::vector<void*> blocks_;
};
