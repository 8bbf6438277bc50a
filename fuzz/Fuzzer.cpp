// The sequence of calls: generic calls of any member the records name, and a
// few steps that build meaningful states (Python started, the fuzz module
// imported, a host module registered) so the generic calls reach further.
#include "Fuzzer.h"

#include <cstddef>
#include <cstdio>
#include <utility>

#include "Callbacks.h"

namespace fuzz {

using xhost::Value;

namespace {

constexpr size_t kPoolSize = 48;

const char* const kFuzzFunctions[] = {"echo", "args", "say",  "shout", "make",   "fail", "keep",
                                      "drop", "call", "host", "loop",  "hooked", "odd",  "reenter"};

// What reads the pending error, and what tells whether there is one.
const char* const kErrorReaders[] = {"GetErrorTypeName", "GetErrorTraceback", "GetError", "ErrorOccurred"};

// Takes element `index` out of a pool before erasing it: a wrapper's last
// reference going runs Python code (a __del__), which may call back into the
// fuzzer, and the pool must be whole by then.
template <typename Handle>
Handle TakeOut(std::vector<Handle>& pool, size_t index) {
  Handle taken = std::exchange(pool[index], Handle());
  pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(index));
  return taken;
}

}  // namespace

Fuzzer& Fuzzer::instance() {
  static Fuzzer* fuzzer = new Fuzzer;  // callbacks may run while the process exits
  return *fuzzer;
}

void Fuzzer::step() {
  FuzzedDataProvider& in = *input_;
  const int choice = in.ConsumeIntegralInRange(0, 99);
  if (choice < 4)
    callNamed("Python3Engine", "Init");
  else if (choice < 5)
    callNamed("Python3Engine", "Finalize");
  else if (choice < 11)
    importFuzzModule();
  else if (choice < 23)
    callPython(nullptr);
  else if (choice < 27)
    buildHostModule();
  else if (choice < 28)
    host_.runBackgroundTasks();  // the run loop turns: the plugin's tick, which may hand the lock over
  else if (choice < 29)
    dropOne();
  else if (choice < 37)
    hookedValue();
  else if (choice < 42)
    oddError();
  else if (choice < 56)
    callOnPooled();
  else
    callAny();
}

void Fuzzer::nested(std::vector<void*> borrowed) {
  if (!active() || depth_ >= kMaxDepth) return;
  ++counts_.callbacks;
  Deeper deeper(depth_);
  borrowed_.push_back(std::move(borrowed));
  try {
    for (int n = input_->ConsumeIntegralInRange(0, 3); n > 0 && input_->remaining_bytes() > 0; --n) step();
  } catch (...) {
    borrowed_.pop_back();
    throw;
  }
  borrowed_.pop_back();
}

void Fuzzer::callAny() {
  const std::vector<Callable>& callables = catalog_.callables();
  callMember(callables[input_->ConsumeIntegralInRange<size_t>(0, callables.size() - 1)]);
}

void Fuzzer::callNamed(const std::string& owner, const std::string& name) {
  std::vector<const Callable*> overloads;
  for (const Callable& callable : catalog_.callables())
    if (callable.form == Form::Call && Lowercase(callable.owner) == Lowercase(owner) &&
        Lowercase(callable.name) == Lowercase(name))
      overloads.push_back(&callable);
  if (!overloads.empty()) callMember(*overloads[input_->ConsumeIntegralInRange<size_t>(0, overloads.size() - 1)]);
}

void Fuzzer::callMember(const Callable& callable, xhost::Object self) {
  try {
    if (callable.form == Form::Construct) {
      keepObject(construct(callable));
      return;
    }
    MemberCall call;
    call.callable = &callable;
    if (!callable.shared) {
      call.self = self.isNil() ? receiver(callable.owner) : std::move(self);
      if (call.self.isNil()) return;
    }
    call.args = argumentsFor(callable);
    const bool wasRunning = python_.running();
    keep(track(call));
    if (!wasRunning && python_.running() && depth_ == 0) rememberInterpreter();
  } catch (const xhost::XojoException&) {
    ++counts_.raised;  // the plugin raised an exception into the program: a normal outcome
  } catch (const xhost::HostError&) {
    ++counts_.refused;  // the fuzzer's own request did not fit (an ambiguous Nil, a missing constructor)
  }
}

