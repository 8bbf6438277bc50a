// The functions a Xojo program hands to the plugin as Ptr: each follows the
// calling convention Python calls it with, makes a few more calls into the
// plugin from the input (re-entering it while Python runs), and answers.
// Nothing escapes them: Python cannot unwind C++ exceptions.
#include "Callbacks.h"

#include <utility>

#include "Fuzzer.h"

namespace fuzz {

namespace {

template <typename Result, typename Answer>
Result Run(std::vector<void*> borrowed, Result fallback, Answer answer) noexcept {
  Fuzzer& fuzzer = Fuzzer::instance();
  if (!fuzzer.active()) return fallback;
  try {
    fuzzer.nested(std::move(borrowed));
    return answer(fuzzer);
  } catch (...) {
    return fallback;
  }
}

void* Method(void* self, void* args) noexcept {
  return Run<void*>({self, args}, nullptr, [](Fuzzer& f) { return f.pythonResult(); });
}

// What the fuzz module's hooked values call from their protocols.
void* Reentry(void* self, void* args) noexcept {
  Fuzzer& fuzzer = Fuzzer::instance();
  if (!fuzzer.active()) return nullptr;
  try {
    fuzzer.reenter({self, args});
    return fuzzer.reentryResult();
  } catch (...) {
    return nullptr;
  }
}

// Python imports the fuzzer's module between inputs too (a __del__ run as
// the interpreter is restored).
void* ReentryCreator() noexcept {
  try {
    return Fuzzer::instance().createReentryModule();
  } catch (...) {
    return nullptr;
  }
}

int Init(void* self, void* args, void* keywords) noexcept {
  std::vector<void*> borrowed{self, args};
  if (keywords) borrowed.push_back(keywords);
  return Run<int>(std::move(borrowed), 0, [](Fuzzer& f) { return f.statusResult(); });
}

void* Getter(void* self, void*) noexcept {
  return Run<void*>({self}, nullptr, [](Fuzzer& f) { return f.pythonResult(); });
}

int Setter(void* self, void* value, void*) noexcept {
  std::vector<void*> borrowed{self};
  if (value) borrowed.push_back(value);  // null when the attribute is deleted
  return Run<int>(std::move(borrowed), 0, [](Fuzzer& f) { return f.statusResult(); });
}

intptr_t Hash(void* self) noexcept {
  return Run<intptr_t>({self}, 0, [](Fuzzer& f) { return static_cast<intptr_t>(f.integerResult()); });
}

void* ToString(void* self) noexcept {
  return Run<void*>({self}, nullptr, [](Fuzzer& f) { return f.pythonResult(); });
}

template <size_t Slot>
void* Creator() noexcept {
  return Run<void*>({}, nullptr, [](Fuzzer& f) { return f.createModule(Slot); });
}

template <size_t... Slots>
void* CreatorFor(size_t slot, std::index_sequence<Slots...>) {
  void* creators[] = {reinterpret_cast<void*>(&Creator<Slots>)...};
  return creators[slot % sizeof...(Slots)];
}

}  // namespace

void* FunctionFor(Role role, size_t slot) {
  switch (role) {
    case Role::Method:
      return reinterpret_cast<void*>(&Method);
    case Role::Init:
      return reinterpret_cast<void*>(&Init);
    case Role::Getter:
      return reinterpret_cast<void*>(&Getter);
    case Role::Setter:
      return reinterpret_cast<void*>(&Setter);
    case Role::Hash:
      return reinterpret_cast<void*>(&Hash);
    case Role::ToString:
      return reinterpret_cast<void*>(&ToString);
    case Role::Creator:
      return CreatorFor(slot, std::make_index_sequence<kCreatorSlots>());
    case Role::Reentry:
      return reinterpret_cast<void*>(&Reentry);
    case Role::ReentryCreator:
      return reinterpret_cast<void*>(&ReentryCreator);
    case Role::PythonObject:
      break;
  }
  return nullptr;
}

size_t CreatorSlotOf(const void* function) {
  for (size_t slot = 0; slot < kCreatorSlots; ++slot)
    if (FunctionFor(Role::Creator, slot) == function) return slot;
  return kCreatorSlots;
}

xhost::EventHandler HandlerFor(const Event& event) {
  return [result = event.result](const xhost::Object&, const std::vector<xhost::Value>&) -> xhost::Value {
    Fuzzer& fuzzer = Fuzzer::instance();
    try {
      fuzzer.nested({});
      return result.empty() ? xhost::Value{} : fuzzer.valueOf(result);
    } catch (...) {
      return result.empty() ? xhost::Value{} : fuzzer.zeroOf(result);
    }
  };
}

}  // namespace fuzz
