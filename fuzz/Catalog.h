// Everything the plugin registered, read from its records through the
// replacement host: each member as a call the fuzzer can make by declared
// types, the events a host subclass can implement, and which classes satisfy
// a declared type. Members added to the plugin are found here without any
// change to the fuzzer.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "xhost/Host.h"

namespace fuzz {

enum class Form {
  Construct,  // New Class(args)
  Call,       // object.Method(args), or Class.Method(args) when shared
  Assign,     // object.Method(args) = value, the value being the last parameter
  Property,   // object.Property
};

struct Callable {
  Form form = Form::Call;
  bool shared = false;
  std::string owner;  // the declaring class or module
  std::string name;
  std::vector<xhost::Signature::Parameter> params;
  std::string result;  // "" for none
};

struct Event {
  std::string name;
  std::vector<xhost::Signature::Parameter> params;
  std::string result;
};

class Catalog {
 public:
  // Reads every registration; a plugin class with events gets a host
  // subclass "Fuzz<Class>" whose handlers come from `handlerFor`.
  void load(xhost::Host& host, const std::function<xhost::EventHandler(const Event&)>& handlerFor);

  const std::vector<Callable>& callables() const { return callables_; }
  // Plugin classes and the host subclasses defined for their events, then
  // the host's own classes that plugin members take.
  const std::vector<std::string>& concreteClasses() const { return concrete_; }
  const std::vector<const Callable*>& constructorsOf(const std::string& className) const;
  // Events declared by a class itself, for the host subclass that implements them.
  const std::map<std::string, std::vector<Event>>& events() const { return events_; }
  // `className` is `type`, a subclass of it, or implements it; "Object" takes every class.
  bool isA(const std::string& className, const std::string& type) const;

 private:
  void addMethods(const std::string& owner, const REALmethodDefinition* table, uintptr_t count, bool shared);

  struct ClassNode {
    std::string super;                    // "" for none
    std::vector<std::string> interfaces;  // as the record lists them
  };
  std::vector<Callable> callables_;
  std::vector<std::string> concrete_;
  std::map<std::string, std::vector<const Callable*>> constructors_;
  std::map<std::string, std::vector<Event>> events_;
  std::map<std::string, ClassNode> nodes_;  // keys lowercase
};

std::string Lowercase(std::string text);

}  // namespace fuzz
