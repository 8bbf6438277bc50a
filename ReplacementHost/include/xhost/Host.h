// The replacement host: loads a plugin the way the Xojo runtime does, serves
// the resolver's named services and lets host code (tests, examples) call the
// plugin's members by their declarations. Strict: misuse is recorded in the
// ledger or thrown as HostError.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "REALplugin.h"

namespace xhost {

// A failure of host code's own request: unknown class or member, no overload
// matching the arguments, a wrong argument type. Never thrown through plugin code.
struct HostError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Owning handle of a host string: holds one reference, released on destruction.
class String {
 public:
  String() = default;
  static String adopt(REALstringStruct* s);   // takes over one reference
  static String retain(REALstringStruct* s);  // adds one reference
  String(const String& other);
  String(String&& other) noexcept;
  String& operator=(String other) noexcept;
  ~String();

  REALstringStruct* get() const { return handle_; }
  REALstringStruct* release();  // hands the reference to the caller
  bool isNil() const { return handle_ == nullptr; }
  std::string bytes() const;  // stored bytes, as held
  uint32_t encoding() const;  // kREALTextEncodingUTF8 for Nil

 private:
  REALstringStruct* handle_ = nullptr;
};

// Owning handle of a host object (arrays included).
class Object {
 public:
  Object() = default;
  static Object adopt(REALobjectStruct* o);
  static Object retain(REALobjectStruct* o);
  Object(const Object& other);
  Object(Object&& other) noexcept;
  Object& operator=(Object other) noexcept;
  ~Object();

  REALobjectStruct* get() const { return handle_; }
  REALobjectStruct* release();
  bool isNil() const { return handle_ == nullptr; }
  std::string className() const;               // "" for Nil
  bool isA(std::string_view className) const;  // class, superclass or interface

 private:
  REALobjectStruct* handle_ = nullptr;
};

// Xojo-typed values. A plain C++ integer is an Integer (64-bit).
struct Int32 {
  int32_t value;
};
struct Int64 {
  int64_t value;
};
struct UInt64 {
  uint64_t value;
};
struct Ptr {
  void* value;
};
struct Nil {};

// Empty (monostate) is "no value": the result of a subroutine.
using Value = std::variant<std::monostate, int64_t, Int32, Int64, UInt64, double, bool, String, Object, Ptr, Nil>;

// Typed reads of a Value; throw HostError when the value has another type.
int64_t asInteger(const Value& v);  // Integer, Int32 or Int64
double asDouble(const Value& v);
bool asBoolean(const Value& v);
String asString(const Value& v);
Object asObject(const Value& v);
void* asPtr(const Value& v);
std::string describe(const Value& v);  // for messages

// A declaration as the host reads it, for host code that calls the members it
// finds in the records (registrations(), classRecord()) by their types.
struct Signature {
  struct Parameter {
    std::string name;
    std::string type;         // as written, e.g. "Python3Engine.PreferredVersionValues"
    bool assigns = false;     // the value of an assignment (always the last)
    bool hasDefault = false;  // a default value or "Optional": may be left out
  };
  std::string name;
  std::vector<Parameter> params;
  std::string resultType;  // "" for none
};
// Throws HostError when the text is not a declaration.
Signature parseSignature(std::string_view declaration);

// Handler of an event implemented by a host-side subclass. It receives the
// instance and the event's declared parameters; its result is converted to
// the event's declared result type.
using EventHandler = std::function<Value(const Object& self, const std::vector<Value>& args)>;

// What the ledger found for one test (or for the whole run).
struct LedgerReport {
  std::vector<std::string> problems;  // leaks, over-releases, invalid handles, misuse
  bool clean() const { return problems.empty(); }
  std::string text() const;
};

class Host {
 public:
  static Host& instance();

  // Loads the plugin with dlopen and calls its REALPluginMain with the resolver;
  // loading the same path again does nothing. Throws HostError when the file
  // or the entry is missing.
  void loadPlugin(const std::string& path);
  void* pluginSymbol(const char* name) const;  // dlsym on the loaded plugin
  REALResolver resolver() const;

  // Resolver control: an entry can be withheld, restored or replaced at any
  // time; every request is counted by name.
  void withholdEntry(const std::string& name);
  void restoreEntry(const std::string& name);
  void replaceEntry(const std::string& name, void* function);  // null restores the host's own
  size_t lookupCount(const std::string& name) const;
  void resetLookupCounts();
  // String conversions to UTF-8 fail on demand while this is set
  // (every PluginGetStringData answers false).
  void refuseStringConversions(bool refuse);

  // A host-side subclass, as Xojo code declares one; it may implement events
  // declared along its ancestry and interfaces registered by the plugin, and a "Destructor", run when an instance is
  // destroyed, before the destructors of its superclasses (with a Nil self:
  // a dying object cannot be referenced again). Defining it again with the
  // same superclass replaces its handlers.
  void defineSubclass(const std::string& name, const std::string& superName,
                      std::map<std::string, EventHandler> eventHandlers = {},
                      const std::vector<std::string>& interfaces = {});

