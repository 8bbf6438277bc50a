// The description records handed to the host, and small builders that keep
// each record's definition to the lines that differ from the defaults.
#pragma once

#include "HostGlue.h"

extern REALinterfaceDefinition PythonIterableInterface;
extern REALclassDefinition PythonEntityBaseClass;
extern REALclassDefinition PythonEntityClass;
extern REALclassDefinition PythonBytesClass;
extern REALclassDefinition PythonListClass;
extern REALclassDefinition PythonEngineConsoleOutputClass;
extern REALclassDefinition PythonObjectClass;
extern REALclassDefinition PythonResultClass;
extern REALclassDefinition PythonParametersClass;
extern REALclassDefinition PythonDictionaryClass;
extern REALclassDefinition PythonFunctionClass;
extern REALclassDefinition PythonClassClass;
extern REALclassDefinition PythonInstanceClass;
extern REALclassDefinition PythonModuleClass;
extern REALclassDefinition PythonXojoClassClass;
extern REALclassDefinition PythonXojoModuleClass;
extern REALclassDefinition PythonEngineClass;
extern REALmoduleDefinition PythonErrorTypesModule;
extern REALclassDefinition PythonExceptionClass;

// Registers the list class after clearing its lazily resolved entries.
void InitListModule();
// Registers the dictionary class after clearing its lazily resolved entries.
void InitDictionaryModule();

namespace records {

template <typename Function>
REALproc proc(Function* function) {
  return reinterpret_cast<REALproc>(function);
}

template <typename Function>
REALmethodDefinition Method(Function* function, const char* declaration, uint32_t flags = REALmemberFlags) {
  return REALmethodDefinition{proc(function), nullptr, declaration, flags, 0, {0, 0}};
}

// A method that can also be assigned to ("Int32Value(index as Integer) as Int32").
template <typename Getter, typename Setter>
REALmethodDefinition AssignableMethod(Getter* getter, Setter* setter, const char* declaration) {
  return REALmethodDefinition{proc(getter), proc(setter), declaration, REALmemberFlags, 0, {0, 0}};
}

// Every property of this plugin is read-only.
template <typename Getter>
REALproperty ReadOnlyProperty(const char* name, const char* type, Getter* getter) {
  return REALproperty{nullptr, name, type, REALmemberFlags, 0, proc(getter), nullptr, 0, {0, 0, 0, 0, 0}};
}

inline REALconstant Constant(const char* declaration) { return REALconstant{declaration, nullptr, 0, 0, {0, 0}}; }

inline REALevent Event(const char* declaration) { return REALevent{declaration, 0, {0, 0}}; }

template <size_t N>
REALenum Enumeration(const char* name, const char* type, uint32_t flags, const char* (&members)[N]) {
  return REALenum{name, type, flags, 0, members, N, {0, 0}};
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
  ClassRecord& initializer(void (*function)(REALobjectStruct*)) { record_.constructor = function; return *this; }
  ClassRecord& destructor(void (*function)(REALobjectStruct*)) { record_.destructor = function; return *this; }
  ClassRecord& interfaces(const char* names) { record_.interfaces = names; return *this; }
  template <size_t N>
  ClassRecord& properties(REALproperty (&table)[N]) { return set(record_.properties, record_.propertyCount, table); }
  template <size_t N>
  ClassRecord& methods(REALmethodDefinition (&table)[N]) { return set(record_.methods, record_.methodCount, table); }
  template <size_t N>
  ClassRecord& events(REALevent (&table)[N]) { return set(record_.events, record_.eventCount, table); }
  template <size_t N>
  ClassRecord& constants(REALconstant (&table)[N]) { return set(record_.constants, record_.constantCount, table); }
  template <size_t N>
  ClassRecord& sharedMethods(REALmethodDefinition (&table)[N]) {
    return set(record_.sharedMethods, record_.sharedMethodCount, table);
  }
  template <size_t N>
  ClassRecord& enums(REALenum (&table)[N]) { return set(record_.enums, record_.enumCount, table); }
  operator REALclassDefinition() const { return record_; }

 private:
  template <typename Entry, size_t N>
  ClassRecord& set(Entry*& table, uintptr_t& count, Entry (&entries)[N]) {
    table = entries;
    count = N;
    return *this;
  }
  REALclassDefinition record_{};
};

}  // namespace records
