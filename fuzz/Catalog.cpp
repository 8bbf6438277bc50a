#include "Catalog.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace fuzz {

namespace {

const std::vector<const Callable*> kNone;

// The host's own classes that plugin members take as arguments.
constexpr const char* kHostClasses[] = {"FolderItem", "MemoryBlock"};

std::vector<std::string> SplitNames(const char* list) {
  std::vector<std::string> names;
  std::stringstream stream(list ? list : "");
  for (std::string name; std::getline(stream, name, ',');) {
    name.erase(std::remove_if(name.begin(), name.end(), [](unsigned char c) { return std::isspace(c); }), name.end());
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

}  // namespace

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void Catalog::addMethods(const std::string& owner, const REALmethodDefinition* table, uintptr_t count, bool shared) {
  for (uintptr_t i = 0; i < count; ++i) {
    const xhost::Signature signature = xhost::parseSignature(table[i].declaration);
    Callable callable{Form::Call, shared, owner, signature.name, signature.params, signature.resultType};
    const bool assigns = !callable.params.empty() && callable.params.back().assigns;
    if (!shared && Lowercase(signature.name) == "constructor") {
      callable.form = Form::Construct;
    } else if (assigns) {
      callable.form = Form::Assign;
    } else if (table[i].setterFunction) {
      Callable assignment = callable;
      assignment.form = Form::Assign;
      assignment.params.push_back({"value", callable.result, true, false});
      assignment.result.clear();
      callables_.push_back(std::move(assignment));
    }
    callables_.push_back(std::move(callable));
  }
}

void Catalog::load(xhost::Host& host, const std::function<xhost::EventHandler(const Event&)>& handlerFor) {
  for (const xhost::Host::Registration& registration : host.registrations()) {
    if (registration.kind == "interface") {
      nodes_[Lowercase(registration.name)] = {};
    } else if (registration.kind == "module") {
      const auto* record = static_cast<const REALmoduleDefinition*>(registration.record);
      addMethods(registration.name, record->methods, record->methodCount, true);
    } else {
      const auto* record = static_cast<const REALclassDefinition*>(registration.record);
      nodes_[Lowercase(record->name)] = {record->superName ? record->superName : "", SplitNames(record->interfaces)};
      concrete_.push_back(record->name);
      for (uintptr_t i = 0; i < record->propertyCount; ++i)
        callables_.push_back(
            {Form::Property, false, record->name, record->properties[i].name, {}, record->properties[i].type});
      addMethods(record->name, record->methods, record->methodCount, false);
      addMethods(record->name, record->sharedMethods, record->sharedMethodCount, true);
      std::vector<Event> events;
      for (uintptr_t i = 0; i < record->eventCount; ++i) {
        const xhost::Signature signature = xhost::parseSignature(record->events[i].declaration);
        events.push_back({signature.name, signature.params, signature.resultType});
      }
      if (!events.empty()) {
        // A host subclass implements every event, as a Xojo program's subclass would.
        std::map<std::string, xhost::EventHandler> handlers;
        for (const Event& event : events) handlers[event.name] = handlerFor(event);
        const std::string subclass = std::string("Fuzz") + record->name;
        host.defineSubclass(subclass, record->name, std::move(handlers));
        nodes_[Lowercase(subclass)] = {record->name, {}};
        concrete_.push_back(subclass);
      }
    }
  }
  for (const char* name : kHostClasses) {
    nodes_[Lowercase(name)] = {};
    concrete_.push_back(name);
  }
  for (const Callable& callable : callables_)
    if (callable.form == Form::Construct) constructors_[Lowercase(callable.owner)].push_back(&callable);
}

const std::vector<const Callable*>& Catalog::constructorsOf(const std::string& className) const {
  auto found = constructors_.find(Lowercase(className));
  if (found != constructors_.end()) return found->second;
  // A host subclass is made by its superclass's constructors.
  auto node = nodes_.find(Lowercase(className));
  return node != nodes_.end() && !node->second.super.empty() ? constructorsOf(node->second.super) : kNone;
}

bool Catalog::isA(const std::string& className, const std::string& type) const {
  const std::string wanted = Lowercase(type);
  if (wanted == "object") return true;
  for (std::string current = Lowercase(className); !current.empty();) {
    if (current == wanted) return true;
    auto node = nodes_.find(current);
    if (node == nodes_.end()) return false;
    for (const std::string& interface : node->second.interfaces)
      if (Lowercase(interface) == wanted) return true;
    current = Lowercase(node->second.super);
  }
  return false;
}

}  // namespace fuzz
