// The rows of the leak repetition: one or more per member of every class the
// plugin registers, and per path by which Python calls host code. Each row
// names its member as the completeness check finds it, the Python objects it
// touches and the call to repeat. Rows refer to the shared objects of
// LeakObjects when they run, so a table can be listed without running it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ApiTestSupport.h"

namespace api_tests {

struct Row {
  // "Class.declaration" as the class records hold it ("Python3List.GetItem(index
  // as Integer) as Python3Entity"; "Name as Type" for a property, " (assigns)"
  // after an assignable method's setter, "Class (initializer)", "Class
  // (destructor)"), or "python: what Python calls" for a path into host code.
  std::string member;
  std::string variant;               // "" for the plain call; else what differs (an error path)
  std::vector<std::string> touched;  // Python expressions (in apitest) naming what the call touches
  std::function<void()> call;
};

// What the rows share: wrappers of the objects that Make creates in apitest
// (every one of them named leak_...), made once before the rows run.
struct LeakObjects {
  explicit LeakObjects(PythonHelper& helper) : python(helper) {}
  void Make();    // the Python objects, then their wrappers
  void Forget();  // deletes the Python objects, some of which hold host objects

  Object Entity(const std::string& expression) const;  // a Python3Entity of that very object
  void* AddressOf(const std::string& expression) const;
  void ClearError() const;                   // Python3Engine.ClearError
  void Release(const Value& pointer) const;  // gives back a reference that a GetPtr returned
  // Calls what must raise a Python3Exception, then clears Python's error.
  void Refused(const std::function<void()>& call) const;

  PythonHelper& python;
  Object hostObject;                 // carried by the capsule leak_capsule
  Object module;                     // Python3Module of apitest
  Object colorsys;                   // Python3Module of colorsys
  Object stale;                      // Python3Module of leak_stale, gone from sys.modules
  Object echo, keywordEcho, raiser;  // Python3Function of apitest.echo, keyword_echo, raise_kept
  Object leakClass, failingClass;    // Python3Class of LeakClass, LeakFailing
  Object instance;                   // Python3Instance of LeakHolder: leak_instance
  Object method;                     // Python3Function of leak_instance.method
  // Python3Entity of leak_<name>
  Object text, error, number, ratio, list, tuple, dict, bytes, capsule, item, key, unprintable;
  Object buffer, doubles;            // Python3Entity of leak_buffer (a bytearray), leak_doubles (an array of 'd')
  Object items, unsortable;          // Python3List sharing leak_items, leak_unsortable
  Object mapping, merged, keywords;  // Python3Dictionary sharing leak_mapping, leak_merged, leak_keywords
  Object arguments;                  // Python3Parameters sharing leak_tuple
  Object values;                     // Python3Parameters sharing leak_values: one item of each type
  Object notTuple;                   // Python3Parameters holding leak_list, which is no tuple
  Object slots;                      // Python3Parameters of one item, for the setters
  Object bytesValue;                 // Python3Bytes sharing leak_bytes
  std::vector<Object> results;       // Python3Result of each item of leak_values
  Object hostModule;                 // Python3XojoModule leakhost, with its class LeakCounter (MakeLeakHost)
  Object hostClass;
};

// The expressions of every leak_values item, for rows that read them all.
extern const std::vector<std::string> kValueExpressions;

using RowTable = std::vector<Row> (*)(LeakObjects&);

// Tables of the members called from host code with Python running.
std::vector<Row> EngineRows(LeakObjects& c);
std::vector<Row> ModuleRows(LeakObjects& c);
std::vector<Row> FunctionAndClassRows(LeakObjects& c);
std::vector<Row> InstanceRows(LeakObjects& c);
std::vector<Row> EntityRows(LeakObjects& c);
std::vector<Row> BytesAndResultRows(LeakObjects& c);
std::vector<Row> ListRows(LeakObjects& c);
std::vector<Row> DictionaryRows(LeakObjects& c);
std::vector<Row> ParametersRows(LeakObjects& c);
std::vector<Row> BufferRows(LeakObjects& c);    // Python3Entity's buffer members
std::vector<Row> DataToolRows(LeakObjects& c);  // Python3Entity's image and column members
std::vector<Row> ConsoleRows(LeakObjects& c);   // with LeakConsole and LeakFailingConsole defined, the first set
// Python3Task, with LeakTask defined by the table itself.
std::vector<Row> TaskRows(LeakObjects& c);
// Host-defined modules and classes, with the module leakhost registered
// (RegisterLeakHost) and imported.
std::vector<Row> HostCodeRows(LeakObjects& c);
std::vector<Row> PythonCallsHostRows(LeakObjects& c);
// Before Init: only the host's counts are watched.
std::vector<Row> RegistrationRows(LeakObjects& c);

// Every table above, for the completeness check.
const std::vector<RowTable>& AllRowTables();

// The Python3XojoModule leakhost, its functions and its class LeakCounter,
// made into c.hostModule and c.hostClass; registered with a creator that
// returns its ModuleCreateProc; imported, with the Python code that calls it.
void MakeLeakHost(LeakObjects& c);
void RegisterLeakHost(LeakObjects& c);
void ImportLeakHost(LeakObjects& c);
// What Python calls on the host module, its class and sys.stdout, named as
// the rows of the paths from Python name them ("leakhost.echo()").
std::string PythonCallsHostNames(LeakObjects& c);

// A member key of the records: "Class.declaration".
std::string Member(const std::string& className, const std::string& declaration);
// The name a declaration calls: "GetItem" of "GetItem(index as Integer) as ...".
std::string NameOf(const std::string& declaration);

}  // namespace api_tests
