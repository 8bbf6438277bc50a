// An application using the plugin as a Xojo program would, run in the
// replacement host: it finds Python, publishes a module of its own functions
// and a class to Python, starts Python with an application name, receives
// Python's output through the ConsoleOutput event, imports a module of its
// own, calls functions with arguments of several types, makes an instance of
// a Python class and calls its method, reads and writes module attributes of
// each type, hands a list and a dictionary built on the host side to Python
// and reads back what Python changed, round-trips bytes through a
// MemoryBlock, shares a MemoryBlock's memory with Python without a copy,
// draws a matplotlib chart of its numbers and writes the PNG that ImageData
// gave next to itself (example_chart.png), reading it back with FromImageData,
// reads a Python exception, runs source text, lets Python code
// call back into its functions, stops a runaway loop with Interrupt from a
// Cancel button that runs while the plugin yields, hears a Python thread
// while it idles and a logging warning through ErrorOutput, runs a
// three-second computation as a Python3Task whose progress comes as events
// while its run loop keeps turning (and cancels a second run), restarts the
// interpreter and finalizes it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "inventory_module.h"
#include "xhost/Host.h"

using xhost::Host;
using xhost::Object;
using xhost::Value;

namespace {

Host& host() { return Host::instance(); }

std::string text(const Value& value) { return xhost::asString(value).bytes(); }

const char* boolean(const Value& value) { return xhost::asBoolean(value) ? "True" : "False"; }

void step(const std::string& what) { std::cout << "\n== " << what << "\n"; }

// Python3Parameters filled slot by slot, as Xojo code fills them.
Object parameters(int64_t count) { return host().newObject("Python3Parameters", {count}); }

Object invoke(const Object& module, const std::string& name, const Object& arguments) {
  Object function = xhost::asObject(host().call(module, "GetFunction", {host().newString(name)}));
  if (function.isNil()) return Object();
  return xhost::asObject(host().call(function, "Invoke", {arguments}));
}

void reportError() {
  if (xhost::asBoolean(host().callShared("Python3Engine", "ErrorOccurred")))
    std::cout << "   Python3Engine.GetError: \"" << text(host().callShared("Python3Engine", "GetError")) << "\"\n";
}

void callFunctions(const Object& module) {
  step("Calling example_module.add(2, 3.5)");
  Object arguments = parameters(2);
  host().assign(arguments, "Int32Value", {int64_t{0}}, xhost::Int32{2});
  host().assign(arguments, "DoubleValue", {int64_t{1}}, 3.5);
  Object result = invoke(module, "add", arguments);
  std::cout << "   IsDouble: " << boolean(host().call(result, "IsDouble"))
            << ", DoubleValue: " << xhost::asDouble(host().call(result, "DoubleValue")) << "\n";

  step("Calling example_module.describe(\"ab\", 3, True)");
  arguments = parameters(3);
  host().assign(arguments, "StringValue", {int64_t{0}}, host().newString("ab"));
  host().assign(arguments, "Int64Value", {int64_t{1}}, xhost::Int64{3});
  host().assign(arguments, "BooleanValue", {int64_t{2}}, true);
  result = invoke(module, "describe", arguments);
  std::cout << "   StringValue: " << text(host().call(result, "StringValue")) << "\n";

  step("Calling example_module.stats((4, 8, 15))");
  Object values = parameters(3);
  int64_t slot = 0;
  for (int32_t value : {4, 8, 15}) host().assign(values, "Int32Value", {slot++}, xhost::Int32{value});
  arguments = parameters(1);
  host().assign(arguments, "TupleValue", {int64_t{0}}, values);
  result = invoke(module, "stats", arguments);
  Object tuple = xhost::asObject(host().call(result, "TupleValue"));
  std::cout << "   min " << xhost::asInteger(host().call(tuple, "Int64Value", {int64_t{0}})) << ", max "
            << xhost::asInteger(host().call(tuple, "Int64Value", {int64_t{1}})) << ", mean "
            << xhost::asDouble(host().call(tuple, "DoubleValue", {int64_t{2}})) << "\n";

  step("Calling example_module.greet(\"Xojo\"): its print arrives as ConsoleOutput events");
  arguments = parameters(1);
  host().assign(arguments, "StringValue", {int64_t{0}}, host().newString("Xojo"));
  result = invoke(module, "greet", arguments);
  std::cout << "   returned: " << text(host().call(result, "StringValue")) << "\n";

  step("Calling example_module.fail(\"bad value\"): Python raises ValueError");
  arguments = parameters(1);
  host().assign(arguments, "StringValue", {int64_t{0}}, host().newString("bad value"));
  result = invoke(module, "fail", arguments);
  std::cout << "   Invoke returned " << (result.isNil() ? "Nil" : "a result") << "\n";
  reportError();
}

// Python3Entity.From<kind>(value).
Object entity(const std::string& kind, const Value& value) {
  return xhost::asObject(host().callShared("Python3Entity", "From" + kind, {value}));
}

std::string shown(const Object& wrapper) { return text(host().call(wrapper, "ToString")); }

void useInstances(const Object& module) {
  step("Making instances of example_module.Counter and calling their method advance");
  Object counterClass = xhost::asObject(host().call(module, "GetClass", {host().newString("Counter")}));
  Object counter = xhost::asObject(host().call(counterClass, "CreateInstance"));
  Object advance = xhost::asObject(host().call(counter, "GetFunction", {host().newString("advance")}));
  Object result = xhost::asObject(host().call(advance, "Invoke", {xhost::Nil{}}));
  std::cout << "   Counter().advance() = " << xhost::asInteger(host().call(result, "Int64Value")) << "\n";

  Object arguments = parameters(1);
  host().assign(arguments, "Int32Value", {int64_t{0}}, xhost::Int32{100});
  Object keywords = host().newObject("Python3Dictionary");
  host().call(keywords, "SetValue", {host().newString("step"), entity("Int32", xhost::Int32{5})});
  Object stepped = xhost::asObject(host().call(counterClass, "CreateInstance", {arguments, keywords}));
  advance = xhost::asObject(host().call(stepped, "GetFunction", {host().newString("advance")}));
  Object times = parameters(1);
  host().assign(times, "Int32Value", {int64_t{0}}, xhost::Int32{3});
  result = xhost::asObject(host().call(advance, "Invoke", {times}));
  std::cout << "   Counter(100, step=5).advance(3) = " << xhost::asInteger(host().call(result, "Int64Value"))
            << "; its value field reads "
            << xhost::asInteger(host().call(stepped, "Int32Field", {host().newString("value")})) << "\n";
}

void useModuleAttributes(const Object& module) {
  step("Reading module attributes by type");
  auto field = [&](const char* getter, const char* name) {
    return host().call(module, getter, {host().newString(name)});
  };
  std::cout << "   Int32Field(answer) = " << xhost::asInteger(field("Int32Field", "answer"))
            << ", Int64Field(distance) = " << xhost::asInteger(field("Int64Field", "distance"))
            << ", UInt64Field(unsigned_max) = " << std::get<xhost::UInt64>(field("UInt64Field", "unsigned_max")).value
            << "\n   DoubleField(ratio) = " << xhost::asDouble(field("DoubleField", "ratio"))
            << ", BooleanField(enabled) = " << boolean(field("BooleanField", "enabled"))
            << ", StringField(title) = " << text(field("StringField", "title")) << "\n";

  step("Writing module attributes by type, and a host object");
  host().assign(module, "Int32Field", {host().newString("answer")}, xhost::Int32{7});
  host().assign(module, "Int64Field", {host().newString("distance")}, xhost::Int64{int64_t{1} << 50});
  host().assign(module, "DoubleField", {host().newString("ratio")}, 0.25);
  host().assign(module, "BooleanField", {host().newString("enabled")}, false);
  host().assign(module, "StringField", {host().newString("title")}, host().newString("Xojo \xE2\x86\x94 Python"));
  host().assign(module, "UInt64Field", {host().newString("unsigned_max")}, xhost::UInt64{1});
  Object folder = host().newFolderItem(EXAMPLE_PYTHON_DIR);
  host().assign(module, "ObjectField", {host().newString("folder")}, folder);
  Object arguments = parameters(0);
  Object result = invoke(module, "settings", arguments);
  std::cout << "   settings() = " << text(host().call(result, "StringValue")) << "\n";
  Object back = xhost::asObject(field("ObjectField", "folder"));
  std::cout << "   ObjectField(folder) gives back the same FolderItem: " << (back.get() == folder.get() ? "yes" : "no")
            << "; HasAttribute(folder) = " << boolean(host().call(module, "HasAttribute", {host().newString("folder")}))
            << ", DeleteAttribute(folder) = "
            << xhost::asInteger(host().call(module, "DeleteAttribute", {host().newString("folder")})) << "\n";
}

void useContainers(const Object& module) {
  step("Building a list and a dictionary on the host side and letting Python change them");
  Object items = host().newObject("Python3List");
  for (int32_t value : {3, 1, 2}) host().call(items, "Append", {entity("Int32", xhost::Int32{value})});
  Object table = host().newObject("Python3Dictionary");
  host().call(table, "SetValue", {host().newString("name"), entity("String", host().newString("numbers"))});
  host().call(table, "SetValue", {host().newString("remove me"), entity("Boolean", true)});
  std::cout << "   before: " << shown(items) << " " << shown(table) << "\n";
  Object arguments = parameters(2);
  host().assign(arguments, "ListValue", {int64_t{0}}, items);
  host().assign(arguments, "DictionaryValue", {int64_t{1}}, table);
  invoke(module, "grow", arguments);
  std::cout << "   after grow(items, table): " << shown(items) << " " << shown(table) << "\n";
  Object first = xhost::asObject(host().call(items, "GetItem", {int64_t{0}}));
  Object total = xhost::asObject(host().call(table, "GetValue", {host().newString("total")}));
  std::cout << "   items.Count = " << xhost::asInteger(host().getProperty(items, "Count"))
            << ", items.GetItem(0) = " << xhost::asInteger(host().getProperty(first, "Int64Value"))
            << ", table.GetValue(\"total\") = " << xhost::asInteger(host().getProperty(total, "Int64Value"))
            << ", table.GetKeys() = " << shown(xhost::asObject(host().call(table, "GetKeys"))) << "\n";
}

void useBytes(const Object& module) {
  step("Round-tripping bytes through a MemoryBlock");
  Object block = host().newMemoryBlock(std::string("\x00\x01Xojo\xFF", 7));
  Object bytes = host().newObject("Python3Bytes", {block});
  Object arguments = parameters(1);
  host().assign(arguments, "BytesValue", {int64_t{0}}, bytes);
  Object result = invoke(module, "reversed_bytes", arguments);
  Object reversed = xhost::asObject(host().call(result, "BytesValue"));
  Object back = xhost::asObject(host().call(reversed, "ToMemoryBlock"));
  std::cout << "   " << xhost::asInteger(host().getProperty(bytes, "Size")) << " bytes sent; reversed by Python:";
  for (unsigned char byte : host().memoryBlockBytes(back)) std::cout << " " << std::hex << int(byte) << std::dec;
  std::cout << "\n";
}

// The MemoryBlock's own memory reaches Python as a memoryview, without a
// copy: what Python writes there is in the block.
void shareMemoryBlock(const Object& module) {
  step("Sharing a MemoryBlock with Python without a copy: example_module.brighten(samples)");
  Object block = host().newMemoryBlock(std::string("\x01\x02\x03\x04\x40\x80\xC0\xFF", 8));
  Object view =
      xhost::asObject(host().callShared("Python3Entity", "FromMemoryBlockShared", {block, host().newString("B")}));
  Object samples = host().newObject("Python3List");
  host().call(samples, "Append", {view});
  Object arguments = parameters(1);
  host().assign(arguments, "ListValue", {int64_t{0}}, samples);
  Object sum = invoke(module, "brighten", arguments);
  std::cout << "   Python summed " << xhost::asInteger(host().getProperty(view, "BufferSize"))
            << " bytes: " << (sum.isNil() ? -1 : xhost::asInteger(host().call(sum, "Int64Value")))
            << "; the block now holds:";
  for (unsigned char byte : host().memoryBlockBytes(block)) std::cout << " " << std::hex << int(byte) << std::dec;
  std::cout << "\n";
  reportError();
}

// The folder of the running program, where the chart is written.
std::string programFolder() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string program(path, static_cast<size_t>(length));
  return program.substr(0, program.rfind('/'));
}

