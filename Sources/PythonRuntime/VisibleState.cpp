// The number of the running interpreter, the states kept for it after their owners went, and the blocks
// for Python objects that stay allocated for the process.

#include "PythonRuntime/VisibleState.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <vector>

namespace {

uint64_t currentInterpreter = 1;

// States that the running interpreter saw after their owners were destroyed.
std::vector<std::unique_ptr<PythonVisibleState>>& keptStates() {
  static auto* kept = new std::vector<std::unique_ptr<PythonVisibleState>>;  // outlives every owner
  return *kept;
}

}  // namespace

uint64_t CurrentInterpreter() noexcept { return currentInterpreter; }

void DisposeVisibleState(std::unique_ptr<PythonVisibleState> state) noexcept {
  if (!state || !state->SeenByRunningInterpreter()) return;  // freed here
  try {
    keptStates().push_back(std::move(state));
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
std::atomic<StaticBlockHeader*> staticBlocks{nullptr};

}  // namespace

void* AllocateStaticPythonObject(size_t size) noexcept {
  auto* header = static_cast<StaticBlockHeader*>(std::calloc(1, sizeof(StaticBlockHeader) + size));
  if (!header) return nullptr;
  header->next = staticBlocks.load(std::memory_order_relaxed);
  while (
      !staticBlocks.compare_exchange_weak(header->next, header, std::memory_order_release, std::memory_order_relaxed)) {
  }
  return header + 1;
}

void EndInterpreter() noexcept {
  ++currentInterpreter;
  std::vector<std::unique_ptr<PythonVisibleState>> ended;
  ended.swap(keptStates());
}
