// The number of the running interpreter, the states kept for it after their owners went, and the blocks
// for Python objects that stay allocated for the process.

#include "PythonRuntime/VisibleState.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <vector>

uint64_t gCurrentInterpreter = 1;

namespace {

// States that the running interpreter saw after their owners were destroyed.
std::vector<std::unique_ptr<PythonVisibleState>>& KeptStates() {
  static auto* kept = new std::vector<std::unique_ptr<PythonVisibleState>>;  // outlives every owner
  return *kept;
}

}  // namespace

void DisposeVisibleState(std::unique_ptr<PythonVisibleState> state) noexcept {
  if (!state || !state->SeenByRunningInterpreter()) return;  // freed here
  try {
    KeptStates().push_back(std::move(state));
  } catch (const std::exception&) {
    state.release();  // out of memory: leaked rather than freed under Python
  }
}

namespace {

// Every block stays linked from here for the life of the process: memory kept
// on purpose, never lost.
struct alignas(16) StaticBlockHeader {
  StaticBlockHeader* next;
};
std::atomic<StaticBlockHeader*> gStaticBlocks{nullptr};

}  // namespace

void* AllocateStaticPythonObject(size_t size) noexcept {
  auto* header = static_cast<StaticBlockHeader*>(std::calloc(1, sizeof(StaticBlockHeader) + size));
  if (!header) return nullptr;
  header->next = gStaticBlocks.load(std::memory_order_relaxed);
  while (!gStaticBlocks.compare_exchange_weak(header->next, header, std::memory_order_release,
                                              std::memory_order_relaxed)) {
  }
  return header + 1;
}

void EndInterpreter() noexcept {
  ++gCurrentInterpreter;
  std::vector<std::unique_ptr<PythonVisibleState>> ended;
  ended.swap(KeptStates());
}