Value Fuzzer::track(MemberCall& call) {
  calls_.push_back(&call);
  struct Pop {
    std::vector<MemberCall*>& calls;
    ~Pop() { calls.pop_back(); }
  } pop{calls_};
  return invoke(call);
}

Value Fuzzer::callFixed(const std::string& owner, const std::string& name, xhost::Object self,
                        std::vector<Value> args) {
  for (const Callable& callable : catalog_.callables())
    if (callable.form == Form::Call && callable.params.size() == args.size() &&
        Lowercase(callable.owner) == Lowercase(owner) && Lowercase(callable.name) == Lowercase(name)) {
      MemberCall call{&callable, std::move(self), std::move(args)};
      return track(call);
    }
  return {};
}

// A member of the object's class (or an ancestor's) on that object: calls
// that reach further than any member on any object.
void Fuzzer::callOn(xhost::Object self) {
  if (self.isNil()) return;
  const std::string className = self.className();
  std::vector<const Callable*> fitting;
  for (const Callable& callable : catalog_.callables())
    if (!callable.shared && callable.form != Form::Construct && catalog_.isA(className, callable.owner))
      fitting.push_back(&callable);
  if (!fitting.empty())
    callMember(*fitting[input_->ConsumeIntegralInRange<size_t>(0, fitting.size() - 1)], std::move(self));
}

void Fuzzer::callOnPooled() {
  if (objects_.empty()) return callAny();
  callOn(objects_[input_->ConsumeIntegralInRange<size_t>(0, objects_.size() - 1)]);
}

Value Fuzzer::invoke(const MemberCall& call) {
  const Callable& callable = *call.callable;
  const std::vector<Value>& args = call.args;
  // A module creator returns the module of the call that registered it.
  for (const Value& arg : args)
    if (const auto* pointer = std::get_if<xhost::Ptr>(&arg))
      if (const size_t slot = CreatorSlotOf(pointer->value); slot < kCreatorSlots)
        for (const Value& other : args)
          if (const auto* module = std::get_if<xhost::Object>(&other)) creators_[slot] = *module;
  ++counts_.calls;
  if (trace_) {
    std::string text;
    for (const Value& arg : args) text += (text.empty() ? "" : ", ") + xhost::describe(arg);
    std::fprintf(stderr, "%*s%s.%s(%s)%s\n", depth_ * 2, "", callable.owner.c_str(), callable.name.c_str(),
                 text.c_str(), callable.form == Form::Assign ? " [assign]" : "");
  }
  // References handed out before the interpreter stops die with it.
  if (Lowercase(callable.name) == "finalize") releasePointers();
  // Outside callbacks, half the calls are made as compiled code makes them,
  // with nothing but the fuzzer's references keeping the arguments alive.
  Value result;
  if (depth_ == 0 && input_->ConsumeBool() && invokeDirect(call, result)) return result;
  const xhost::Object& self = call.self;
  switch (callable.form) {
    case Form::Property:
      return host_.getProperty(self, callable.name);
    case Form::Assign: {
      std::vector<Value> leading(args.begin(), args.end() - (args.empty() ? 0 : 1));
      const Value value = args.empty() ? Value{} : args.back();
      if (callable.shared)
        host_.assignShared(callable.owner, callable.name, leading, value);
      else
        host_.assign(self, callable.name, leading, value);
      return {};
    }
    default:
      return callable.shared ? host_.callShared(callable.owner, callable.name, args)
                             : host_.call(self, callable.name, args);
  }
}

xhost::Object Fuzzer::construct(const Callable& constructor) {
  std::vector<Value> args = argumentsFor(constructor);
  if (trace_)
    std::fprintf(stderr, "%*sNew %s (%zu arguments)\n", depth_ * 2, "", constructor.owner.c_str(), args.size());
  return host_.newObject(constructor.owner, args);
}

xhost::Object Fuzzer::receiver(const std::string& className) {
  std::vector<const xhost::Object*> fitting;
  for (const xhost::Object& candidate : objects_)
    if (catalog_.isA(candidate.className(), className)) fitting.push_back(&candidate);
  if (!fitting.empty() && input_->ConsumeIntegralInRange(0, 5))
    return *fitting[input_->ConsumeIntegralInRange<size_t>(0, fitting.size() - 1)];
  xhost::Object made = fresh(className);
  keepObject(made);
  return made;
}

