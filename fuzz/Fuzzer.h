// The plugin fuzzer: decodes an input into a sequence of calls of the
// plugin's members, as a Xojo program makes them through the replacement
// host, with arguments chosen by declared type from the input: Nil, empty,
// huge, NUL-carrying and invalid texts, extreme numbers, objects of the pool
// or new ones that hold nothing, and pointers a program could really hold.
// Functions handed to Python call back into the plugin with more of the input;
// one of them re-enters the member that is running, on the same object with
// the same arguments, or drops the fuzzer's last references to them.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Catalog.h"
#include "PythonLibrary.h"
#include "xhost/Host.h"

namespace fuzz {

// What a function handed over as a Ptr is called as (its C prototype).
// Reentry is a Method that works on the member call in progress; ReentryCreator
// creates the fuzzer's own module, registered for the whole process.
enum class Role { PythonObject, Method, Init, Getter, Setter, Hash, ToString, Creator, Reentry, ReentryCreator };

constexpr size_t kCreatorSlots = 4;
constexpr int kMaxDepth = 4;  // callbacks within callbacks

// One level deeper for the life of a scope, however it is left.
class Deeper {
 public:
  explicit Deeper(int& depth) : depth_(depth) { ++depth_; }
  ~Deeper() { --depth_; }
  Deeper(const Deeper&) = delete;
  Deeper& operator=(const Deeper&) = delete;

 private:
  int& depth_;
};

// A member call in progress. The fuzzer's references to the object and the
// arguments live here, so that a callback can drop them while the member runs.
struct MemberCall {
  const Callable* callable = nullptr;
  xhost::Object self;  // Nil for shared members, or once dropped
  std::vector<xhost::Value> args;
};

class Fuzzer {
 public:
  static Fuzzer& instance();

  // Loads the plugin, chooses the Python library, reads the records.
  void initialize();
  // One input: the calls, then everything released and the ledger checked;
  // aborts with the ledger's report when it does not balance.
  void run(const uint8_t* data, size_t size);

  // Used by the functions Python calls (Callbacks.cpp).
  bool active() const { return input_ != nullptr; }
  // A few calls made from inside a callback; `borrowed` are the Python
  // objects the callback received, usable as Ptr arguments meanwhile.
  void nested(std::vector<void*> borrowed);
  // The same, working on the member call in progress: calls it again, calls
  // another member on its object, drops the fuzzer's references to its object
  // or arguments, or makes other calls.
  void reenter(std::vector<void*> borrowed);
  void* reentryResult();        // None mostly, else as pythonResult()
  void* createReentryModule();  // the fuzzer's own module, for Python's import
  void* pythonResult();         // a new reference to a value, or null (error set or not)
  int32_t statusResult();       // 0, or -1 with or without an error set
  int64_t integerResult();
  void* createModule(size_t slot);                // the module creator registered in that slot
  xhost::Value valueOf(const std::string& type);  // an argument of that declared type
  xhost::Value zeroOf(const std::string& type);   // the zero of that type

 private:
  // Operations of the sequence.
  void step();
  void callAny();
  void callMember(const Callable& callable, xhost::Object self = {});
  void callOnPooled();
  void callOn(xhost::Object self);  // a member of its class, chosen by the input
  // Runs the call as the member call in progress; throws as the host does.
  xhost::Value track(MemberCall& call);
  // A member called with these arguments, tracked; null when there is none of that name and arity.
  xhost::Value callFixed(const std::string& owner, const std::string& name, xhost::Object self,
                         std::vector<xhost::Value> args);
  xhost::Object fuzzModule();  // fuzzmod, imported from its folder if need be; Nil when it cannot be
  void callNamed(const std::string& owner, const std::string& name);
  void importFuzzModule();
  void callPython(const char* chosen);  // the fuzz module function to call; null: the input chooses
  void buildHostModule();
  void dropOne();
  void hookedValue();  // a value whose protocols call the host, wrapped for members
  void oddError();     // an exception of a class with odd names, then read
  xhost::Value invokeFuzz(const char* name, const std::vector<int64_t>& items);

  // Re-entry (Reentry.cpp).
  void reenterCall(MemberCall& call);
  void callSibling(MemberCall& call);
  void dropHeld(const std::vector<const void*>& handles);
  void dropWrapper(MemberCall& call);
  void dropArguments(MemberCall& call);
  // The call made as compiled Xojo code makes it, the function called with the
  // handles alone (no reference held by the host meanwhile); false when that
  // is not possible for this member.
  bool invokeDirect(const MemberCall& call, xhost::Value& result);

  // Arguments.
  std::vector<xhost::Value> argumentsFor(const Callable& callable);
  xhost::Value argumentFor(const Callable& callable, const xhost::Signature::Parameter& parameter);
  int64_t integer();
  int32_t int32();
  uint64_t uint64();
  double real();
  xhost::String string();
  void* pythonPointer();
  void* functionPointer(Role role);
  xhost::Value object(const std::string& type);
  xhost::Object receiver(const std::string& className);
  xhost::Object fresh(const std::string& type);
  xhost::Object construct(const Callable& constructor);

  // Results and pools.
  xhost::Value invoke(const MemberCall& call);
  void keep(const xhost::Value& result);  // objects, texts and pointers a member returned
  void keepObject(xhost::Object object);
  void releasePointers();
  void rememberInterpreter();
  void startInput(bool running);
  void endInput();
  [[noreturn]] void fail(const char* what, const xhost::LedgerReport& report);

  // What the run did, printed at exit.
  struct Counts {
    uint64_t inputs = 0, calls = 0, raised = 0, refused = 0, callbacks = 0, starts = 0, finalizes = 0;
    uint64_t direct = 0, reentered = 0, siblings = 0, drops = 0;
  };
  static void printCounts();

  xhost::Host& host_ = xhost::Host::instance();
  Counts counts_;
  Catalog catalog_;
  PythonLibrary python_;
  std::string fuzzModuleFolder_;
  FuzzedDataProvider* input_ = nullptr;                // the current input; null between inputs
  int depth_ = 0;                                      // nested calls from callbacks
  bool trace_ = false;                                 // FUZZ_TRACE set: each call on stderr
  std::vector<xhost::Object> objects_;                 // live objects of any class
  std::vector<xhost::String> strings_;                 // texts the plugin returned
  std::vector<void*> owned_;                           // Python references members returned; released by the fuzzer
  std::vector<std::vector<void*>> borrowed_;           // per active callback: its borrowed Python objects
  std::array<xhost::Object, kCreatorSlots> creators_;  // the module each creator function returns
  std::vector<MemberCall*> calls_;                     // member calls in progress, innermost last
  xhost::Object reentryModule_;                        // "fuzzreentry", registered for the whole process
};

}  // namespace fuzz
