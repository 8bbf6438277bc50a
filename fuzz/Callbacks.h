// Functions of the fuzzer that the plugin hands to Python, and the handlers
// of the events of host subclasses.
#pragma once

#include <cstddef>

#include "Catalog.h"
#include "Fuzzer.h"

namespace fuzz {

// The function of that role; creators come in kCreatorSlots copies, one per slot.
void* FunctionFor(Role role, size_t slot = 0);
// The slot of a creator function; kCreatorSlots for any other pointer.
size_t CreatorSlotOf(const void* function);
xhost::EventHandler HandlerFor(const Event& event);

}  // namespace fuzz
