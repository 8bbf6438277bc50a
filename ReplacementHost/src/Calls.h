// Host code calling plugin members as compiled Xojo code would: choosing the
// overload, filling in defaults, and delivering what the plugin raised.
#pragma once

#include <string>
#include <vector>

#include "ClassModel.h"

namespace xhost::detail {

struct Candidate {
  Member* member = nullptr;
  bool assign = false;  // called in its assignment form (the value last)
};

struct ChosenCall {
  Candidate candidate;
  std::vector<Value> args;  // every parameter, defaults filled in
};

// Throws HostError naming `what` and the argument types when no candidate or
// more than one fits equally well.
ChosenCall chooseOverload(const std::vector<Candidate>& candidates, const std::vector<Value>& args,
                          const std::string& what);
// Calls the chosen member; throws XojoException when the plugin raised one.
Value invokeChosen(const ChosenCall& chosen, REALobjectStruct* self, const std::string& what);

// Members named `name` visible on `cls`: most derived first, overridden ones left out.
std::vector<Candidate> methodCandidates(const ClassInfo& cls, const std::string& name, bool shared, bool assign);
std::vector<Candidate> constructorCandidates(const ClassInfo& cls);

// Marks one host-code call into the plugin; what the plugin raises meanwhile
// is thrown by deliver() once the plugin function has returned.
class CallScope {
 public:
  CallScope();
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
  void deliver();

 private:
  size_t depth_;
  bool open_ = true;
};

}  // namespace xhost::detail
