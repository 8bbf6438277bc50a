// Rows of Python3Entity's buffer members, their failures included, and of the
// Python object that exports a MemoryBlock's memory until Python frees it.
#include "LeakRows.h"

namespace api_tests {
namespace {

Object Block(size_t size) { return host().newMemoryBlock(std::string(size, '.')); }

Object FromMemoryBlock(const char* member, const Value& block, const char* format) {
  return xhost::asObject(host().callShared("Python3Entity", member, {block, Str(format)}));
}

}  // namespace

std::vector<Row> BufferRows(LeakObjects& c) {
  const auto m = [](const char* declaration) { return Member("Python3Entity", declaration); };
  const std::vector<std::string> buffers = {"leak_buffer", "leak_doubles", "leak_bytes", "leak_number"};
  // Each reader on objects that export a buffer, one that does not (its
  // TypeError cleared) and an entity that holds nothing.
  const auto reader = [&c](const char* name) {
    return [&c, name] {
      for (const Object& entity : {c.buffer, c.doubles, c.bytes, c.number, host().newObject("Python3Entity")})
        host().getProperty(entity, name);
      c.ClearError();
    };
  };
  // The factories' refusals, each error cleared.
  const auto refused = [&c](const char* member) {
    return [&c, member] {
      FromMemoryBlock(member, Nil{}, "d");
      FromMemoryBlock(member, Block(16), "not a format");
      FromMemoryBlock(member, Block(5), "i");
      c.ClearError();
    };
  };
  std::vector<Row> rows = {
      {m("BufferSize as Integer"), "", buffers, reader("BufferSize")},
      {m("BufferFormat as String"), "", buffers, reader("BufferFormat")},
      {m("BufferShape as String"), "", buffers, reader("BufferShape")},
      {m("CopyBuffer(into as MemoryBlock) as Integer"),
       "",
       {"leak_buffer", "leak_doubles"},
       [&c] {
         for (const Object& entity : {c.buffer, c.doubles}) host().call(entity, "CopyBuffer", {Block(32)});
       }},
      {m("CopyBuffer(into as MemoryBlock) as Integer"),
       "a block too small, Nil, or an object without a buffer",
       {"leak_buffer", "leak_number"},
       [&c] {
         for (const Value& block : {Value(Block(2)), Value(Nil{})}) {
           host().call(c.buffer, "CopyBuffer", {block});
           c.ClearError();
         }
         host().call(c.number, "CopyBuffer", {Block(8)});
         c.ClearError();
       }},
      {m("CopyBuffer(into as MemoryBlock) as Integer"),
       "items that are Python objects",
       {"leak_objects", "leak_item"},
       [&c] {
         host().call(c.Entity("leak_objects"), "CopyBuffer", {Block(32)});
         c.ClearError();
       }},
      {m("BufferView() as MemoryBlock"), "", {"leak_buffer"}, [&c] { host().call(c.buffer, "BufferView"); }},
      {m("BufferView() as MemoryBlock"),
       "items that are Python objects",
       {"leak_objects", "leak_item"},
       [&c] {
         host().call(c.Entity("leak_objects"), "BufferView");
         c.ClearError();
       }},
      {m("BufferView() as MemoryBlock"),
       "an entity made and dropped each time",
       {"leak_doubles"},
       [&c] { host().call(c.Entity("leak_doubles"), "BufferView"); }},
      {m("BufferView() as MemoryBlock"),
       "read-only, or no buffer",
       {"leak_bytes", "leak_number"},
       [&c] {
         for (const Object& entity : {c.bytes, c.number}) {
           host().call(entity, "BufferView");
           c.ClearError();
         }
       }},
      {"Python3Entity (destructor)",
       "",
       {"leak_buffer"},
       [&c] {
         Object entity = c.Entity("leak_buffer");
         host().call(entity, "BufferView");
       }},
      {m("FromMemoryBlock(block as MemoryBlock, format as String) as Python3Entity"),
       "",
       {},
       [] { FromMemoryBlock("FromMemoryBlock", Block(16), "d"); }},
      {m("FromMemoryBlock(block as MemoryBlock, format as String) as Python3Entity"),
       "Nil, a bad format, a part item",
       {},
       refused("FromMemoryBlock")},
      {m("FromMemoryBlockShared(block as MemoryBlock, format as String) as Python3Entity"),
       "",
       {},
       [] { FromMemoryBlock("FromMemoryBlockShared", Block(16), "<h"); }},
      {m("FromMemoryBlockShared(block as MemoryBlock, format as String) as Python3Entity"),
       "viewed from Python and dropped there",
       {"leak_items"},
       [&c] {
         Object list = c.items;
         host().call(list, "Append", {FromMemoryBlock("FromMemoryBlockShared", Block(16), "B")});
         c.python.Run("leak_items.pop()");
       }},
      {m("FromMemoryBlockShared(block as MemoryBlock, format as String) as Python3Entity"),
       "Nil, a bad format, a part item",
       {},
       refused("FromMemoryBlockShared")},
  };
  return rows;
}

}  // namespace api_tests