void Fuzzer::keep(const Value& result) {
  if (const auto* object = std::get_if<xhost::Object>(&result)) {
    keepObject(*object);
  } else if (const auto* text = std::get_if<xhost::String>(&result)) {
    if (strings_.size() >= kPoolSize) strings_.erase(strings_.begin());
    strings_.push_back(*text);
  } else if (const auto* pointer = std::get_if<xhost::Ptr>(&result); pointer && pointer->value) {
    // Members that return a Ptr hand out a new reference.
    if (python_.running()) owned_.push_back(pointer->value);
  }
}

void Fuzzer::keepObject(xhost::Object object) {
  if (object.isNil()) return;
  xhost::Object evicted;
  if (objects_.size() >= kPoolSize)
    evicted = TakeOut(objects_, input_->ConsumeIntegralInRange<size_t>(0, kPoolSize - 1));
  objects_.push_back(std::move(object));
}

void Fuzzer::dropOne() {
  if (!objects_.empty()) {
    TakeOut(objects_, input_->ConsumeIntegralInRange<size_t>(0, objects_.size() - 1));
  } else if (!owned_.empty() && python_.running()) {
    void* object = owned_.back();
    owned_.pop_back();
    python_.release(object);
  }
}

void Fuzzer::importFuzzModule() {
  if (trace_) std::fprintf(stderr, "%*s[import fuzzmod]\n", depth_ * 2, "");
  try {
    host_.callShared("Python3Engine", "AddSearchPath", {host_.newFolderItem(fuzzModuleFolder_)});
    keep(host_.callShared("Python3Engine", "GetModule", {host_.newString("fuzzmod")}));
  } catch (const std::exception&) {
  }
}

xhost::Object Fuzzer::fuzzModule() {
  xhost::Object module = xhost::asObject(host_.callShared("Python3Engine", "GetModule", {host_.newString("fuzzmod")}));
  if (module.isNil()) {
    host_.callShared("Python3Engine", "ClearError");
    host_.callShared("Python3Engine", "AddSearchPath", {host_.newFolderItem(fuzzModuleFolder_)});
    module = xhost::asObject(host_.callShared("Python3Engine", "GetModule", {host_.newString("fuzzmod")}));
  }
  return module;
}

// A function of the fuzz module called with a tuple of generated values.
void Fuzzer::callPython(const char* chosen) {
  FuzzedDataProvider& in = *input_;
  try {
    xhost::Object module = fuzzModule();
    if (module.isNil()) return;
    const char* name =
        chosen ? chosen : kFuzzFunctions[in.ConsumeIntegralInRange<size_t>(0, std::size(kFuzzFunctions) - 1)];
    if (trace_) std::fprintf(stderr, "%*s[fuzzmod.%s]\n", depth_ * 2, "", name);
    xhost::Object function = xhost::asObject(host_.call(module, "GetFunction", {host_.newString(name)}));
    keepObject(function);
    if (function.isNil()) return;
    const int64_t count = in.ConsumeIntegralInRange(chosen ? 2 : 0, 4);
    xhost::Object tuple = host_.newObject("Python3Parameters", {count});
    std::vector<const Callable*> setters;
    for (const Callable& callable : catalog_.callables())
      if (callable.form == Form::Assign && !callable.shared && catalog_.isA("Python3Parameters", callable.owner) &&
          callable.params.size() == 2)
        setters.push_back(&callable);
    int64_t first = 0;
    if (std::string(name) == "host" && count >= 2) {
      // A function or class of a host module: Python calls back into the program.
      constexpr const char* kMembers[] = {"f0", "f1", "f2", "FuzzType"};
      host_.assign(tuple, "StringValue", {int64_t{0}},
                   host_.newString("fuzzhost" + std::to_string(in.ConsumeIntegralInRange(0, 2))));
      host_.assign(tuple, "StringValue", {int64_t{1}}, host_.newString(kMembers[in.ConsumeIntegralInRange(0, 3)]));
      first = 2;
    }
    for (int64_t i = first; i < count && !setters.empty(); ++i) {
      const Callable& setter = *setters[in.ConsumeIntegralInRange<size_t>(0, setters.size() - 1)];
      // The first item often names what the function works on.
      const Value index = in.ConsumeIntegralInRange(0, 7) ? Value{i} : Value{integer()};
      try {
        host_.assign(tuple, setter.name, {index}, argumentFor(setter, setter.params.back()));
      } catch (const xhost::HostError&) {
      }
    }
    keepObject(tuple);
    keep(callFixed("Python3Function", "Invoke", std::move(function), {std::move(tuple)}));
  } catch (const xhost::XojoException&) {
  } catch (const xhost::HostError&) {
  }
}

