// Rows of the value wrappers: Python3EntityBase, Python3Entity, Python3Bytes,
// Python3Result, Python3List, Python3Dictionary and Python3Parameters.
#include "LeakRows.h"

namespace api_tests {
namespace {

// Typed families: one row per declaration, each calling the member on every
// kind of value (the neutral and error paths included).
const char* const kEntityProperties[] = {
    "Int32Value as Int32",
    "DoubleValue as Double",
    "StringValue as String",
    "BooleanValue as Boolean",
    "ObjectValue as Object",
    "Int64Value as Int64",
    "UInt64Value as UInt64",
    "BytesValue as Python3Bytes",
    "TupleValue as Python3Parameters",
    "ListValue as Python3List",
    "DictionaryValue as Python3Dictionary",
    "IsInteger as Boolean",
    "IsString as Boolean",
    "IsDouble as Boolean",
    "IsBytes as Boolean",
    "IsTuple as Boolean",
    "IsBoolean as Boolean",
    "IsList as Boolean",
    "IsObject as Boolean",
    "IsDictionary as Boolean",
    "FitsInInt32 as Boolean",
    "IsNone as Boolean",
    "IsCallable as Boolean",
    "InstanceValue as Python3Instance",
};

// Properties that can raise (repr, len): Python's error is cleared after each read.
const char* const kEntityObjectProperties[] = {
    "TypeName as String",
    "Repr as String",
    "Length as Integer",
};

const char* const kResultReaders[] = {
    "Int32Value() as Int32",
    "Int64Value() as Int64",
    "UInt64Value() as UInt64",
    "DoubleValue() as Double",
    "BooleanValue() as Boolean",
    "StringValue() as String",
    "BytesValue() as Python3Bytes",
    "ObjectValue() as Object",
    "IsString() as Boolean",
    "IsInteger() as Boolean",
    "FitsInInt32() as Boolean",
    "IsDouble() as Boolean",
    "IsBoolean() as Boolean",
    "IsObject() as Boolean",
    "IsTuple() as Boolean",
    "IsBytes() as Boolean",
    "TupleValue() as Python3Parameters",
    "IsDictionary() as Boolean",
    "DictionaryValue() as Python3Dictionary",
    "ListValue() as Python3List",
    "EntityValue() as Python3Entity",
    "IsList() as Boolean",
    "IsNone() as Boolean",
};

const char* const kParameterTests[] = {
    "IsBoolean(index as Integer) as Boolean",    "IsInteger(index as Integer) as Boolean",
    "IsDouble(index as Integer) as Boolean",     "IsString(index as Integer) as Boolean",
    "IsObject(index as Integer) as Boolean",     "FitsInInt32(index as Integer) as Boolean",
    "IsDictionary(index as Integer) as Boolean", "IsTuple(index as Integer) as Boolean",
    "IsBytes(index as Integer) as Boolean",      "IsList(index as Integer) as Boolean",
    "IsNone(index as Integer) as Boolean",
};

// An assignable item of Python3Parameters, the value it is assigned, and what
// that value holds.
struct Slot {
  const char* declaration;
  Value assigned;
  std::vector<std::string> touched;
};

std::vector<Slot> Slots(const LeakObjects& c) {
  return {
      {"Int32Value(index as Integer) as Int32", Int32{1234567}, {}},
      {"StringValue(index as Integer) as String", Str("assigned text"), {}},
      {"DoubleValue(index as Integer) as Double", 2.5, {}},
      {"BooleanValue(index as Integer) as Boolean", true, {}},
      {"ObjectValue(index as Integer) as Object", c.hostObject, {}},
      {"Int64Value(index as Integer) as Int64", Int64{int64_t{1} << 40}, {}},
      {"UInt64Value(index as Integer) as UInt64", UInt64{uint64_t{1} << 63}, {}},
      {"DictionaryValue(index as Integer) as Python3Dictionary", c.mapping, {"leak_mapping"}},
      {"TupleValue(index as Integer) as Python3Parameters", c.arguments, {"leak_tuple"}},
      {"ListValue(index as Integer) as Python3List", c.items, {"leak_items"}},
      {"BytesValue(index as Integer) as Python3Bytes", c.bytesValue, {"leak_bytes"}},
  };
}

// Every entity of leak_values, and one holding nothing.
std::vector<Object> ValueEntities(const LeakObjects& c) {
  return {c.number, c.text, c.ratio, c.capsule, c.dict, c.tuple, c.list, c.bytes, host().newObject("Python3Entity")};
}

Object NewList() { return host().newObject("Python3List"); }
Object NewDictionary() { return host().newObject("Python3Dictionary"); }

}  // namespace

// The members that use a value as the object it is, each with its failure.
std::vector<Row> EntityObjectRows(LeakObjects& c) {
  const auto m = [](const char* declaration) { return Member("Python3Entity", declaration); };
  const auto cleared = [&c](std::function<void()> call) {
    return [&c, call] {
      call();
      c.ClearError();
    };
  };
  const std::string getAttribute = m("GetAttribute(name as String) as Python3Entity");
  const std::string setAttribute = m("SetAttribute(name as String, value as Python3EntityBase) as Boolean");
  const std::string callMethod = m("CallMethod(name as String, parameters as Python3Parameters) as Python3Result");
  const std::string invoke = m("Invoke(parameters as Python3Parameters) as Python3Result");
  const std::string getItem = m("GetItem(key as Python3EntityBase) as Python3Entity");
  const std::string setItem = m("SetItem(key as Python3EntityBase, value as Python3EntityBase) as Boolean");
  const std::string items = m("Items() as Python3List");
  const std::string fromNewPtr = m("FromNewPtr(value as Ptr) as Python3Entity");
  return {
      {getAttribute,
       "",
       {"leak_error", "leak_message", "leak_error.args"},
       [&c] { host().call(c.error, "GetAttribute", {Str("args")}); }},
      {getAttribute, "missing", {"leak_error"}, cleared([&c] {
         host().call(c.error, "GetAttribute", {Str("leak_absent")});
       })},
      {setAttribute,
       "",
       {"leak_instance", "leak_number"},
       [&c] {
         host().call(c.Entity("leak_instance"), "SetAttribute", {Str("leak_number"), c.number});
       }},
      {setAttribute, "refused", {"leak_text", "leak_number"}, cleared([&c] {
         host().call(c.text, "SetAttribute", {Str("leak_absent"), c.number});
       })},
      {m("HasAttribute(name as String) as Boolean"),
       "",
       {"leak_error"},
       [&c] { host().call(c.error, "HasAttribute", {Str("args")}); }},
      {callMethod,
       "",
       {"leak_text"},
       [&c] {
         host().call(c.text, "CallMethod", {Str("upper"), Nil{}});
       }},
      {callMethod, "raises", {"leak_text", "leak_list"}, cleared([&c] {
         host().call(c.text, "CallMethod", {Str("index"), c.arguments});
       })},
      {m("CallMethod(name as String, parameters as Python3Parameters, keywords as Python3Dictionary) as "
         "Python3Result"),
       "",
       {"leak_updated", "leak_keywords", "leak_text"},
       [&c] {
         host().call(c.Entity("leak_updated"), "CallMethod", {Str("update"), Nil{}, c.keywords});
       }},
      {invoke,
       "",
       {"leak_tuple", "leak_list", "leak_text"},
       [&c] { host().call(c.Entity("echo"), "Invoke", {c.arguments}); }},
      {invoke, "not callable", {"leak_text"}, cleared([&c] { host().call(c.text, "Invoke", {Nil{}}); })},
      {m("Invoke(parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Result"),
       "",
       {"leak_keywords", "leak_text"},
       [&c] {
         host().call(c.Entity("dict"), "Invoke", {Nil{}, c.keywords});
       }},
      {getItem,
       "",
       {"leak_mapping", "leak_key", "leak_item"},
       [&c] { host().call(c.Entity("leak_mapping"), "GetItem", {c.key}); }},
      {getItem, "missing", {"leak_mapping", "leak_text"}, cleared([&c] {
         host().call(c.Entity("leak_mapping"), "GetItem", {c.text});
       })},
      {setItem,
       "",
       {"leak_updated", "leak_key", "leak_item"},
       [&c] {
         host().call(c.Entity("leak_updated"), "SetItem", {c.key, c.item});
       }},
      {setItem, "refused", {"leak_tuple", "leak_number", "leak_item"}, cleared([&c] {
         host().call(c.tuple, "SetItem", {c.number, c.item});
       })},
      {items, "", {"leak_dict"}, [&c] { host().call(c.dict, "Items"); }},
      {items, "not iterable", {"leak_number"}, cleared([&c] { host().call(c.number, "Items"); })},
      {fromNewPtr,
       "",
       {"leak_text"},
       [&c] { host().callShared("Python3Entity", "FromNewPtr", {host().call(c.text, "GetPtr")}); }},
      {fromNewPtr, "Nil", {}, [] { host().callShared("Python3Entity", "FromNewPtr", {Ptr{nullptr}}); }},
  };
}

std::vector<Row> EntityRows(LeakObjects& c) {
  const auto base = [](const char* declaration) { return Member("Python3EntityBase", declaration); };
  const auto shared = [](const char* declaration) { return Member("Python3Entity", declaration); };
  std::vector<Row> rows = {
      {base("Constructor()"), "", {}, [] { host().newObject("Python3EntityBase"); }},
      {"Python3EntityBase (initializer)", "", {"leak_item"}, [&c] { host().call(c.items, "GetItem", {int64_t{0}}); }},
      {"Python3EntityBase (destructor)", "", {"leak_item"}, [&c] { host().call(c.items, "GetItem", {int64_t{0}}); }},
      {base("ToString() as String"), "", {"leak_text"}, [&c] { host().call(c.text, "ToString"); }},
      {base("ToString() as String"),
       "an exception",
       {"leak_error", "leak_message"},
       [&c] { host().call(c.error, "ToString"); }},
      {base("ToString() as String"),
       "an object whose str() raises",
       {"leak_unprintable"},
       [&c] {
         host().call(c.unprintable, "ToString");
         c.ClearError();
       }},
      {base("ToString() as String"),
       "holding nothing",
       {},
       [] { host().call(host().newObject("Python3Entity"), "ToString"); }},
      {base("Hash() as Int64"), "", {"leak_text"}, [&c] { host().call(c.text, "Hash"); }},
      {base("Hash() as Int64"),
       "an unhashable object",
       {"leak_list"},
       [&c] {
         host().call(c.list, "Hash");
         c.ClearError();
       }},
      {base("GetPtr() as Ptr"), "", {"leak_text"}, [&c] { c.Release(host().call(c.text, "GetPtr")); }},
      {base("GetPtr() as Ptr"),
       "holding nothing",
       {},
       [] { host().call(host().newObject("Python3Entity"), "GetPtr"); }},
      {shared("Constructor()"), "", {}, [] { host().newObject("Python3Entity"); }},
      {shared("FromInt32(value as Int32) as Python3Entity"),
       "",
       {},
       [] { host().callShared("Python3Entity", "FromInt32", {Int32{1234567}}); }},
      {shared("FromDouble(value as Double) as Python3Entity"),
       "",
       {},
       [] { host().callShared("Python3Entity", "FromDouble", {2.5}); }},
      {shared("FromString(value as String) as Python3Entity"),
       "",
       {},
       [] { host().callShared("Python3Entity", "FromString", {Str("entity text")}); }},
      {shared("FromBoolean(value as Boolean) as Python3Entity"),
       "",
       {},
       [] { host().callShared("Python3Entity", "FromBoolean", {true}); }},
      {shared("FromObject(value as Object) as Python3Entity"),
       "",
       {},
       [&c] { host().callShared("Python3Entity", "FromObject", {c.hostObject}); }},
      {shared("FromObject(value as Object) as Python3Entity"),
       "Nil",
       {},
       [] { host().callShared("Python3Entity", "FromObject", {Nil{}}); }},
      {shared("FromInt64(value as Int64) as Python3Entity"),
       "",
       {},
       [] { host().callShared("Python3Entity", "FromInt64", {Int64{int64_t{1} << 40}}); }},
      {shared("FromUInt64(value as UInt64) as Python3Entity"),
       "",
       {},
       [] { host().callShared("Python3Entity", "FromUInt64", {UInt64{uint64_t{1} << 63}}); }},
      {shared("FromPtr(value as Ptr) as Python3Entity"),
       "",
       {"leak_text"},
       [&c] { host().callShared("Python3Entity", "FromPtr", {Ptr{c.AddressOf("leak_text")}}); }},
      {shared("FromPtr(value as Ptr) as Python3Entity"),
       "Nil",
       {},
       [] { host().callShared("Python3Entity", "FromPtr", {Ptr{nullptr}}); }},
  };
  for (const char* declaration : kEntityProperties) {
    const std::string name = NameOf(declaration);
    rows.push_back({shared(declaration), "", kValueExpressions, [&c, name] {
                      for (const Object& entity : ValueEntities(c)) host().getProperty(entity, name);
                    }});
  }
  for (const char* declaration : kEntityObjectProperties) {
    const std::string name = NameOf(declaration);
    rows.push_back({shared(declaration), "", kValueExpressions, [&c, name] {
                      for (const Object& entity : ValueEntities(c)) {
                        host().getProperty(entity, name);
                        c.ClearError();
                      }
                    }});
  }
  for (Row& row : EntityObjectRows(c)) rows.push_back(std::move(row));
  return rows;
}

std::vector<Row> BytesAndResultRows(LeakObjects& c) {
  const auto bytes = [](const char* declaration) { return Member("Python3Bytes", declaration); };
  const auto result = [](const char* declaration) { return Member("Python3Result", declaration); };
  std::vector<Row> rows = {
      {bytes("Size as Int64"), "", {"leak_bytes"}, [&c] { host().getProperty(c.bytesValue, "Size"); }},
      {bytes("Constructor(value as String)"), "", {}, [] { host().newObject("Python3Bytes", {Str("bytes text")}); }},
      {bytes("Constructor(value as MemoryBlock)"),
       "",
       {},
       [] { host().newObject("Python3Bytes", {host().newMemoryBlock("memory block")}); }},
      {bytes("ToString() as String"), "", {"leak_bytes"}, [&c] { host().call(c.bytesValue, "ToString"); }},
      {bytes("ToMemoryBlock() as MemoryBlock"),
       "",
       {"leak_bytes"},
       [&c] { host().call(c.bytesValue, "ToMemoryBlock"); }},
      {"Python3Bytes (destructor)", "", {"leak_bytes"}, [&c] { host().getProperty(c.bytes, "BytesValue"); }},
      {result("FromBytes(bytes as Python3Bytes) as Python3Result"),
       "",
       {"leak_bytes"},
       [&c] { host().callShared("Python3Result", "FromBytes", {c.bytesValue}); }},
      {result("FromBytes(bytes as Python3Bytes) as Python3Result"),
       "Nil",
       {},
       [] { host().callShared("Python3Result", "FromBytes", {Nil{}}); }},
      {result("GetPtr() as Ptr"), "", kValueExpressions,
       [&c] {
         for (const Object& held : c.results) c.Release(host().call(held, "GetPtr"));
       }},
      {result("Constructor()"), "", {}, [] { host().newObject("Python3Result"); }},
      {"Python3Result (destructor)", "", {"leak_text"}, [&c] { host().call(c.echo, "Invoke", {c.arguments}); }},
  };
  for (const auto& [declaration, value] :
       std::vector<std::pair<const char*, Value>>{{"Constructor(value as Int32)", Int32{1234567}},
                                                  {"Constructor(value as Int64)", Int64{int64_t{1} << 40}},
                                                  {"Constructor(value as UInt64)", UInt64{uint64_t{1} << 63}},
                                                  {"Constructor(value as Double)", 2.5},
                                                  {"Constructor(value as String)", Str("result text")},
                                                  {"Constructor(value as Boolean)", true},
                                                  {"Constructor(value as Object)", c.hostObject}}) {
    rows.push_back({result(declaration), "", {}, [value = value] { host().newObject("Python3Result", {value}); }});
  }
  for (const char* declaration : kResultReaders) {
    const std::string name = NameOf(declaration);
    rows.push_back({result(declaration), "", kValueExpressions, [&c, name] {
                      for (const Object& held : c.results) {
                        host().call(held, name);
                        c.ClearError();  // a reader of another type leaves Python's error set
                      }
                    }});
  }
  return rows;
}

std::vector<Row> ListRows(LeakObjects& c) {
  const auto m = [](const char* declaration) { return Member("Python3List", declaration); };
  const std::string extend = m("Extend(items as IPython3Iterable)");
  return {
      {m("Count as Integer"), "", {"leak_items"}, [&c] { host().getProperty(c.items, "Count"); }},
      {m("Constructor()"), "", {}, [] { NewList(); }},
      {m("Clear()"),
       "",
       {"leak_list"},
       [&c] { host().call(xhost::asObject(host().getProperty(c.list, "ListValue")), "Clear"); }},
      {m("Append(value as Python3EntityBase)"),
       "",
       {"leak_item"},
       [&c] { host().call(NewList(), "Append", {c.item}); }},
      {m("Append(value as Python3EntityBase)"), "Nil", {}, [] { host().call(NewList(), "Append", {Nil{}}); }},
      {m("Insert(index as Integer, value as Python3EntityBase)"),
       "",
       {"leak_item"},
       [&c] {
         Object list = NewList();
         for (int64_t index : {0, 5, -5}) host().call(list, "Insert", {index, c.item});
       }},
      {m("GetItem(index as Integer) as Python3Entity"),
       "",
       {"leak_item", "leak_items"},
       [&c] { host().call(c.items, "GetItem", {int64_t{0}}); }},
      {m("GetItem(index as Integer) as Python3Entity"),
       "out of range",
       {"leak_items"},
       [&c] {
         host().call(c.items, "GetItem", {int64_t{99}});
         c.ClearError();
       }},
      {m("SetItem(index as Integer, value as Python3EntityBase)"),
       "",
       {"leak_item", "leak_items"},
       [&c] {
         host().call(c.items, "SetItem", {int64_t{0}, c.item});
       }},
      {m("SetItem(index as Integer, value as Python3EntityBase)"),
       "out of range",
       {"leak_item"},
       [&c] {
         host().call(c.items, "SetItem", {int64_t{99}, c.item});
         c.ClearError();
       }},
      {m("AsTuple() as Python3Parameters"), "", {"leak_item", "leak_text"}, [&c] { host().call(c.items, "AsTuple"); }},
      {m("Sort()"), "", {"leak_item", "leak_text"}, [&c] { host().call(c.items, "Sort"); }},
      {m("Sort()"),
       "items that cannot be compared",
       {"leak_number", "leak_text"},
       [&c] { c.Refused([&] { host().call(c.unsortable, "Sort"); }); }},
      {m("Reverse()"), "", {"leak_item", "leak_text"}, [&c] { host().call(c.items, "Reverse"); }},
      {m("GetSlice(lowIndex as Integer, highIndex as Integer) as Python3List"),
       "",
       {"leak_item", "leak_text"},
       [&c] {
         host().call(c.items, "GetSlice", {int64_t{0}, int64_t{1}});
         host().call(c.items, "GetSlice", {int64_t{-99}, int64_t{99}});
       }},
      {extend, "a list", {"leak_item", "leak_text"}, [&c] { host().call(NewList(), "Extend", {c.items}); }},
      {extend, "a tuple", {"leak_list", "leak_text"}, [&c] { host().call(NewList(), "Extend", {c.arguments}); }},
      {extend, "a dictionary", {"leak_key"}, [&c] { host().call(NewList(), "Extend", {c.mapping}); }},
  };
}

std::vector<Row> DictionaryRows(LeakObjects& c) {
  const auto m = [](const char* declaration) { return Member("Python3Dictionary", declaration); };
  const std::string containsText = m("Contains(key as String) as Boolean");
  const std::string containsKey = m("Contains(key as Python3EntityBase) as Boolean");
  const std::string getText = m("GetValue(key as String) as Python3Entity");
  const std::string getKey = m("GetValue(key as Python3EntityBase) as Python3Entity");
  const std::string setText = m("SetValue(key as String, value as Python3EntityBase)");
  const std::string setKey = m("SetValue(key as Python3EntityBase, value as Python3EntityBase)");
  const std::string removeText = m("Remove(key as String)");
  const std::string removeKey = m("Remove(key as Python3EntityBase)");
  const std::string merge = m("Merge(other as Python3Dictionary, override as Boolean)");
  const std::string setDefault = m("SetDefault(key as String, defaultValue as Python3EntityBase) as Python3Entity");
  const std::vector<std::string> entry = {"leak_key", "leak_item", "leak_mapping"};
  return {
      {m("Count as Integer"), "", {"leak_mapping"}, [&c] { host().getProperty(c.mapping, "Count"); }},
      {m("Constructor()"), "", {}, [] { NewDictionary(); }},
      {m("Constructor(dictionaryPtr as Ptr)"),
       "",
       {"leak_mapping"},
       [&c] { host().newObject("Python3Dictionary", {Ptr{c.AddressOf("leak_mapping")}}); }},
      {m("Constructor(dictionaryPtr as Ptr)"),
       "no dict",
       {"leak_list"},
       [&c] {
         host().newObject("Python3Dictionary", {Ptr{c.AddressOf("leak_list")}});
         c.ClearError();
       }},
      {"Python3Dictionary (destructor)", "", {"leak_dict"}, [&c] { host().getProperty(c.dict, "DictionaryValue"); }},
      {m("Clear()"),
       "",
       {"leak_key", "leak_item"},
       [&c] {
         Object dictionary = NewDictionary();
         host().call(dictionary, "SetValue", {c.key, c.item});
         host().call(dictionary, "Clear");
       }},
      {containsText, "", entry, [&c] { host().call(c.mapping, "Contains", {Str("leak key")}); }},
      {containsText,
       "an absent key",
       {"leak_mapping"},
       [&c] { host().call(c.mapping, "Contains", {Str("absent key")}); }},
      {containsKey, "", entry, [&c] { host().call(c.mapping, "Contains", {c.key}); }},
      {containsKey,
       "an unhashable key",
       {"leak_list"},
       [&c] { c.Refused([&] { host().call(c.mapping, "Contains", {c.list}); }); }},
      {getText, "", entry, [&c] { host().call(c.mapping, "GetValue", {Str("leak key")}); }},
      {getText, "an absent key", {}, [&c] { host().call(c.mapping, "GetValue", {Str("absent key")}); }},
      {getKey, "", entry, [&c] { host().call(c.mapping, "GetValue", {c.key}); }},
      {getKey,
       "an unhashable key",
       {"leak_list"},
       [&c] {
         host().call(c.mapping, "GetValue", {c.list});
         c.ClearError();
       }},
      {setText, "", entry,
       [&c] {
         host().call(c.mapping, "SetValue", {Str("leak key"), c.item});
       }},
      {setText,
       "Nil",
       {"leak_mapping"},
       [&c] {
         host().call(c.mapping, "SetValue", {Str("leak key"), Nil{}});
       }},
      {setKey, "", entry,
       [&c] {
         host().call(c.mapping, "SetValue", {c.key, c.item});
       }},
      {setKey,
       "an unhashable key",
       {"leak_list", "leak_item"},
       [&c] {
         host().call(c.mapping, "SetValue", {c.list, c.item});
         c.ClearError();
       }},
      {m("GetKeys() as Python3List"), "", entry, [&c] { host().call(c.mapping, "GetKeys"); }},
      {m("GetValues() as Python3List"), "", entry, [&c] { host().call(c.mapping, "GetValues"); }},
      {m("Copy() as Python3Dictionary"), "", entry, [&c] { host().call(c.mapping, "Copy"); }},
      {removeText,
       "",
       {"leak_item"},
       [&c] {
         Object dictionary = NewDictionary();
         host().call(dictionary, "SetValue", {Str("removed key"), c.item});
         host().call(dictionary, "Remove", {Str("removed key")});
       }},
      {removeText,
       "an absent key",
       {"leak_mapping"},
       [&c] { c.Refused([&] { host().call(c.mapping, "Remove", {Str("absent key")}); }); }},
      {removeKey,
       "",
       {"leak_key", "leak_item"},
       [&c] {
         Object dictionary = NewDictionary();
         host().call(dictionary, "SetValue", {c.key, c.item});
         host().call(dictionary, "Remove", {c.key});
       }},
      {removeKey,
       "an absent key",
       {"leak_text", "leak_mapping"},
       [&c] {
         host().call(c.mapping, "Remove", {c.text});
         c.ClearError();
       }},
      {merge,
       "",
       {"leak_key", "leak_item", "leak_merged"},
       [&c] {
         host().call(c.merged, "Merge", {c.mapping, true});
         host().call(c.merged, "Merge", {c.mapping, false});
       }},
      {merge,
       "Nil",
       {"leak_merged"},
       [&c] {
         host().call(c.merged, "Merge", {Nil{}, true});
       }},
      {setDefault, "a present key", entry,
       [&c] {
         host().call(c.mapping, "SetDefault", {Str("leak key"), c.text});
       }},
      {setDefault,
       "an absent key",
       {"leak_item"},
       [&c] {
         host().call(NewDictionary(), "SetDefault", {Str("absent key"), c.item});
       }},
  };
}

std::vector<Row> ParametersRows(LeakObjects& c) {
  const auto m = [](const std::string& declaration) { return Member("Python3Parameters", declaration); };
  std::vector<Row> rows = {
      {m("Count as Integer"), "", {"leak_values"}, [&c] { host().getProperty(c.values, "Count"); }},
      {m("LastError as Integer"), "", {"leak_values"}, [&c] { host().getProperty(c.values, "LastError"); }},
      {m("ClearError()"), "", {"leak_values"}, [&c] { host().call(c.values, "ClearError"); }},
      {m("Constructor(parameterCount as Integer)"),
       "",
       {},
       [] { host().newObject("Python3Parameters", {int64_t{3}}); }},
      {m("Constructor(parameterCount as Integer)"),
       "a negative count",
       {},
       [&c] {
         host().newObject("Python3Parameters", {int64_t{-1}});
         c.ClearError();
       }},
      {m("Constructor(paramPtr as Ptr)"),
       "",
       {"leak_tuple"},
       [&c] { host().newObject("Python3Parameters", {Ptr{c.AddressOf("leak_tuple")}}); }},
      {m("Constructor(paramPtr as Ptr)"), "Nil", {}, [] { host().newObject("Python3Parameters", {Ptr{nullptr}}); }},
      {"Python3Parameters (destructor)", "", {"leak_tuple"}, [&c] { host().getProperty(c.tuple, "TupleValue"); }},
  };
  const int64_t count = 10;  // the items of leak_values
  for (const Slot& slot : Slots(c)) {
    const std::string name = NameOf(slot.declaration);
    rows.push_back({m(slot.declaration), "", kValueExpressions, [&c, name, count] {
                      for (int64_t index = -1; index <= count; ++index) host().call(c.values, name, {index});
                      c.ClearError();
                    }});
    rows.push_back({m(slot.declaration) + " (assigns)", "", slot.touched,
                    [&c, name, value = slot.assigned] { host().assign(c.slots, name, {int64_t{0}}, value); }});
    // Nil is a value only of the object types.
    const bool takesNil = std::holds_alternative<Object>(slot.assigned);
    rows.push_back({m(slot.declaration) + " (assigns)", takesNil ? "out of range, and Nil" : "out of range",
                    slot.touched, [&c, name, value = slot.assigned, takesNil] {
                      host().assign(c.slots, name, {int64_t{5}}, value);
                      if (takesNil) host().assign(c.slots, name, {int64_t{0}}, Nil{});
                      host().call(c.slots, "ClearError");
                      c.ClearError();  // Python refuses a capsule of Nil
                    }});
  }
  for (const char* declaration : kParameterTests) {
    const std::string name = NameOf(declaration);
    rows.push_back({m(declaration), "", kValueExpressions, [&c, name, count] {
                      for (int64_t index = -1; index <= count; ++index) host().call(c.values, name, {index});
                    }});
  }
  return rows;
}

}  // namespace api_tests