  // Calls as compiled Xojo code makes them. Overloads are chosen by the
  // argument types; a missing member or a mismatch throws HostError; an
  // exception raised by the plugin is thrown as XojoException after the
  // plugin function returned. Results follow the ownership rules: a returned
  // object or string belongs to the caller (the Value's handle).
  Object newObject(const std::string& className, const std::vector<Value>& args = {});
  Value call(const Object& self, const std::string& method, const std::vector<Value>& args = {});
  Value callShared(const std::string& className, const std::string& method, const std::vector<Value>& args = {});
  Value getProperty(const Object& self, const std::string& property);
  void assign(const Object& self, const std::string& method, const std::vector<Value>& args, const Value& value);
  void assignShared(const std::string& className, const std::string& method, const std::vector<Value>& args,
                    const Value& value);
  // A member's functions as compiled Xojo code binds them, to be called
  // directly: found by declaration on the class or an ancestor, among its
  // methods, shared methods and properties ("Int32Value(index as Integer) as
  // Int32", "Init()", "Count as Integer"). Names and types ignore case;
  // parameter names do not count. Throws HostError when no member matches.
  struct MemberFunctions {
    REALproc function = nullptr;  // method or getter, as the record names it; may be null
    REALproc setter = nullptr;    // assignment form of a method or property; may be null
    intptr_t paramWord = 0;       // handed to a property getter after the instance
  };
  MemberFunctions memberFunctions(const std::string& className, const std::string& declaration) const;

  // "Python3Engine.PY_NO_ERROR", "Python3ErrorTypes.TypeError",
  // "Python3Engine.PreferredVersionValues.PREFERRED_VERSION_3_10_X".
  int64_t constant(const std::string& qualifiedName) const;

  // Host values.
  String newString(std::string_view bytes, uint32_t encoding = kREALTextEncodingUTF8);
  Object newFolderItem(const std::string& nativePath);
  Object newMemoryBlock(std::string_view bytes);
  std::string memoryBlockBytes(const Object& memoryBlock) const;
  // Object arrays are host objects of class "ObjectArray"; each element
  // (Nil allowed) holds one reference of the array.
  Object newObjectArray(const std::vector<Object>& elements = {});
  std::vector<Object> objectArrayElements(const Object& array) const;

  // Introspection of what the plugin registered, in registration order.
  struct Registration {
    std::string kind;  // "interface", "class", "module"
    std::string name;
    const void* record;
  };
  std::vector<Registration> registrations() const;
  const REALclassDefinition* classRecord(const std::string& name) const;  // null if unknown

  // The application's run loop. Idling runs the background tasks the plugin
  // registered (REALRegisterBackgroundTask), each every period, on this
  // thread, for `duration` (and each due task at least once).
  void idle(std::chrono::milliseconds duration);
  // One turn of the run loop in which every background task falls due: each
  // runs once now, on this thread.
  void runBackgroundTasks();
  size_t backgroundTaskCount() const;
  // The application's other threads, cooperative as Xojo's are: each runs
  // once, on the yielding thread, whenever the plugin yields (REALYieldToRB).
  int addCooperativeThread(std::function<void()> body);
  void removeCooperativeThread(int id);
  uint64_t yieldCount() const;

  // Ledger: references of every object and string, checked per test.
  // Snapshot at the start of a test; also frees the memory of objects and
  // strings that died before it (kept until then to catch late uses).
  void ledgerBegin();
  // What leaked since ledgerBegin (reported again while it stays referenced)
  // and the misuse recorded since the last report (reported once).
  LedgerReport ledgerEnd();
  void expectRetained(const Object& o);  // a lock the plugin keeps on purpose
  void expectRetained(const String& s);
  void clearExpectedRetained();
  int64_t refCount(const Object& o) const;  // -1 for a dead or unknown handle
  int64_t refCount(const String& s) const;
  size_t liveObjects(const std::string& className) const;
  // Every live object and string and the references they hold together
  // (repeated calls must leave these as they found them).
  struct Totals {
    size_t objects = 0;
    size_t strings = 0;
    int64_t references = 0;
  };
  Totals totals() const;
  // Everything unclean since the process started: misuse not yet reported and
  // every object and string still referenced (minus expectRetained ones).
  LedgerReport finalReport();
  // Programs that are not test runs get finalReport() on stderr at exit when
  // it is not clean; the gtest main turns this off.
  void setExitReport(bool enabled);
  // Dead objects, strings and string data are kept, poisoned, until the next
  // ledgerBegin, so that a late use is reported as such. With false they are
  // freed at once, as the real host frees them (for measurements); a late use
  // is then reported as an unknown handle.
  void keepDeadHandles(bool keep);

 private:
  Host();
  struct State;
  State* state_;
};

// Raised into host code by the plugin (REALRaiseException), thrown once the
// plugin function has returned.
struct XojoException : std::runtime_error {
  XojoException(Object exception, std::string message, int64_t errorNumber);
  Object exception;
  std::string message;
  int64_t errorNumber;
  bool isA(std::string_view className) const { return exception.isA(className); }
};

}  // namespace xhost
