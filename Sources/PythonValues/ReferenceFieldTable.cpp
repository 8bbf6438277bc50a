// The table's growth, and the one table of the process.
#include "PythonValues/ReferenceFieldTable.h"

#include <new>

ReferenceFieldTable gReferenceFields;

bool ReferenceFieldTable::Grow() noexcept {
  const size_t capacity = capacity_ ? capacity_ * 2 : kFirstCapacity;
  auto* slots = new (std::nothrow) ReferenceField*[capacity]();
  if (!slots) return false;
  ReferenceField** old = slots_;
  const size_t oldCapacity = capacity_;
  slots_ = slots;
  capacity_ = capacity;
  shift_ = 64 - __builtin_ctzll(capacity);
  count_ = 0;
  for (size_t i = 0; i < oldCapacity; ++i)
    if (old[i]) Insert(old[i]);
  delete[] old;
  return true;
}
