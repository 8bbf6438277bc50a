// The services of the resolver, grouped by area; each file adds its own.
#pragma once

#include "Core.h"

namespace xhost::detail {

template <typename F>
void serve(EntryTable& table, const char* name, F* function) {
  table.entries[name].own = reinterpret_cast<void*>(function);
}

void addRegistrationEntries(EntryTable& table);
void addObjectEntries(EntryTable& table);
void addPropertyAndArrayEntries(EntryTable& table);
void addStringEntries(EntryTable& table);
void addRuntimeEntries(EntryTable& table);

// Resolves the member types of classes registered since the last check and
// records what cannot be resolved.
void checkPendingTypes();

}  // namespace xhost::detail