// A chart of the application's numbers drawn by matplotlib, handed back as
// PNG bytes (Picture.FromData in Xojo), written next to the program, read
// back from the file and handed to Python again as a Pillow Image
// (Picture.ToData's bytes in Xojo).
void drawChart(const Object& module) {
  step("A matplotlib chart of the application's numbers: ImageData, then FromImageData");
  Object sold = host().newObject("Python3List");
  for (double value : {12.0, 19.0, 7.5, 23.0, 16.0, 28.0})
    host().call(sold, "Append", {xhost::asObject(host().callShared("Python3Entity", "FromDouble", {value}))});
  Object arguments = parameters(2);
  host().assign(arguments, "StringValue", {int64_t{0}}, host().newString("Apples sold"));
  host().assign(arguments, "ListValue", {int64_t{1}}, sold);
  Object figure = invoke(module, "chart", arguments);
  if (figure.isNil()) {
    std::cout << "   no chart: " << text(host().callShared("Python3Engine", "GetError")) << "\n";
    return;
  }
  Object png = xhost::asObject(
      host().call(xhost::asObject(host().call(figure, "EntityValue")), "ImageData", {host().newString("png")}));
  if (png.isNil()) {
    std::cout << "   no picture: " << text(host().callShared("Python3Engine", "GetError")) << "\n";
    return;
  }
  const std::string bytes = host().memoryBlockBytes(png);
  const std::string path = programFolder() + "/example_chart.png";
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::cout << "   ImageData(\"png\"): " << bytes.size() << " bytes, written to " << path << "\n";
  std::ifstream file(path, std::ios::binary);
  const std::string read((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  Object image = xhost::asObject(host().callShared("Python3Entity", "FromImageData", {host().newMemoryBlock(read)}));
  if (image.isNil()) return reportError();
  std::cout
      << "   FromImageData of the file: " << text(host().getProperty(image, "TypeName")) << ", size "
      << text(host().call(xhost::asObject(host().call(image, "GetAttribute", {host().newString("size")})), "ToString"))
      << ", mode "
      << text(host().call(xhost::asObject(host().call(image, "GetAttribute", {host().newString("mode")})), "ToString"))
      << "\n";
}

// Python code calls the application's functions and class, then returns
// what it found; the application reads the tuple.
void useInventoryFromPython() {
  step("Python code using the application's module: example_host_use.stock_report()");
  Object module =
      xhost::asObject(host().callShared("Python3Engine", "GetModule", {host().newString("example_host_use")}));
  Object result = module.isNil() ? Object() : invoke(module, "stock_report", parameters(0));
  if (result.isNil()) return reportError();
  Object report = xhost::asObject(host().call(result, "TupleValue"));
  auto item = [&](const char* getter, int64_t index) { return host().call(report, getter, {index}); };
  std::cout << "   the host reads: price(12, 30) = " << xhost::asInteger(item("Int64Value", 0))
            << ", left after take(5) = " << xhost::asInteger(item("Int64Value", 1))
            << ", count = " << xhost::asInteger(item("Int64Value", 2)) << ", str = \"" << text(item("StringValue", 3))
            << "\", take(100) raised \"" << text(item("StringValue", 4)) << "\"\n"
            << "   quote(12, 30, discount_percent=25) = " << xhost::asInteger(item("Int64Value", 5))
            << " (keywords reach the host function); its __doc__: \"" << text(item("StringValue", 6)) << "\"\n";
}

Object importExampleModule() {
  host().callShared("Python3Engine", "AddSearchPath", {host().newFolderItem(EXAMPLE_PYTHON_DIR)});
  Object module =
      xhost::asObject(host().callShared("Python3Engine", "GetModule", {host().newString("example_module")}));
  std::cout << "   GetModule(\"example_module\"): "
            << (module.isNil() ? "Nil" : "Name = " + text(host().getProperty(module, "Name"))) << "\n";
  reportError();
  return module;
}

// A value that is no scalar, used as the object it is.
void useReturnedObject() {
  step("A returned datetime.date used through its methods and attributes");
  host().callShared("Python3Engine", "Execute", {host().newString("import datetime")});
  Object result = xhost::asObject(host().callShared(
      "Python3Engine", "Evaluate", {host().newString("datetime.date(2026, 12, 7) + datetime.timedelta(days=30)")}));
  Object date = xhost::asObject(host().call(result, "EntityValue"));
  Object iso = xhost::asObject(host().call(date, "CallMethod", {host().newString("isoformat"), xhost::Nil{}}));
  Object year = xhost::asObject(host().call(date, "GetAttribute", {host().newString("year")}));
  std::cout << "   TypeName: " << text(host().getProperty(date, "TypeName"))
            << ", CallMethod(\"isoformat\"): " << text(host().call(iso, "StringValue"))
            << ", GetAttribute(\"year\"): " << xhost::asInteger(host().getProperty(year, "Int64Value")) << "\n";
}

// What a desktop application needs beyond calls: stopping Python, hearing
// its threads and its standard error.
void desktopBehaviours() {
  using Clock = std::chrono::steady_clock;
  step("A runaway loop stopped by Interrupt from a Cancel button (yields every 20 ms)");
  host().callShared("Python3Engine", "SetYieldInterval", {int64_t{20}});
  const Clock::time_point started = Clock::now();
  Clock::time_point pressed{};
  // The application's other threads run while the plugin yields; this one is
  // the Cancel button, pressed after a quarter of a second.
  const int cancelButton = host().addCooperativeThread([&] {
    if (pressed == Clock::time_point{} && Clock::now() - started > std::chrono::milliseconds(250)) {
      pressed = Clock::now();
      host().callShared("Python3Engine", "Interrupt");
    }
  });
  const bool ran =
      xhost::asBoolean(host().callShared("Python3Engine", "Execute", {host().newString("while True: pass")}));
  const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
  host().removeCooperativeThread(cancelButton);
  host().callShared("Python3Engine", "SetYieldInterval", {int64_t{0}});
  std::cout << "   Execute returned " << (ran ? "True" : "False") << " " << latency.count()
            << " ms after Cancel; GetErrorTypeName: " << text(host().callShared("Python3Engine", "GetErrorTypeName"))
            << "\n";
  host().callShared("Python3Engine", "ClearError");

  step("A Python thread prints while the application idles");
  host().callShared("Python3Engine", "Execute",
                    {host().newString("import threading, time\n"
                                      "def work():\n"
                                      "    time.sleep(0.1)\n"
                                      "    print('background work finished')\n"
                                      "worker = threading.Thread(target=work)\n"
                                      "worker.start()\n")});
  std::cout << "   idling for half a second...\n";
  host().idle(std::chrono::milliseconds(500));
  host().callShared("Python3Engine", "Execute", {host().newString("worker.join()")});

  step("logging.warning arrives as an ErrorOutput event");
  host().callShared("Python3Engine", "Execute",
                    {host().newString("import logging\nlogging.warning('disk space is low')")});
}

// The Compute button: a computation of three seconds runs as a Python3Task;
// its progress comes as events while the application's run loop turns, which
// it counts. A second run is stopped by Cancel.
void computeInBackground(const Object& module) {
  using Clock = std::chrono::steady_clock;
  const auto milliseconds = [](Clock::duration span) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(span).count();
  };
  const Clock::time_point started = Clock::now();
  const auto at = [&] { return "   " + std::to_string(milliseconds(Clock::now() - started)) + " ms: "; };
  host().defineSubclass("ComputeTask", "Python3Task",
                        {{"Progress",
                          [&](const Object&, const std::vector<Value>& args) -> Value {
                            std::cout << at() << "Progress " << static_cast<int>(xhost::asDouble(args.at(0)) * 100)
                                      << "% (" << text(args.at(1)) << ")\n";
                            return {};
                          }},
                         {"Finished",
                          [&](const Object&, const std::vector<Value>& args) -> Value {
                            std::cout << at() << "Finished: "
                                      << xhost::asInteger(host().call(xhost::asObject(args.at(0)), "Int64Value"))
                                      << "\n";
                            return {};
                          }},
                         {"Failed",
                          [&](const Object&, const std::vector<Value>& args) -> Value {
                            std::cout << at() << "Failed: " << text(args.at(0)) << ": " << text(args.at(1)) << "\n";
                            return {};
                          }},
                         {"Cancelled", [&](const Object&, const std::vector<Value>&) -> Value {
                            std::cout << at() << "Cancelled\n";
                            return {};
                          }}});
  Object compute = xhost::asObject(host().call(module, "GetFunction", {host().newString("compute")}));
  for (const bool cancel : {false, true}) {
    step(cancel ? "Compute again, and Cancel after half a second"
                : "Compute: three seconds of Python as a Python3Task; the run loop keeps turning");
    Object task = host().newObject("ComputeTask");
    Object seconds = parameters(1);
    host().assign(seconds, "DoubleValue", {int64_t{0}}, 3.0);
    if (!xhost::asBoolean(host().call(task, "Start", {compute, seconds}))) return reportError();
    int64_t turns = 0;
    Clock::duration worstGap{};
    Clock::time_point last = Clock::now();
    const Clock::time_point began = last;
    bool cancelled = false;
    while (xhost::asBoolean(host().getProperty(task, "IsRunning"))) {
      host().idle(std::chrono::milliseconds(10));  // one turn of the run loop: the window repaints, events come
      ++turns;
      worstGap = std::max(worstGap, Clock::now() - last);
      last = Clock::now();
      if (cancel && !cancelled && last - began > std::chrono::milliseconds(500)) {
        std::cout << at() << "Cancel pressed\n";
        host().call(task, "Cancel");
        cancelled = true;
      }
    }
    std::cout << "   the run loop turned " << turns << " times meanwhile, the longest turn " << milliseconds(worstGap)
              << " ms\n";
  }
}

// Source text without a module on disk, and an error read in detail.
void runSourceText() {
  step("Execute: defining a function in __main__; Evaluate: calling it");
  host().callShared("Python3Engine", "Execute",
                    {host().newString("def circle_area(r):\n    return 3.14159 * r * r\n")});
  Object area = xhost::asObject(host().callShared("Python3Engine", "Evaluate", {host().newString("circle_area(2)")}));
  std::cout << "   circle_area(2) = " << xhost::asDouble(host().call(area, "DoubleValue")) << "\n";

  step("Execute of failing code: the error's type name and traceback");
  bool ran = xhost::asBoolean(host().callShared(
      "Python3Engine", "Execute", {host().newString("import json\nsettings = json.loads('{\"width\": ')")}));
  std::cout << "   Execute returned " << (ran ? "True" : "False") << "\n";
  std::cout << "   GetErrorTypeName: " << text(host().callShared("Python3Engine", "GetErrorTypeName")) << "\n";
  std::string traceback = text(host().callShared("Python3Engine", "GetErrorTraceback"));
  for (size_t start = 0, end; start < traceback.size(); start = end + 1) {
    end = traceback.find('\n', start);
    if (end == std::string::npos) end = traceback.size();
    std::cout << "   | " << traceback.substr(start, end - start) << "\n";
  }
  reportError();
}

int run(const char* pluginPath, const char* pythonLibrary) {
  step("Loading the plugin");
  host().loadPlugin(pluginPath);
  std::cout << "   " << host().registrations().size() << " classes, interfaces and modules registered\n";

  if (pythonLibrary) {
    step(std::string("Choosing the Python library ") + pythonLibrary);
    Object library = host().newFolderItem(pythonLibrary);
    host().callShared("Python3Engine", "SetPythonPath", {library});
    host().expectRetained(library);  // the plugin keeps its choice for the process
  }
  step("Python3Engine.PythonIsFound()");
  bool found = xhost::asBoolean(host().callShared("Python3Engine", "PythonIsFound"));
  std::cout << "   " << (found ? "True" : "False")
            << "; LibraryPath: " << text(host().callShared("Python3Engine", "LibraryPath"))
            << ", Version: " << text(host().callShared("Python3Engine", "Version")) << "\n";
  if (!found) return 1;

  step("Setting a console receiver of whole lines and starting Python as \"ExampleApp\"");
  auto show = [](const char* event) {
    return [event](const Object&, const std::vector<Value>& args) -> Value {
      std::string line = text(args.at(0));
      if (!line.empty() && line.back() == '\n') line.pop_back();
      std::cout << "   [" << event << "] " << line << "\n";
      return {};
    };
  };
  host().defineSubclass("ConsoleWindow", "Python3EngineConsoleOutput",
                        {{"ConsoleOutput", show("ConsoleOutput")}, {"ErrorOutput", show("ErrorOutput")}});
  Object console = host().newObject("ConsoleWindow");
  host().callShared("Python3Engine", "SetConsoleOutput", {console, true});
  host().expectRetained(console);  // the plugin keeps its receiver until another replaces it
  step("Publishing the module \"inventory\" (functions log and price, class Stock) before Python starts");
  publishInventoryModule();
  host().callShared("Python3Engine", "Init", {host().newString("ExampleApp")});

  step("Adding examples/python to the search path and importing example_module");
  Object module = importExampleModule();
  if (module.isNil()) return 1;
  callFunctions(module);
  useInstances(module);
  useModuleAttributes(module);
  useContainers(module);
  useBytes(module);
  shareMemoryBlock(module);
  useInventoryFromPython();
  drawChart(module);
  computeInBackground(module);
  module = Object();
  runSourceText();
  useReturnedObject();
  desktopBehaviours();

  step("Restarting the interpreter: Finalize, then Init (\"inventory\" stays registered)");
  host().callShared("Python3Engine", "Finalize");
  host().callShared("Python3Engine", "Init");
  std::cout << "   the search path is Python's own again, so the folder is added anew\n";
  module = importExampleModule();
  Object arguments = parameters(1);
  host().assign(arguments, "StringValue", {int64_t{0}}, host().newString("again"));
  invoke(module, "greet", arguments);
  useInventoryFromPython();
  module = Object();

  step("Finalizing");
  host().callShared("Python3Engine", "Finalize");
  forgetInventoryModule();
  std::cout << "   done" << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: " << argv[0] << " path/to/Python3Plugin.so [path/to/libpython3.X.so]\n";
    return 2;
  }
  try {
    return run(argv[1], argc > 2 ? argv[2] : nullptr);
  } catch (const std::exception& error) {
    std::cerr << "example failed: " << error.what() << "\n";
    return 1;
  }
}
