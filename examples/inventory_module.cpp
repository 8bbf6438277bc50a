#include "inventory_module.h"

#include <iostream>
#include <map>
#include <string>

using xhost::Host;
using xhost::Object;
using xhost::Value;

namespace {

using PyPtr = void*;  // a Python object, as Xojo code holds it (Ptr)

Host& host() { return Host::instance(); }

// The module object, which its creator hands to Python.
Object inventory;

// --- what the functions share: reading arguments, returning values ---------

Object arguments(PyPtr args) { return host().newObject("Python3Parameters", {xhost::Ptr{args}}); }
int64_t integerArgument(PyPtr args, int64_t index) {
  return xhost::asInteger(host().call(arguments(args), "Int64Value", {index}));
}
std::string textArgument(PyPtr args, int64_t index) {
  return xhost::asString(host().call(arguments(args), "StringValue", {index})).bytes();
}
PyPtr returned(const Value& value) {
  return xhost::asPtr(host().call(host().newObject("Python3Result", {value}), "GetPtr"));
}
PyPtr raised(const std::string& message) {
  host().callShared("Python3Engine", "SetError",
                    {host().constant("Python3ErrorTypes.ValueError"), host().newString(message)});
  return nullptr;
}

// --- the module's functions --------------------------------------------------

// inventory.log(text): Python reports to the application.
PyPtr log(PyPtr, PyPtr args) {
  std::cout << "   [inventory.log, in the host] " << textArgument(args, 0) << "\n";
  return returned(true);
}

// inventory.price(count, cents): the application's own rule.
PyPtr price(PyPtr, PyPtr args) {
  const int64_t count = integerArgument(args, 0);
  const int64_t cents = integerArgument(args, 1);
  if (count < 0) return raised("a count cannot be negative");
  return returned(xhost::Int64{count * cents - (count >= 10 ? count * cents / 10 : 0)});
}

// inventory.quote(count, cents, discount_percent=0): keyword arguments
// arrive as a dictionary, Nil when the call passed none.
PyPtr quote(PyPtr, PyPtr args, PyPtr kwargs) {
  Object keywords = host().newObject("Python3Dictionary", {xhost::Ptr{kwargs}});
  Object discount = xhost::asObject(host().call(keywords, "GetValue", {host().newString("discount_percent")}));
  const int64_t percent = discount.isNil() ? 0 : xhost::asInteger(host().getProperty(discount, "Int64Value"));
  const int64_t total = integerArgument(args, 0) * integerArgument(args, 1);
  return returned(xhost::Int64{total - total * percent / 100});
}

// --- the class Stock(name, count) --------------------------------------------

// Each Stock instance carries a StockRecord object (Python3XojoClass.Data),
// a Xojo class of the application; its fields live here.
struct StockFields {
  std::string name;
  int64_t count = 0;
};
std::map<REALobjectStruct*, StockFields> stockFields;

StockFields* fieldsOf(PyPtr self) {
  Object record = xhost::asObject(host().callShared("Python3XojoClass", "Data", {xhost::Ptr{self}}));
  if (record.isNil()) return nullptr;
  return &stockFields[record.get()];
}

int32_t stockInit(PyPtr self, PyPtr args, PyPtr) {
  Object record = host().newObject("StockRecord");
  stockFields[record.get()] = StockFields{textArgument(args, 0), integerArgument(args, 1)};
  host().assignShared("Python3XojoClass", "Data", {xhost::Ptr{self}}, record);
  return 0;
}

// stock.take(n) returns what is left, or raises ValueError.
PyPtr stockTake(PyPtr self, PyPtr args) {
  StockFields* fields = fieldsOf(self);
  const int64_t wanted = integerArgument(args, 0);
  if (!fields || wanted > fields->count) return raised("not enough in stock");
  fields->count -= wanted;
  return returned(xhost::Int64{fields->count});
}

// stock.count, read-only.
PyPtr stockCount(PyPtr self, void*) {
  StockFields* fields = fieldsOf(self);
  return fields ? returned(xhost::Int64{fields->count}) : raised("no stock record");
}

PyPtr stockText(PyPtr self) {
  StockFields* fields = fieldsOf(self);
  if (!fields) return raised("no stock record");
  return returned(host().newString(fields->name + ": " + std::to_string(fields->count)));
}

// The module creator: Python calls it on the first import in each interpreter.
PyPtr createInventory() { return xhost::asPtr(host().call(inventory, "ModuleCreateProc")); }

template <typename Function>
xhost::Ptr address(Function function) {
  return xhost::Ptr{reinterpret_cast<void*>(function)};
}

}  // namespace

void publishInventoryModule() {
  host().defineSubclass("StockRecord", "Object");
  Object stock = host().newObject("Python3XojoClass", {host().newString("Stock"), address(&stockInit)});
  host().call(stock, "RegisterFunction", {host().newString("take"), address(&stockTake)});
  host().call(stock, "RegisterGetterSetter", {host().newString("count"), address(&stockCount), xhost::Ptr{nullptr}});
  host().call(stock, "SetToStringFunction", {address(&stockText)});

  inventory = host().newObject("Python3XojoModule", {host().newString("inventory")});
  host().call(inventory, "RegisterFunction", {host().newString("log"), address(&log)});
  host().call(inventory, "RegisterFunction", {host().newString("price"), address(&price)});
  host().call(inventory, "RegisterFunction", {host().newString("quote"), address(&quote), true});
  host().call(inventory, "SetDocumentation",
              {host().newString("quote"), host().newString("quote(count, cents, discount_percent=0) -> cents")});
  host().call(inventory, "AddClass", {stock});
  host().callShared("Python3Engine", "RegisterXojoModule", {inventory, address(&createInventory)});
}

void forgetInventoryModule() { inventory = Object(); }
