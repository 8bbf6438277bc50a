// The public face: loading, resolver control, calls by declaration and host values.
#include "xhost/Host.h"

#include <dlfcn.h>

#include <thread>

#include "Builtins.h"
#include "Calls.h"
#include "Core.h"
#include "HostEntries.h"
#include "Runtime.h"

namespace xhost {

using namespace detail;

struct Host::State {
  Core* core;  // the process-wide state; never null, never destroyed
};

namespace {

const ClassInfo& classOfLive(const Object& self, const std::string& what) {
  if (self.isNil()) throw HostError(what + ": Nil object");
  ObjectRecord* record = core().objects.find(self.get());
  if (!record) throw HostError(what + ": unknown object handle");
  if (record->life == ObjectRecord::Life::Dead) throw HostError(what + ": dead " + record->cls->name);
  return *record->cls;
}

const ClassInfo& namedClass(const std::string& name, const std::string& what) {
  const ClassInfo* cls = core().classes.find(name);
  if (!cls) throw HostError(what + ": no class or module named " + name);
  return *cls;
}

Value callMethod(const ClassInfo& cls, REALobjectStruct* self, const std::string& method, bool shared, bool assign,
                 const std::vector<Value>& args) {
  std::string what = cls.name + "." + method;
  if (sameName(method, "Constructor")) throw HostError(what + ": constructors are called by newObject");
  std::vector<Candidate> candidates = methodCandidates(cls, method, shared, assign);
  if (candidates.empty())
    throw HostError(what + ": no " + (shared ? "shared " : "") + (assign ? "assignable " : "") + "method of that name");
  return invokeChosen(chooseOverload(candidates, args, what), self, what);
}

std::vector<Value> withValue(std::vector<Value> args, const Value& value) {
  args.push_back(value);
  return args;
}

}  // namespace

Signature parseSignature(std::string_view declaration) {
  Declaration parsed;
  try {
    parsed = parseDeclaration(declaration);
  } catch (const DeclarationError& error) {
    throw HostError(error.what());
  }
  Signature signature{parsed.name, {}, parsed.resultType};
  for (const Parameter& p : parsed.params)
    signature.params.push_back({p.name, p.type, p.assigns, p.defaultValue.has_value() || p.optional});
  return signature;
}

Host& Host::instance() {
  static Host* host = new Host;  // never destroyed, like the state it fronts
  return *host;
}

Host::Host() : state_(new State{&core()}) {}

void Host::loadPlugin(const std::string& path) {
  Core& state = *state_->core;
  noteHostThread();
  for (const LoadedPlugin& plugin : state.plugins)
    if (plugin.path == path) return;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw HostError("cannot load the plugin " + path + ": " + dlerror());
  auto pluginMain = reinterpret_cast<void (*)(REALResolver)>(dlsym(handle, "REALPluginMain"));
  if (!pluginMain) throw HostError(path + " exports no REALPluginMain");
  state.plugins.push_back({path, handle});
  state.announcedVersion = 0;
  // Member types may name classes registered later: they are resolved once the plugin has started.
  ++state.loadingDepth;
  try {
    pluginMain(&resolveHostEntry);
  } catch (...) {
    --state.loadingDepth;
    throw;
  }
  --state.loadingDepth;
  if (state.announcedVersion == 0) reportProblem(path + ": the plugin never called RegisterPluginVersion");
  checkPendingTypes();
}

void* Host::pluginSymbol(const char* name) const {
  for (auto plugin = state_->core->plugins.rbegin(); plugin != state_->core->plugins.rend(); ++plugin)
    if (void* symbol = dlsym(plugin->handle, name)) return symbol;
  return nullptr;
}

REALResolver Host::resolver() const { return &resolveHostEntry; }

void Host::withholdEntry(const std::string& name) { state_->core->entries.entries[name].withheld = true; }

void Host::restoreEntry(const std::string& name) {
  auto& entries = state_->core->entries.entries;
  if (auto it = entries.find(name); it != entries.end()) {
    it->second.withheld = false;
    it->second.replacement = nullptr;
  }
}

void Host::replaceEntry(const std::string& name, void* function) {
  EntryTable::Entry& entry = state_->core->entries.entries[name];
  entry.withheld = false;
  entry.replacement = function;
}

size_t Host::lookupCount(const std::string& name) const {
  auto& counts = state_->core->entries.counts;
  auto it = counts.find(name);
  return it == counts.end() ? 0 : it->second;
}

void Host::resetLookupCounts() { state_->core->entries.counts.clear(); }

void Host::refuseStringConversions(bool refuse) { state_->core->refuseConversions = refuse; }

void Host::defineSubclass(const std::string& name, const std::string& superName,
                          std::map<std::string, EventHandler> eventHandlers,
                          const std::vector<std::string>& interfaces) {
  state_->core->classes.defineSubclass(name, superName, std::move(eventHandlers), interfaces);
}

Object Host::newObject(const std::string& className, const std::vector<Value>& args) {
  const ClassInfo& cls = namedClass(className, "New " + className);
  if (!cls.isClass()) throw HostError("New " + className + ": not a class");
  std::string what = cls.name + ".Constructor";
  std::vector<Candidate> constructors = constructorCandidates(cls);
  std::optional<ChosenCall> chosen;
  if (!constructors.empty())
    chosen = chooseOverload(constructors, args, what);
  else if (!args.empty())
    throw HostError(what + ": no constructor takes arguments");
  Object instance;
  {
    CallScope scope;  // initializers are plugin code too
    instance = Object::adopt(state_->core->objects.create(cls));
    scope.deliver();
  }
  if (chosen) invokeChosen(*chosen, instance.get(), what);
  return instance;
}

Value Host::call(const Object& self, const std::string& method, const std::vector<Value>& args) {
  return callMethod(classOfLive(self, method), self.get(), method, false, false, args);
}

Value Host::callShared(const std::string& className, const std::string& method, const std::vector<Value>& args) {
  return callMethod(namedClass(className, className + "." + method), nullptr, method, true, false, args);
}

void Host::assign(const Object& self, const std::string& method, const std::vector<Value>& args, const Value& value) {
  callMethod(classOfLive(self, method), self.get(), method, false, true, withValue(args, value));
}

void Host::assignShared(const std::string& className, const std::string& method, const std::vector<Value>& args,
                        const Value& value) {
  callMethod(namedClass(className, className + "." + method), nullptr, method, true, true, withValue(args, value));
}

Value Host::getProperty(const Object& self, const std::string& property) {
  const ClassInfo& cls = classOfLive(self, property);
  std::string what = cls.name + "." + property;
  for (const ClassInfo* c = &cls; c; c = c->super)
    for (const auto& member : c->properties)
      if (sameName(member->declaration.name, property))
        return invokeChosen(ChosenCall{Candidate{member.get(), false}, {}}, self.get(), what);
  throw HostError(what + ": no property of that name");
}

Host::MemberFunctions Host::memberFunctions(const std::string& className, const std::string& declaration) const {
  const ClassInfo& cls = namedClass(className, className + "." + declaration);
  Declaration wanted;
  try {
    wanted = parseDeclaration(declaration);
  } catch (const DeclarationError& error) {
    throw HostError(className + "." + declaration + ": " + error.what());
  }
  const std::string key = signatureKey(wanted);
  const std::string result = canonicalTypeName(wanted.resultType);
  for (const ClassInfo* c = &cls; c; c = c->super)
    for (const auto* table : {&c->methods, &c->sharedMethods, &c->properties})
      for (const auto& member : *table)
        if (signatureKey(member->declaration) == key && canonicalTypeName(member->declaration.resultType) == result)
          return MemberFunctions{member->function, member->setter, member->paramWord};
  throw HostError(className + "." + declaration + ": no member with that declaration");
}

int64_t Host::constant(const std::string& qualifiedName) const {
  std::optional<Literal> value = state_->core->classes.lookupConstant(qualifiedName);
  if (!value) throw HostError("no constant or enumeration member " + qualifiedName);
  if (value->kind != Literal::Kind::Integer) throw HostError(qualifiedName + " is not an integer constant");
  return value->integer;
}

String Host::newString(std::string_view bytes, uint32_t encoding) {
  return String::adopt(state_->core->strings.make(bytes, encoding));
}

Object Host::newFolderItem(const std::string& nativePath) { return Object::adopt(makeFolderItem(nativePath)); }

Object Host::newMemoryBlock(std::string_view bytes) { return Object::adopt(makeMemoryBlock(bytes)); }

std::string Host::memoryBlockBytes(const Object& memoryBlock) const {
  void* bytes = nullptr;
  int64_t size = 0;
  if (!isMemoryBlock(memoryBlock.get()) || !memoryBlockContents(memoryBlock.get(), "memoryBlockBytes", &bytes, &size))
    throw HostError("memoryBlockBytes: not a live MemoryBlock");
  if (size < 0) throw HostError("memoryBlockBytes: a MemoryBlock of unknown size (made from a Ptr)");
  return std::string(static_cast<const char*>(bytes), static_cast<size_t>(size));
}

Object Host::newObjectArray(const std::vector<Object>& elements) {
  Object array = Object::adopt(makeObjectArray());
  auto* stored = arrayElements(array.get(), "newObjectArray");
  for (const Object& element : elements) {
    if (!element.isNil()) classOfLive(element, "newObjectArray element");
    stored->push_back(Object(element).release());
  }
  return array;
}

std::vector<Object> Host::objectArrayElements(const Object& array) const {
  if (!array.isA(kObjectArrayClass)) throw HostError("objectArrayElements: not a live object array");
  std::vector<Object> elements;
  for (REALobjectStruct* element : *arrayElements(array.get(), "objectArrayElements"))
    elements.push_back(Object::retain(element));
  return elements;
}

std::vector<Host::Registration> Host::registrations() const { return state_->core->classes.registrations(); }

const REALclassDefinition* Host::classRecord(const std::string& name) const {
  const ClassInfo* cls = state_->core->classes.find(name);
  return cls && cls->kind == ClassKind::Plugin ? cls->record : nullptr;
}

}  // namespace xhost

namespace xhost {

void Host::idle(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  do {
    detail::runBackgroundTasksDue();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (std::chrono::steady_clock::now() < end);
}

void Host::runBackgroundTasks() { detail::runBackgroundTasksDue(true); }

size_t Host::backgroundTaskCount() const { return detail::runtime().tasks.size(); }

int Host::addCooperativeThread(std::function<void()> body) {
  detail::RuntimeState& state = detail::runtime();
  const int id = state.nextThreadId++;
  state.cooperativeThreads[id] = std::move(body);
  return id;
}

void Host::removeCooperativeThread(int id) { detail::runtime().cooperativeThreads.erase(id); }

uint64_t Host::yieldCount() const { return detail::runtime().yields; }

}  // namespace xhost
