// The members of HostFunctionTable, and the header in front of each Python object it allocates, through
// which an entry Python calls finds its table.

#include "HostCode/HostFunctionTable.h"

namespace {

// In front of every Python object of a table, so that an entry Python calls
// can find the table from the object.
struct BlockHeader {
  HostFunctionTable* owner;
  void* unused;  // keeps the object 16-byte aligned
};
static_assert(sizeof(BlockHeader) == 16, "Python objects start 16-byte aligned");

}  // namespace

HostFunctionTable::~HostFunctionTable() {
  for (void* block : blocks_) static_cast<BlockHeader*>(block)->owner = nullptr;
}

bool HostFunctionTable::Document(const std::string& name, std::string text) {
  if (name.empty()) {
    documentation_ = std::move(text);
    return true;
  }
  for (HostFunction& function : functions_)
    if (function.name == name) {
      function.documentation = std::move(text);
      return true;
    }
  return DocumentMember(name, text);
}

PyMethodDef* HostFunctionTable::BuildMethodTable(const PyCFunctionWithKeywords* entries) {
  methodTable_.clear();
  methodTable_.reserve(functions_.size() + 1);
  for (size_t i = 0; i < functions_.size(); ++i) methodTable_.push_back(HostMethodDef(functions_[i], entries[i]));
  methodTable_.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});  // sentinel
  return methodTable_.data();
}

bool HostFunctionTable::NewBlock(size_t objectSize) {
  blocks_.reserve(blocks_.size() + 1);
  void* block = AllocateStaticPythonObject(sizeof(BlockHeader) + objectSize);
  if (!block) return false;
  blocks_.push_back(block);
  static_cast<BlockHeader*>(block)->owner = this;
  return true;
}

void* HostFunctionTable::CurrentObject() const { return static_cast<char*>(blocks_.back()) + sizeof(BlockHeader); }

HostFunctionTable* HostFunctionTable::OwnerOf(const void* object) noexcept {
  return reinterpret_cast<const BlockHeader*>(static_cast<const char*>(object) - sizeof(BlockHeader))->owner;
}