// A function of the fuzz module called with these integers; its result, or Nil.
Value Fuzzer::invokeFuzz(const char* name, const std::vector<int64_t>& items) {
  xhost::Object module = fuzzModule();
  if (module.isNil()) return xhost::Nil{};
  if (trace_) std::fprintf(stderr, "%*s[fuzzmod.%s]\n", depth_ * 2, "", name);
  xhost::Object function = xhost::asObject(host_.call(module, "GetFunction", {host_.newString(name)}));
  if (function.isNil()) return xhost::Nil{};
  xhost::Object tuple = host_.newObject("Python3Parameters", {static_cast<int64_t>(items.size())});
  for (size_t i = 0; i < items.size(); ++i)
    host_.assign(tuple, "Int64Value", {static_cast<int64_t>(i)}, xhost::Int64{items[i]});
  keepObject(function);
  keepObject(tuple);
  return callFixed("Python3Function", "Invoke", std::move(function), {std::move(tuple)});
}

// A value of the fuzz module whose protocols call the host back (a list to
// sort, a dict of colliding keys, an int-like, an odd exception), as a
// Python3Result, a Python3Entity and the container wrappers sharing it; then,
// mostly, a member of one of them. Members given it as an argument come from
// the pool.
void Fuzzer::hookedValue() {
  FuzzedDataProvider& in = *input_;
  const int64_t kind = in.ConsumeIntegralInRange(0, 15);
  const int64_t mode = in.ConsumeIntegralInRange(0, 7);
  try {
    const Value made = invokeFuzz("hooked", {kind, mode});
    keep(made);
    const auto* result = std::get_if<xhost::Object>(&made);
    if (!result || result->isNil()) return;
    xhost::Object target = *result;
    if (void* pointer = xhost::asPtr(host_.call(*result, "GetPtr"))) {
      owned_.push_back(pointer);
      xhost::Object entity = xhost::asObject(host_.callShared("Python3Entity", "FromPtr", {xhost::Ptr{pointer}}));
      keepObject(entity);
      if (!entity.isNil()) target = entity;
      constexpr const char* kViews[] = {"ListValue", "DictionaryValue", "TupleValue"};
      const size_t view = in.ConsumeIntegralInRange<size_t>(0, std::size(kViews));
      if (!entity.isNil() && view < std::size(kViews)) {
        xhost::Object shared = xhost::asObject(host_.getProperty(entity, kViews[view]));
        keepObject(shared);
        if (!shared.isNil()) target = shared;
      }
    }
    if (in.ConsumeIntegralInRange(0, 3)) callOn(std::move(target));
  } catch (const xhost::XojoException&) {
  } catch (const xhost::HostError&) {
  }
}

// An exception of a class whose __module__ or __qualname__ is no str (or
// absent, or computed by a metaclass that may call the host), raised by
// fuzzmod and read by the error readers.
void Fuzzer::oddError() {
  FuzzedDataProvider& in = *input_;
  const int64_t kind = in.ConsumeIntegralInRange<int64_t>(0, 127);
  try {
    if (in.ConsumeBool()) {
      invokeFuzz("odd", {kind});
    } else if (!fuzzModule().isNil()) {
      const std::string number = std::to_string(kind);
      if (in.ConsumeBool())
        callFixed("Python3Engine", "Execute", {},
                  {host_.newString("import fuzzmod\nraise fuzzmod.odd_error(" + number + ")\n")});
      else
        keep(
            callFixed("Python3Engine", "Evaluate", {}, {host_.newString("__import__('fuzzmod').odd(" + number + ")")}));
    }
  } catch (const xhost::XojoException&) {
  } catch (const xhost::HostError&) {
  }
  for (int n = in.ConsumeIntegralInRange(1, 3); n > 0; --n)
    callNamed("Python3Engine", kErrorReaders[in.ConsumeIntegralInRange<size_t>(0, std::size(kErrorReaders) - 1)]);
}

