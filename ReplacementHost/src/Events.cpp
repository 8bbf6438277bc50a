#include "Events.h"

#include <cstring>
#include <map>
#include <memory>

#include "Core.h"
#include "Invoker.h"

namespace xhost::detail {
namespace {

struct EventTarget {
  const ClassInfo* implementer;  // the host subclass whose handler runs; never null
  const Member* event;           // the event as its class declared it; never null
  const PreparedCall* call;      // the event's signature; owned by the member
  std::string handlerKey;        // the event's name as the handlers are keyed: lowercase
};

// Hands what a handler threw to the host call that led into the plugin, to be
// raised there once the plugin returns.
void pendToCaller(const std::string& eventName) {
  std::vector<CallFrame>& frames = core().frames;
  try {
    throw;
  } catch (XojoException& raised) {
    if (frames.empty()) {
      reportProblem("event " + eventName + " raised " + raised.exception.className() +
                    " while no host call was active");
      return;
    }
    if (frames.back().exception) {
      reportProblem("event " + eventName + " raised a second exception before the first was delivered");
      return;
    }
    frames.back().exception = raised.exception.release();
  } catch (const std::exception& error) {
    if (frames.empty() || frames.back().hostFailure) {
      reportProblem("event " + eventName + " handler failed: " + error.what());
      return;
    }
    frames.back().hostFailure = std::current_exception();
  } catch (...) {
    reportProblem("event " + eventName + " handler threw a non-standard exception");
  }
}

void storeResult(const XType& type, const Value& value, void* resultWord, const std::string& eventName) {
  if (type.kind == TypeKind::Void) return;
  if (!argumentRank(value, type)) {
    reportProblem("event " + eventName + " handler returned " + typeNameOf(value) + " for a " + type.text + " result");
    return;
  }
  Slot slot = argumentSlot(value, type);
  if (type.kind == TypeKind::String) core().strings.lock(slot.pointer, "event result");
  if (type.kind == TypeKind::Object) core().objects.lock(slot.pointer, "event result");
  // Integer results narrower than a register are returned widened.
  ffi_sarg widened = type.kind == TypeKind::Int32 ? slot.int32 : type.kind == TypeKind::Boolean ? slot.boolean : 0;
  if (type.kind == TypeKind::Int32 || type.kind == TypeKind::Boolean)
    std::memcpy(resultWord, &widened, sizeof widened);
  else
    std::memcpy(resultWord, &slot, sizeof slot);
}

// The instance and the arguments reach a handler borrowed, as the host hands
// every argument: nothing keeps the instance alive but its owners, and a
// handler's own copies take their own references.
// The argument lists are kept per thread for the next event (an event raised
// while a handler runs takes another).
struct BorrowedArguments {
  Value self;
  std::vector<Value> args;
  BorrowedArguments() {
    if (spareLists().empty()) return;
    args = std::move(spareLists().back());
    spareLists().pop_back();
  }
  ~BorrowedArguments() {
    forgetBorrowed(self);
    for (Value& arg : args) forgetBorrowed(arg);
    args.clear();
    try {
      spareLists().push_back(std::move(args));
    } catch (const std::bad_alloc&) {
    }
  }
  static std::vector<std::vector<Value>>& spareLists() {
    thread_local std::vector<std::vector<Value>> lists;
    return lists;
  }
};

void runHandler(ffi_cif*, void* resultWord, void** words, void* userData) noexcept {
  const EventTarget& target = *static_cast<const EventTarget*>(userData);
  if (target.call->result.kind != TypeKind::Void) std::memset(resultWord, 0, sizeof(Slot));
  const std::string& eventName = target.event->declaration.name;
  try {
    auto handler = target.implementer->eventHandlers.find(target.handlerKey);
    if (handler == target.implementer->eventHandlers.end()) return;  // the subclass was redefined without it
    static const XType kInstanceType{TypeKind::Object, nullptr, "Object"};
    BorrowedArguments borrowed;
    borrowed.self = argumentValue(kInstanceType, words[0]);
    for (size_t i = 0; i < target.call->params.size(); ++i)
      borrowed.args.push_back(argumentValue(target.call->params[i], words[i + 1]));
    Value result = handler->second(std::get<Object>(borrowed.self), borrowed.args);
    storeResult(target.call->result, result, resultWord, eventName);
  } catch (...) {
    try {
      pendToCaller(eventName);
    } catch (...) {
    }
  }
}

struct MadeFunction {
  REALproc function;
  std::unique_ptr<EventTarget> target;  // the closure's user data
};

}  // namespace

REALproc eventFunction(const ClassInfo& implementer, Member& event) {
  // Never destroyed: the plugin may keep the functions for the whole process.
  static auto* made = new std::map<std::pair<const ClassInfo*, const Member*>, MadeFunction>;
  auto key = std::make_pair(&implementer, static_cast<const Member*>(&event));
  if (auto it = made->find(key); it != made->end()) return it->second.function;
  const PreparedCall& call = callFormOf(event);
  void* code = nullptr;
  auto* closure = static_cast<ffi_closure*>(ffi_closure_alloc(sizeof(ffi_closure), &code));
  if (!closure) throw HostError("event " + event.text + ": cannot allocate a libffi closure");
  auto target =
      std::make_unique<EventTarget>(EventTarget{&implementer, &event, &call, lowercase(event.declaration.name)});
  if (ffi_prep_closure_loc(closure, const_cast<ffi_cif*>(&call.cif), runHandler, target.get(), code) != FFI_OK) {
    ffi_closure_free(closure);
    throw HostError("event " + event.text + ": libffi cannot prepare the closure");
  }
  REALproc function = reinterpret_cast<REALproc>(code);
  (*made)[key] = MadeFunction{function, std::move(target)};
  return function;
}

}  // namespace xhost::detail
