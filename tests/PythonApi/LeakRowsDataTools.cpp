// Rows of Python3Entity's image and column members, their failures included.
// Where the library has matplotlib, Pillow, numpy and pandas, the rows use
// them too; elsewhere the members fail, and that path is repeated.
#include "LeakRows.h"

namespace api_tests {
namespace {

// A PNG of one black pixel.
const std::string kOnePixelPng(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00\x01\x08\x00\x00"
    "\x00\x00\x3a\x7e\x9b\x55\x00\x00\x00\x0a\x49\x44\x41\x54\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01\x48\xaf\xa4"
    "\x71\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    67);

Value FromImageData(const Value& block) { return host().callShared("Python3Entity", "FromImageData", {block}); }

}  // namespace

std::vector<Row> DataToolRows(LeakObjects& c) {
  const auto m = [](const char* declaration) { return Member("Python3Entity", declaration); };
  const char* imageData = "ImageData(format as String) as MemoryBlock";
  return {
      {m(imageData),
       "",
       {"leak_drawing", "leak_bytes"},
       [&c] { host().call(c.Entity("leak_drawing"), "ImageData", {Str("png")}); }},
      {m(imageData),
       "a Figure, a Pillow Image, an array, where the library has them",
       {},
       [&c] {
         const int64_t count = c.python.IntegerOf("leak_data_images()");
         for (int64_t index = 0; index < count; ++index)
           host().call(c.Entity("leak_images[" + std::to_string(index) + "]"), "ImageData", {Str("")});
         c.ClearError();
         // Drawing a Figure leaves reference cycles of matplotlib's own, which
         // Python's collector frees only at its next full collection.
         c.python.Run("gc.collect()");
       }},
      {m(imageData),
       "no image, another format, or an entity that holds nothing",
       {"leak_number", "leak_drawing"},
       [&c] {
         host().call(c.number, "ImageData", {Str("png")});
         c.ClearError();
         host().call(c.Entity("leak_drawing"), "ImageData", {Str("gif")});
         c.ClearError();
         host().call(host().newObject("Python3Entity"), "ImageData", {Str("png")});
       }},
      {m("FromImageData(data as MemoryBlock) as Python3Entity"),
       "",
       {},
       [&c] {
         FromImageData(host().newMemoryBlock(kOnePixelPng));
         c.ClearError();  // without Pillow
       }},
      {m("FromImageData(data as MemoryBlock) as Python3Entity"),
       "Nil, empty, truncated",
       {},
       [&c] {
         for (const Value& block : {Value(Nil{}), Value(host().newMemoryBlock("")),
                                    Value(host().newMemoryBlock(kOnePixelPng.substr(0, 40)))}) {
           FromImageData(block);
           c.ClearError();
         }
       }},
      {m("ColumnNames() as Python3List"),
       "",
       {"leak_table", "leak_key", "leak_item"},
       [&c] { host().call(c.Entity("leak_table"), "ColumnNames"); }},
      {m("ColumnNames() as Python3List"),
       "no table, or an entity that holds nothing",
       {"leak_number"},
       [&c] {
         host().call(c.number, "ColumnNames");
         c.ClearError();
         host().call(host().newObject("Python3Entity"), "ColumnNames");
       }},
      {m("Column(name as String) as Python3Entity"),
       "",
       {"leak_table", "leak_text"},
       [&c] {
         Object table = c.Entity("leak_table");
         host().call(table, "Column", {Str("leak key")});
         host().call(table, "Column", {Str("leak item")});
       }},
      {m("Column(name as String) as Python3Entity"),
       "of a DataFrame, where the library has pandas",
       {},
       [&c] {
         if (!c.python.TruthOf("leak_data_frame()")) return;
         Object frame = c.Entity("leak_frame");
         host().call(frame, "Column", {Str("x")});
         host().call(frame, "Column", {Str("y")});
       }},
      {m("Column(name as String) as Python3Entity"),
       "no such column, or no table",
       {"leak_table", "leak_number"},
       [&c] {
         host().call(c.Entity("leak_table"), "Column", {Str("missing")});
         c.ClearError();
         host().call(c.number, "Column", {Str("x")});
         c.ClearError();
       }},
  };
}

}  // namespace api_tests