// A host module with functions and a class, registered with a creator: what
// a program does before Init so that Python can call its functions.
void Fuzzer::buildHostModule() {
  FuzzedDataProvider& in = *input_;
  const size_t slot = in.ConsumeIntegralInRange<size_t>(0, kCreatorSlots - 1);
  if (trace_) std::fprintf(stderr, "%*s[host module in slot %zu]\n", depth_ * 2, "", slot);
  auto name = [&](const char* prefix) {
    return host_.newString(prefix + std::to_string(in.ConsumeIntegralInRange(0, 2)));
  };
  try {
    // Modules are registered before Python starts.
    if (python_.running() && in.ConsumeBool()) callNamed("Python3Engine", "Finalize");
    xhost::Object module = host_.newObject("Python3XojoModule", {name("fuzzhost")});
    keepObject(module);
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
      host_.call(module, "RegisterFunction",
                 {name("f"), xhost::Ptr{FunctionFor(in.ConsumeIntegralInRange(0, 2) ? Role::Method : Role::Reentry)}});
    if (in.ConsumeBool()) {
      xhost::Object type =
          host_.newObject("Python3XojoClass", {host_.newString("FuzzType"), xhost::Ptr{FunctionFor(Role::Init)}});
      keepObject(type);
      host_.call(type, "RegisterFunction", {name("f"), xhost::Ptr{FunctionFor(Role::Method)}});
      host_.call(type, "RegisterGetterSetter",
                 {name("p"), xhost::Ptr{FunctionFor(Role::Getter)},
                  xhost::Ptr{in.ConsumeBool() ? FunctionFor(Role::Setter) : nullptr}});
      if (in.ConsumeBool()) host_.call(type, "SetHashFunction", {xhost::Ptr{FunctionFor(Role::Hash)}});
      if (in.ConsumeBool()) host_.call(type, "SetToStringFunction", {xhost::Ptr{FunctionFor(Role::ToString)}});
      host_.call(module, "AddClass", {type});
    }
    creators_[slot] = module;
    host_.callShared("Python3Engine", "RegisterXojoModule", {module, xhost::Ptr{FunctionFor(Role::Creator, slot)}});
    if (in.ConsumeBool()) {
      callNamed("Python3Engine", "Init");
      callPython("host");
    }
  } catch (const xhost::XojoException&) {
  } catch (const xhost::HostError&) {
  }
}

void* Fuzzer::functionPointer(Role role) {
  // A quarter of the functions handed over as methods re-enter the member in progress.
  if (role == Role::Method && !input_->ConsumeIntegralInRange(0, 3)) role = Role::Reentry;
  return FunctionFor(role, input_->ConsumeIntegralInRange<size_t>(0, kCreatorSlots - 1));
}

void* Fuzzer::pythonResult() {
  FuzzedDataProvider& in = *input_;
  switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
    case 1:
      if (!owned_.empty()) {  // its reference goes to Python
        void* result = owned_.back();
        owned_.pop_back();
        return result;
      }
      [[fallthrough]];
    case 2:
      if (!objects_.empty()) {
        try {
          const xhost::Object& object = objects_[in.ConsumeIntegralInRange<size_t>(0, objects_.size() - 1)];
          return xhost::asPtr(host_.call(object, "GetPtr"));
        } catch (const std::exception&) {
        }
      }
      return nullptr;
    case 3:
      callNamed("Python3Engine", "SetError");
      return nullptr;
    default:
      return nullptr;
  }
}

int32_t Fuzzer::statusResult() {
  switch (input_->ConsumeIntegralInRange(0, 3)) {
    case 0:
      callNamed("Python3Engine", "SetError");
      return -1;
    case 1:
      return -1;
    default:
      return 0;
  }
}

int64_t Fuzzer::integerResult() { return integer(); }

void* Fuzzer::createModule(size_t slot) {
  try {
    if (slot < kCreatorSlots && !creators_[slot].isNil())
      return xhost::asPtr(host_.call(creators_[slot], "ModuleCreateProc"));
    host_.callShared("Python3Engine", "SetError", {int64_t{6}, host_.newString("no module for this creator")});
  } catch (const std::exception&) {
  }
  return nullptr;
}

Value Fuzzer::zeroOf(const std::string& type) {
  const std::string t = Lowercase(type);
  if (t == "boolean") return false;
  if (t == "string") return xhost::String();
  if (t == "double" || t == "single") return 0.0;
  if (t == "int32") return xhost::Int32{0};
  if (t == "uint64") return xhost::UInt64{0};
  if (t == "ptr") return xhost::Ptr{nullptr};
  if (t == "integer" || t == "int64" || t.find('.') != std::string::npos) return int64_t{0};
  return xhost::Nil{};
}

}  // namespace fuzz
