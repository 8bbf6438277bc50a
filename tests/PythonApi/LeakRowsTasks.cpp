// The leak repetition rows of Python3Task: every start, Cancel, Wait and
// IsRunning, each event, and a task let go of while it runs.
#include <chrono>
#include <thread>

#include "LeakRows.h"

namespace api_tests {

namespace {

std::string TaskMember(const std::string& declaration) { return Member("Python3Task", declaration); }

// A LeakTask whose call has been started by `start`, waited for to its end.
void RunTask(const std::function<void(const Object&)>& start) {
  Object task = host().newObject("LeakTask");
  start(task);
  host().call(task, "Wait", {int64_t{10000}});
}

}  // namespace

std::vector<Row> TaskRows(LeakObjects& c) {
  const auto ignore = [](const Object&, const std::vector<Value>&) -> Value { return {}; };
  host().defineSubclass("LeakTask", "Python3Task",
                        {{"Progress", ignore}, {"Finished", ignore}, {"Failed", ignore}, {"Cancelled", ignore}});
  const std::string start = "Start(callable as Python3Entity, parameters as Python3Parameters) as Boolean";
  return {
      {"Python3Task (initializer)", "", {}, [] { host().newObject("Python3Task"); }},
      {"Python3Task (destructor)",
       "let go of while it runs",
       {"leak_tuple", "echo"},
       [&c] {
         const int64_t before = c.python.RefCount("echo");
         host().call(host().newObject("LeakTask"), "Start", {c.echo, c.arguments});
         // Its worker gives the call's references back as it ends, unseen: the row waits for that.
         const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         while (c.python.RefCount("echo") > before && std::chrono::steady_clock::now() < deadline)
           std::this_thread::yield();
       }},
      {TaskMember(start),
       "",
       {"leak_tuple", "echo"},
       [&c] { RunTask([&c](const Object& task) {
                host().call(task, "Start", {c.Entity("echo"), c.arguments});
              }); }},
      {TaskMember(start),
       "Nil callable",
       {"leak_tuple"},
       [&c, start] {
         Object task = host().newObject("LeakTask");
         const auto function = reinterpret_cast<bool (*)(REALobjectStruct*, REALobjectStruct*, REALobjectStruct*)>(
             host().memberFunctions("Python3Task", start).function);
         function(task.get(), nullptr, c.arguments.get());
         c.ClearError();
       }},
      {TaskMember("Start(callable as Python3Entity, parameters as Python3Parameters, keywords as Python3Dictionary) "
                  "as Boolean"),
       "",
       {"leak_tuple", "leak_keywords"},
       [&c] {
         RunTask([&c](const Object& task) {
           host().call(task, "Start", {c.Entity("keyword_echo"), c.arguments, c.keywords});
         });
       }},
      {TaskMember("Start(function as Python3Function, parameters as Python3Parameters) as Boolean"),
       "",
       {"leak_tuple", "echo"},
       [&c] { RunTask([&c](const Object& task) {
                host().call(task, "Start", {c.echo, c.arguments});
              }); }},
      {TaskMember("Start(function as Python3Function, parameters as Python3Parameters, keywords as "
                  "Python3Dictionary) as Boolean"),
       "",
       {"leak_tuple", "leak_keywords", "keyword_echo"},
       [&c] {
         RunTask([&c](const Object& task) { host().call(task, "Start", {c.keywordEcho, c.arguments, c.keywords}); });
       }},
      {TaskMember("StartSource(source as String) as Boolean"),
       "",
       {},
       [] { RunTask([](const Object& task) { host().call(task, "StartSource", {Str("leak_task_ran = [1, 2]")}); }); }},
      {TaskMember("Cancel()"),
       "",
       {"leak_tuple", "echo"},
       [&c] {
         RunTask([&c](const Object& task) {
           host().call(task, "Start", {c.echo, c.arguments});
           host().call(task, "Cancel");
         });
       }},
      {TaskMember("IsRunning as Boolean"),
       "",
       {},
       [] { host().getProperty(host().newObject("LeakTask"), "IsRunning"); }},
      {TaskMember("Wait(milliseconds as Integer) as Boolean"),
       "",
       {},
       [] { host().call(host().newObject("LeakTask"), "Wait", {int64_t{0}}); }},
      {TaskMember("Progress(fraction as Double, message as String)"),
       "",
       {"leak_text"},
       [] {
         RunTask([](const Object& task) {
           host().call(task, "StartSource",
                       {Str("import apitest, python3task\npython3task.progress(0.5, apitest.leak_text)")});
         });
       }},
      {TaskMember("Finished(result as Python3Result)"),
       "",
       {"leak_tuple", "echo"},
       [&c] { RunTask([&c](const Object& task) {
                host().call(task, "Start", {c.echo, c.arguments});
              }); }},
      {TaskMember("Failed(errorTypeName as String, message as String, traceback as String)"),
       "",
       {"leak_number"},
       [&c] { RunTask([&c](const Object& task) {
                host().call(task, "Start", {c.number, c.arguments});
              }); }},
      {TaskMember("Cancelled()"),
       "",
       {},
       [] {
         RunTask([](const Object& task) {
           host().call(task, "StartSource", {Str("import time\nwhile True: time.sleep(0.001)")});
           host().call(task, "Cancel");
         });
       }},
  };
}

}  // namespace api_tests
