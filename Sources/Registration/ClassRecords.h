// The description records handed to the host, and small builders that keep
// each record's definition to the lines that differ from the defaults.
#pragma once

#include <cstddef>
#include <exception>
#include <vector>

#include "HostGlue.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonValues/PythonWrappers.h"
#include "PythonValues/RegisteredRecords.h"
#include "Registration/ApiDescriptions.h"

namespace records {

// An initializer or destructor that calls Python only through
// ReleaseOwnedPythonRef, or after HoldInterpreterLock(), takes the lock on
// demand: the host runs them for every wrapper it makes or frees.
constexpr HostEntry::Lock kLockOnDemand = HostEntry::Lock::OnDemand;

// What a member does with an error left pending by an earlier call: most
// keep it aside while they work (any call into Python may run Python code,
// which must start with no error set); those that read or change the error
// itself leave it where it is, and so do those that run no Python code at
// all (handing out or taking over a reference), which spares the host
// functions Python calls a look at the error per member.
enum class PendingError { SetAside, Untouched };
constexpr PendingError UntouchedWhen(bool runsNoPythonCode) {
  return runsNoPythonCode ? PendingError::Untouched : PendingError::SetAside;
}

// What the host calls for a member: the member's function inside a
// HostEntry, never letting an exception out to the host.
template <auto Function, HostEntry::Lock Lock = HostEntry::Lock::OnEntry, PendingError Pending = PendingError::SetAside>
struct Entered;
template <typename Result, typename... Arguments, Result (*Function)(Arguments...), HostEntry::Lock Lock,
          PendingError Pending>
struct Entered<Function, Lock, Pending> {
  static Result Call(Arguments... arguments) noexcept {
    HostEntry entry(Lock);
    try {
      if constexpr (Lock == HostEntry::Lock::OnEntry && Pending == PendingError::SetAside) {
        PendingErrorAside pending;
        return Function(arguments...);
      } else {
        return Function(arguments...);
      }
    } catch (const std::exception&) {
      return Result();
    }
  }
};

template <auto Function, PendingError Pending = PendingError::SetAside>
REALproc Proc() {
  return reinterpret_cast<REALproc>(&Entered<Function, HostEntry::Lock::OnEntry, Pending>::Call);
}

// Every builder takes the entry's one-line description for Xojo programmers,
// kept for the generated API reference.
template <auto Function, PendingError Pending = PendingError::SetAside>
REALmethodDefinition Method(const char* declaration, const char* description, uint32_t flags = REALmemberFlags) {
  Describe(reinterpret_cast<const void*>(Proc<Function, Pending>()), description);
  return REALmethodDefinition{Proc<Function, Pending>(), nullptr, declaration, flags, 0, {0, 0}};
}

// A member that any thread may call at any time, inside or outside a host
// call: the host calls the function itself, which must be noexcept and take
// no lock of any kind it may wait for.
template <auto Function>
REALmethodDefinition FreeThreadedMethod(const char* declaration, const char* description) {
  static_assert(noexcept(Function()), "a free-threaded member lets nothing escape");
  const auto function = reinterpret_cast<REALproc>(Function);
  Describe(reinterpret_cast<const void*>(function), description);
  return REALmethodDefinition{function, nullptr, declaration, REALmemberFlags, 0, {0, 0}};
}

// A member that takes the interpreter lock only where it needs it
// (HoldInterpreterLock), so that it can wait for other threads without it.
// What it runs keeps Python's error state itself.
template <auto Function>
REALmethodDefinition LockOnDemandMethod(const char* declaration, const char* description) {
  const auto function =
      reinterpret_cast<REALproc>(&Entered<Function, HostEntry::Lock::OnDemand, PendingError::Untouched>::Call);
  Describe(reinterpret_cast<const void*>(function), description);
  return REALmethodDefinition{function, nullptr, declaration, REALmemberFlags, 0, {0, 0}};
}

// A member that reads or changes Python's error indicator itself.
template <auto Function>
REALmethodDefinition ErrorStateMethod(const char* declaration, const char* description) {
  return Method<Function, PendingError::Untouched>(declaration, description);
}

// A method that can also be assigned to ("Int32Value(index as Integer) as Int32").
template <auto Getter, auto Setter, PendingError GetterPending = PendingError::SetAside>
REALmethodDefinition AssignableMethod(const char* declaration, const char* description) {
  Describe(reinterpret_cast<const void*>(Proc<Getter, GetterPending>()), description);
  return REALmethodDefinition{Proc<Getter, GetterPending>(), Proc<Setter>(), declaration, REALmemberFlags, 0, {0, 0}};
}

// Every property of this plugin is read-only.
template <auto Getter>
REALproperty ReadOnlyProperty(const char* name, const char* type, const char* description) {
  Describe(reinterpret_cast<const void*>(Proc<Getter>()), description);
  return REALproperty{nullptr, name, type, REALmemberFlags, 0, Proc<Getter>(), nullptr, 0, {0, 0, 0, 0, 0}};
}

// A read-only property of the plugin's own state, which calls no Python: its
// entry takes the interpreter lock only if deferred work needs it, so that a
// poll from the application's run loop never waits for a thread running Python.
template <auto Getter>
REALproperty LockFreeProperty(const char* name, const char* type, const char* description) {
  const auto getter =
      reinterpret_cast<REALproc>(&Entered<Getter, HostEntry::Lock::OnDemand, PendingError::Untouched>::Call);
  Describe(reinterpret_cast<const void*>(getter), description);
  return REALproperty{nullptr, name, type, REALmemberFlags, 0, getter, nullptr, 0, {0, 0, 0, 0, 0}};
}

inline REALconstant Constant(const char* declaration, const char* description) {
  Describe(declaration, description);
  return REALconstant{declaration, nullptr, 0, 0, {0, 0}};
}

inline REALevent Event(const char* declaration, const char* description) {
  Describe(declaration, description);
  return REALevent{declaration, 0, {0, 0}};
}

template <size_t N>
REALenum Enumeration(const char* name, const char* type, uint32_t flags, const char* (&members)[N],
                     const char* description) {
  Describe(name, description);
  return REALenum{name, type, flags, 0, members, N, {0, 0}};
}

// The name of an interface or module, described.
inline const char* DescribedName(const char* name, const char* description) {
  Describe(name, description);
  return name;
}

// A table of a class's own entries followed by entries it shares with others,
// put together at start-up.
template <typename Entry, size_t N>
std::vector<Entry> Join(const Entry (&own)[N], const std::vector<Entry>& shared) {
  std::vector<Entry> table(own, own + N);
  table.insert(table.end(), shared.begin(), shared.end());
  return table;
}

// A class record: the fields every class sets, then tables added one by one.
class ClassRecord {
 public:
  ClassRecord(const char* name, const char* superName, size_t dataSize) {
    record_.version = kPluginInterfaceVersion;
    record_.name = name;
    record_.superName = superName;
    record_.dataSize = dataSize;
    record_.interfaces = "";
    record_.mFlags = REALconsoleSafe;
  }
  template <void (*Function)(REALobjectStruct*), HostEntry::Lock Lock = HostEntry::Lock::OnEntry>
  ClassRecord& Initializer() {
    record_.constructor = &Entered<Function, Lock>::Call;
    return *this;
  }
  template <void (*Function)(REALobjectStruct*), HostEntry::Lock Lock = HostEntry::Lock::OnEntry>
  ClassRecord& Destructor() {
    record_.destructor = &Entered<Function, Lock>::Call;
    return *this;
  }
  // An initializer or destructor that the host runs for every wrapper it
  // makes or frees and that mostly has nothing to do: entered (its lock, its
  // deferred work) only when `Needed` finds work.
  template <bool (*Needed)(REALobjectStruct*) noexcept, void (*Function)(REALobjectStruct*)>
  ClassRecord& InitializerWhen() {
    record_.constructor = [](REALobjectStruct* instance) noexcept {
      if (Needed(instance)) Entered<Function, HostEntry::Lock::OnDemand>::Call(instance);
    };
    return *this;
  }
  template <bool (*Needed)(REALobjectStruct*) noexcept, void (*Function)(REALobjectStruct*)>
  ClassRecord& DestructorWhen() {
    record_.destructor = [](REALobjectStruct* instance) noexcept {
      if (Needed(instance)) Entered<Function, HostEntry::Lock::OnDemand>::Call(instance);
    };
    return *this;
  }
  // A destructor with nothing of its own to do (its base class's releases
  // what the wrapper holds): the host calls it directly, with no entry.
  template <void (*Function)(REALobjectStruct*) noexcept>
  ClassRecord& DestructorWithoutEntry() {
    record_.destructor = Function;
    return *this;
  }
  // A destructor that must act before its entry begins: an outermost entry
  // first runs deferred work, which may concern the object that is going.
  // `Before` takes no lock and calls no Python; `Function` runs as Destructor<Function>.
  template <void (*Before)(REALobjectStruct*) noexcept, void (*Function)(REALobjectStruct*)>
  ClassRecord& DestructorAfter() {
    record_.destructor = [](REALobjectStruct* instance) noexcept {
      Before(instance);
      Entered<Function>::Call(instance);
    };
    return *this;
  }
  ClassRecord& Describe(const char* description) {
    records::Describe(record_.name, description);
    return *this;
  }
  ClassRecord& Interfaces(const char* names) {
    record_.interfaces = names;
    return *this;
  }
  template <size_t N>
  ClassRecord& Properties(REALproperty (&table)[N]) {
    return Set(record_.properties, record_.propertyCount, table);
  }
  template <size_t N>
  ClassRecord& Methods(REALmethodDefinition (&table)[N]) {
    return Set(record_.methods, record_.methodCount, table);
  }
  // Tables put together at start-up (from a list of types); they live for the process.
  ClassRecord& Properties(std::vector<REALproperty>& table) {
    return Set(record_.properties, record_.propertyCount, table);
  }
  ClassRecord& Methods(std::vector<REALmethodDefinition>& table) {
    return Set(record_.methods, record_.methodCount, table);
  }
  ClassRecord& SharedMethods(std::vector<REALmethodDefinition>& table) {
    return Set(record_.sharedMethods, record_.sharedMethodCount, table);
  }
  template <size_t N>
  ClassRecord& Events(REALevent (&table)[N]) {
    return Set(record_.events, record_.eventCount, table);
  }
  template <size_t N>
  ClassRecord& Constants(REALconstant (&table)[N]) {
    return Set(record_.constants, record_.constantCount, table);
  }
  template <size_t N>
  ClassRecord& SharedMethods(REALmethodDefinition (&table)[N]) {
    return Set(record_.sharedMethods, record_.sharedMethodCount, table);
  }
  template <size_t N>
  ClassRecord& Enums(REALenum (&table)[N]) {
    return Set(record_.enums, record_.enumCount, table);
  }
  operator REALclassDefinition() const { return record_; }

 private:
  template <typename Entry, size_t N>
  ClassRecord& Set(Entry*& table, uintptr_t& count, Entry (&entries)[N]) {
    table = entries;
    count = N;
    return *this;
  }
  template <typename Entry>
  ClassRecord& Set(Entry*& table, uintptr_t& count, std::vector<Entry>& entries) {
    table = entries.data();
    count = entries.size();
    return *this;
  }
  REALclassDefinition record_{};
};

}  // namespace records
