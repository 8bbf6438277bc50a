// Python3Entity's members for Python's data tools: charts, images and arrays
// as PNG or JPEG bytes, images from such bytes, tables read by columns; and
// matplotlib embedded (no display, no home, plt.show(), threads). Each test
// that needs a package is skipped, naming it, where the library lacks it
// (Debian's packages serve Debian's Python only).
#include <time.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "HostCodeSupport.h"

namespace api_tests {
namespace {

// The pending error's type and message, which GetError clears.
std::pair<std::string, std::string> TakeError() {
  std::string name = Text(Engine("GetErrorTypeName"));
  return {name, GetError()};
}

std::string TakeErrorType() {
  const std::string name = Text(Engine("GetErrorTypeName"));
  Engine("ClearError");
  return name;
}

// numpy, pandas, matplotlib and Pillow leave objects of their own at import
// that nothing refers to: leaks are looked for before they are imported.
class DataTools : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    CheckLeaksNowNotAtExit();
    python.Run(
        "import importlib.util, sys\n"
        "def keep(holder, name):\n"
        "    globals()[name] = holder[0]\n");
  }
  // Skips the test, naming the package, when this Python lacks it.
  bool Lacks(const char* module) {
    return !python.TruthOf(std::string("importlib.util.find_spec('") + module + "') is not None");
  }
#define REQUIRE_PACKAGE(module, package)                                                                \
  if (Lacks(module)) GTEST_SKIP() << package << " is not installed for this Python (" << module << ")"; \
  static_assert(true, "")

  Object ImageData(const Object& entity, const std::string& format) {
    return xhost::asObject(host_.call(entity, "ImageData", {Str(format)}));
  }
  std::string Bytes(const Object& block) {
    const int64_t size = Int(host_.getProperty(block, "Size"));
    const char* memory = static_cast<const char*>(xhost::asPtr(host_.call(block, "Operator_Convert")));
    return size > 0 ? std::string(memory, static_cast<size_t>(size)) : std::string();
  }
  Object FromImageData(const Value& block) {
    return xhost::asObject(host_.callShared("Python3Entity", "FromImageData", {block}));
  }
  // Width and height of a PNG from its header.
  static std::pair<int, int> PngSize(const std::string& png) {
    if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {-1, -1};
    const auto word = [&png](size_t at) {
      int value = 0;
      for (size_t i = 0; i < 4; ++i) value = value * 256 + static_cast<unsigned char>(png[at + i]);
      return value;
    };
    return {word(16), word(20)};
  }
  static bool IsJpeg(const std::string& data) { return data.compare(0, 3, "\xff\xd8\xff") == 0; }
  // The image bytes of what the expression gives; empty when ImageData gave Nil.
  std::string ImageOf(const std::string& expression, const std::string& format = "png") {
    Object block = ImageData(python.EntityOf(expression), format);
    return block.isNil() ? std::string() : Bytes(block);
  }
  void Keep(const Object& entity, const std::string& name) { python.Call("keep", {ListHolding({entity}), Str(name)}); }
  std::string ColumnNames(const Object& table) {
    Object names = CallObject(table, "ColumnNames");
    return names.isNil() ? "<Nil>" : python.Kinds(names);
  }
  Object Column(const Object& table, const std::string& name) { return CallObject(table, "Column", {Str(name)}); }
};

// ---------------------------------------------------------------------------
// Images out

TEST_F(DataTools, AFigureIsAPngAtItsOwnSizeAndDpiWhateverTheBackend) {
  REQUIRE_PACKAGE("matplotlib", "matplotlib (python3-matplotlib)");
  python.Run(
      "import matplotlib\n"
      "matplotlib.use('pdf')\n"  // the program's own choice of backend
      "import matplotlib.pyplot as plt\n"
      "chart = plt.figure(figsize=(4, 3), dpi=50)\n"
      "chart.add_subplot().plot([1, 3, 2])\n");
  const std::string png = ImageOf("chart");
  EXPECT_EQ(PngSize(png), std::make_pair(200, 150)) << GetError();
  EXPECT_EQ(python.TextOf("type(chart.canvas).__name__"), "FigureCanvasPdf") << "the figure keeps its own canvas";
  EXPECT_TRUE(IsJpeg(ImageOf("chart", "jpeg")));
  EXPECT_TRUE(IsJpeg(ImageOf("chart", "JPG")));
  EXPECT_EQ(PngSize(ImageOf("chart", "PNG")), std::make_pair(200, 150));
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(DataTools, AFigureWithNothingDrawnAndAClosedFigureArePictures) {
  REQUIRE_PACKAGE("matplotlib", "matplotlib (python3-matplotlib)");
  python.Run(
      "import matplotlib.pyplot as plt\n"
      "empty = plt.figure(figsize=(2, 1), dpi=40)\n"
      "closed = plt.figure(figsize=(1, 1), dpi=30)\n"
      "closed.add_subplot().bar([1, 2], [3, 4])\n"
      "plt.close(closed)\n"
      "from matplotlib.figure import Figure\n"
      "bare = Figure(figsize=(1, 2), dpi=10)\n");  // no pyplot, no canvas of a backend
  EXPECT_EQ(PngSize(ImageOf("empty")), std::make_pair(80, 40)) << GetError();
  EXPECT_EQ(PngSize(ImageOf("closed")), std::make_pair(30, 30)) << GetError();
  EXPECT_EQ(PngSize(ImageOf("bare")), std::make_pair(10, 20)) << GetError();
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(DataTools, PillowImagesAndArraysOfBytesArePictures) {
  REQUIRE_PACKAGE("PIL", "Pillow (python3-pil)");
  REQUIRE_PACKAGE("numpy", "numpy (python3-numpy)");
  python.Run(
      "from PIL import Image\n"
      "import numpy\n"
      "picture = Image.new('RGBA', (7, 5), (255, 0, 0, 128))\n"
      "grey = numpy.zeros((5, 6), numpy.uint8)\n"
      "rgb = numpy.full((4, 3, 3), 200, numpy.uint8)\n"
      "rgba = numpy.zeros((2, 9, 4), numpy.uint8)\n"
      "strided = numpy.zeros((10, 12, 3), numpy.uint8)[::2, ::3]\n");
  EXPECT_EQ(PngSize(ImageOf("picture")), std::make_pair(7, 5));
  EXPECT_TRUE(IsJpeg(ImageOf("picture", "jpeg"))) << "JPEG drops the transparency";
  EXPECT_EQ(PngSize(ImageOf("grey")), std::make_pair(6, 5));
  EXPECT_EQ(PngSize(ImageOf("rgb")), std::make_pair(3, 4));
  EXPECT_EQ(PngSize(ImageOf("rgba")), std::make_pair(9, 2));
  EXPECT_EQ(PngSize(ImageOf("strided")), std::make_pair(4, 5));
  EXPECT_TRUE(IsJpeg(ImageOf("rgb", "jpeg")));
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(DataTools, ArraysThatAreNoImageGiveNilAndAnError) {
  REQUIRE_PACKAGE("PIL", "Pillow (python3-pil)");
  REQUIRE_PACKAGE("numpy", "numpy (python3-numpy)");
  python.Run("import numpy");
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"numpy.zeros((0, 0), numpy.uint8)", "ValueError"},
      {"numpy.zeros((3, 0, 3), numpy.uint8)", "ValueError"},
      {"numpy.zeros((3, 3))", "TypeError"},
      {"numpy.zeros((3, 3, 3), numpy.float32)", "TypeError"},
      {"numpy.zeros((3, 3, 2), numpy.uint8)", "ValueError"},
      {"numpy.zeros(5, numpy.uint8)", "ValueError"},
  };
  for (const auto& [expression, error] : rows) {
    EXPECT_TRUE(ImageData(python.EntityOf(expression), "png").isNil()) << expression;
    EXPECT_EQ(TakeErrorType(), error) << expression;
  }
}

TEST_F(DataTools, ObjectsWithReprPngOrJpegAreAskedForThem) {
  python.Run(
      "class Drawing:\n"
      "    def _repr_png_(self):\n"
      "        return b'\\x89PNG drawing'\n"
      "    def _repr_jpeg_(self):\n"
      "        return (b'\\xff\\xd8\\xff drawing', {'width': 3})\n"
      "class Encoded:\n"
      "    def _repr_png_(self):\n"
      "        return 'iVBORw=='\n"  // base64, as some libraries hand it
      "class Blank:\n"
      "    def _repr_png_(self):\n"
      "        return None\n"
      "class Failing:\n"
      "    def _repr_png_(self):\n"
      "        raise RuntimeError('cannot draw')\n");
  EXPECT_EQ(ImageOf("Drawing()"), "\x89PNG drawing");
  EXPECT_EQ(ImageOf("Drawing()", "jpeg"), "\xff\xd8\xff drawing");
  EXPECT_EQ(ImageOf("Encoded()"), "\x89PNG");
  for (const auto& [expression, error] : std::vector<std::pair<const char*, const char*>>{
           {"Blank()", "TypeError"}, {"Failing()", "RuntimeError"}, {"Encoded()", "TypeError"}}) {
    const std::string format = std::string(expression) == "Encoded()" ? "jpeg" : "png";
    EXPECT_TRUE(ImageData(python.EntityOf(expression), format).isNil()) << expression;
    EXPECT_EQ(TakeErrorType(), error) << expression;
  }
}

TEST_F(DataTools, OtherValuesAndFormatsGiveNilAndAClearError) {
  for (const char* expression : {"42", "'a picture'", "[1, 2]", "None"}) {
    EXPECT_TRUE(ImageData(python.EntityOf(expression), "png").isNil()) << expression;
    EXPECT_EQ(TakeErrorType(), "TypeError") << expression;
  }
  python.Run(
      "class Drawing:\n"
      "    def _repr_png_(self):\n"
      "        return b'png'\n");
  EXPECT_TRUE(ImageData(python.EntityOf("Drawing()"), "gif").isNil());
  const auto [type, message] = TakeError();
  EXPECT_EQ(type, "ValueError");
  EXPECT_NE(message.find("\"png\" or \"jpeg\""), std::string::npos) << message;
  EXPECT_TRUE(ImageData(python.EntityOf("Drawing()"), std::string("png\0", 4)).isNil());
  EXPECT_EQ(TakeErrorType(), "ValueError");
  EXPECT_TRUE(ImageData(host_.newObject("Python3Entity"), "png").isNil()) << "an entity that holds nothing";
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(DataTools, WithoutPillowImagesNeedingItSaySo) {
  REQUIRE_PACKAGE("numpy", "numpy (python3-numpy)");
  python.Run(
      "import numpy\n"
      "saved_pil = {name: sys.modules.pop(name) for name in list(sys.modules) if name.split('.')[0] == 'PIL'}\n"
      "sys.modules['PIL'] = None\n");  // as when it is not installed
  EXPECT_TRUE(ImageData(python.EntityOf("numpy.zeros((2, 2), numpy.uint8)"), "png").isNil());
  auto [type, message] = TakeError();
  EXPECT_EQ(type, "ImportError");
  EXPECT_NE(message.find("ImageData needs Pillow"), std::string::npos) << message;
  EXPECT_TRUE(FromImageData(host_.newMemoryBlock("\x89PNG\r\n\x1a\n")).isNil());
  std::tie(type, message) = TakeError();
  EXPECT_EQ(type, "ImportError");
  EXPECT_NE(message.find("FromImageData needs Pillow"), std::string::npos) << message;
  python.Run("del sys.modules['PIL']\nsys.modules.update(saved_pil)");
}

// ---------------------------------------------------------------------------
// Images in

TEST_F(DataTools, PngAndJpegBytesBecomeAPillowImage) {
  REQUIRE_PACKAGE("PIL", "Pillow (python3-pil)");
  REQUIRE_PACKAGE("numpy", "numpy (python3-numpy)");
  python.Run(
      "import numpy\n"
      "pixels = numpy.zeros((6, 8, 3), numpy.uint8)\n"
      "pixels[:, :4] = (255, 128, 0)\n");
  const std::string png = ImageOf("pixels");
  Object image = FromImageData(host_.newMemoryBlock(png));
  ASSERT_FALSE(image.isNil()) << GetError();
  Keep(image, "decoded");
  EXPECT_EQ(python.TextOf("repr((decoded.format, decoded.mode, decoded.size))"), "('PNG', 'RGB', (8, 6))");
  EXPECT_TRUE(python.TruthOf("(numpy.asarray(decoded) == pixels).all()")) << "PNG loses nothing";
  // And back: the decoded image is a picture again.
  EXPECT_EQ(PngSize(Bytes(ImageData(image, ""))), std::make_pair(8, 6));
  Object jpeg = FromImageData(host_.newMemoryBlock(ImageOf("pixels", "jpeg")));
  ASSERT_FALSE(jpeg.isNil()) << GetError();
  Keep(jpeg, "decoded_jpeg");
  EXPECT_EQ(python.TextOf("repr((decoded_jpeg.format, decoded_jpeg.size))"), "('JPEG', (8, 6))");
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(DataTools, BytesThatAreNoImageGiveNilAndAnError) {
  REQUIRE_PACKAGE("PIL", "Pillow (python3-pil)");
  REQUIRE_PACKAGE("numpy", "numpy (python3-numpy)");
  python.Run("import numpy, io\nfrom PIL import Image\n");
  const std::string png = ImageOf("numpy.zeros((40, 40, 3), numpy.uint8) + 7");
  ASSERT_GT(png.size(), 60u);
  python.Run("gif = io.BytesIO()\nImage.new('L', (2, 2)).save(gif, 'GIF')\n");
  const std::string gif = python.TextOf("gif.getvalue().decode('latin-1')");
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"", "empty"},
      {png.substr(0, png.size() / 2), "a truncated PNG"},
      {png.substr(0, 8), "a PNG signature alone"},
      {"\xff\xd8\xff\xe0 not really", "a JPEG start alone"},
      {"hello, picture", "text"},
  };
  for (const auto& [bytes, what] : rows) {
    EXPECT_TRUE(FromImageData(host_.newMemoryBlock(bytes)).isNil()) << what;
    EXPECT_EQ(TakeErrorType(), "ValueError") << what;
  }
  EXPECT_FALSE(gif.empty());
  EXPECT_TRUE(FromImageData(host_.newMemoryBlock(std::string(gif.begin(), gif.end()))).isNil())
      << "an image, but neither PNG nor JPEG";
  EXPECT_EQ(TakeErrorType(), "ValueError");
  EXPECT_TRUE(FromImageData(xhost::Nil{}).isNil());
  EXPECT_EQ(TakeErrorType(), "TypeError");
}

// ---------------------------------------------------------------------------
// Tables by columns

TEST_F(DataTools, ADataFramesColumnsAreArraysOrTexts) {
  REQUIRE_PACKAGE("pandas", "pandas (python3-pandas)");
  python.Run(
      "import pandas, numpy\n"
      "frame = pandas.DataFrame({\n"
      "    'price': [1.5, 2.5, float('nan')],\n"
      "    'count': numpy.array([1, 2, 3], numpy.int32),\n"
      "    'name': ['pear', None, 'fig'],\n"
      "    7: pandas.array([4, None, 6], dtype='Int64'),\n"
      "    'when': pandas.to_datetime(['2024-01-01', '2024-01-02', '2024-01-03']),\n"
      "    'ok': [True, False, True],\n"
      "})\n");
  Object frame = python.EntityOf("frame");
  EXPECT_EQ(ColumnNames(frame), "str:'price',str:'count',str:'name',str:'7',str:'when',str:'ok'");
  struct Expected {
    const char* name;
    const char* format;
    int64_t size;
  };
  for (const Expected& row : {Expected{"price", "d", 24}, Expected{"count", "i", 12}, Expected{"7", "d", 24},
                              Expected{"when", "l", 24}, Expected{"ok", "?", 3}}) {
    Object column = Column(frame, row.name);
    ASSERT_FALSE(column.isNil()) << row.name << ": " << GetError();
    EXPECT_EQ(Text(host_.getProperty(column, "BufferFormat")), row.format) << row.name;
    EXPECT_EQ(Int(host_.getProperty(column, "BufferSize")), row.size) << row.name;
  }
  Object prices = Column(frame, "price");
  Object block = host_.newMemoryBlock(std::string(24, '\0'));
  ASSERT_EQ(Int(host_.call(prices, "CopyBuffer", {block})), 24);
  double values[3];
  std::memcpy(values, Bytes(block).data(), sizeof values);
  EXPECT_EQ(values[0], 1.5);
  EXPECT_EQ(values[1], 2.5);
  EXPECT_NE(values[2], values[2]) << "a missing price is NaN";
  Object names = Column(frame, "name");
  EXPECT_EQ(Text(host_.getProperty(names, "TypeName")), "list");
  EXPECT_EQ(python.Kinds(xhost::asObject(host_.call(names, "Items"))), "str:'pear',str:'',str:'fig'");
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(DataTools, MappingsOfColumnsAndStructuredArraysAreTablesToo) {
  python.Run("table = {'x': [1, 2.5], 'label': ['a', None], 'n': (3, 4)}\n");
  Object table = python.EntityOf("table");
  EXPECT_EQ(ColumnNames(table), "str:'x',str:'label',str:'n'");
  Object x = Column(table, "x");
  ASSERT_FALSE(x.isNil()) << GetError();
  EXPECT_EQ(Int(host_.getProperty(x, "BufferSize")), 16);
  EXPECT_EQ(Text(host_.getProperty(x, "BufferFormat")), "d");
  EXPECT_EQ(python.Kinds(xhost::asObject(host_.call(Column(table, "label"), "Items"))), "str:'a',str:''");
  if (Lacks("numpy")) GTEST_SKIP() << "numpy (python3-numpy) is not installed for this Python: no structured arrays";
  python.Run("import numpy\nrecords = numpy.array([(1, 2.0), (3, 4.0)], dtype=[('id', 'i8'), ('value', 'f4')])\n");
  Object records = python.EntityOf("records");
  EXPECT_EQ(ColumnNames(records), "str:'id',str:'value'");
  Object value = Column(records, "value");
  EXPECT_EQ(Text(host_.getProperty(value, "BufferFormat")), "f");
  EXPECT_FALSE(xhost::asObject(host_.call(value, "BufferView")).isNil()) << "a contiguous copy of a strided field";
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(DataTools, ValuesThatAreNoTableAndMissingColumnsGiveNilAndAnError) {
  for (const char* expression : {"42", "[1, 2]", "'text'"}) {
    EXPECT_EQ(ColumnNames(python.EntityOf(expression)), "<Nil>") << expression;
    EXPECT_EQ(TakeErrorType(), "TypeError") << expression;
  }
  Object table = python.EntityOf("{'x': [1, 2], 'scalar': 5, 'text': 'abc'}");
  EXPECT_TRUE(Column(table, "y").isNil());
  EXPECT_EQ(TakeErrorType(), "KeyError");
  EXPECT_TRUE(Column(table, "scalar").isNil());
  EXPECT_EQ(TakeErrorType(), "TypeError");
  EXPECT_TRUE(Column(table, "text").isNil());
  EXPECT_EQ(TakeErrorType(), "TypeError");
  EXPECT_EQ(ColumnNames(host_.newObject("Python3Entity")), "<Nil>");
  EXPECT_TRUE(Column(host_.newObject("Python3Entity"), "x").isNil());
  EXPECT_FALSE(ErrorOccurred());
}

// Four float columns of 100,000 rows into four MemoryBlocks, as an
// application filling a list from a DataFrame does (the benchmark's
// Buffer/DataFrameColumns row times it).
TEST_F(DataTools, AHundredThousandRowsOfFourColumnsCopyWhole) {
  REQUIRE_PACKAGE("pandas", "pandas (python3-pandas)");
  python.Run(
      "import pandas, numpy\n"
      "frame = pandas.DataFrame(numpy.random.default_rng(1).random((100000, 4)), columns=list('abcd'))\n");
  Object frame = python.EntityOf("frame");
  Object names = CallObject(frame, "ColumnNames");
  const int64_t count = Int(host_.getProperty(names, "Count"));
  ASSERT_EQ(count, 4);
  for (int64_t index = 0; index < count; ++index) {
    const std::string name =
        Text(host_.getProperty(xhost::asObject(host_.call(names, "GetItem", {index})), "StringValue"));
    Object column = Column(frame, name);
    Object block =
        host_.newMemoryBlock(std::string(static_cast<size_t>(Int(host_.getProperty(column, "BufferSize"))), '\0'));
    ASSERT_EQ(Int(host_.call(column, "CopyBuffer", {block})), 100000 * 8) << GetError();
    python.Run("expected = frame['" + name + "'].to_numpy().tobytes()");
    const std::string copied = host_.memoryBlockBytes(block);
    std::string hex;
    for (unsigned char byte : copied) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    EXPECT_EQ(hex, python.TextOf("expected.hex()")) << "column " << name;
  }
}

// ---------------------------------------------------------------------------
// matplotlib embedded

TEST_F(DataTools, MatplotlibDrawsWithAggAndShowNeitherBlocksNorCrashes) {
  REQUIRE_PACKAGE("matplotlib", "matplotlib (python3-matplotlib)");
  std::string errors;
  host_.defineSubclass("DataToolsConsole", "Python3EngineConsoleOutput",
                       {{"ErrorOutput", [&errors](const Object&, const std::vector<Value>& arguments) -> Value {
                           errors += Text(arguments.at(0));
                           return {};
                         }}});
  Engine("SetConsoleOutput", {host_.newObject("DataToolsConsole")});
  python.Run(
      "import os\n"
      "os.environ.pop('MPLBACKEND', None)\n"
      "os.environ['DISPLAY'] = ':0'\n"  // as on a desktop: matplotlib is silent on a Linux without one
      "import matplotlib\n"
      "import matplotlib.pyplot as plt\n"
      "plt.plot([1, 2, 3])\n"
      "import time\n"
      "began = time.monotonic()\n"
      "plt.show()\n"  // as library code does
      "show_took = time.monotonic() - began\n");
  EXPECT_EQ(python.TextOf("matplotlib.get_backend().lower()"), "agg") << "whatever the system's matplotlibrc says";
  EXPECT_TRUE(python.TruthOf("show_took < 1"));
  EXPECT_NE(errors.find("non-GUI backend"), std::string::npos) << errors;
  EXPECT_EQ(PngSize(Bytes(ImageData(python.EntityOf("plt.gcf()"), "png"))).first, 640);
  Engine("SetConsoleOutput", {xhost::Nil{}});
}

TEST_F(DataTools, AChartDrawnOnAPythonThreadIsAPicture) {
  REQUIRE_PACKAGE("matplotlib", "matplotlib (python3-matplotlib)");
  python.Run(
      "import threading, io\n"
      "import matplotlib.pyplot as plt\n"
      "drawn = {}\n"
      "def draw(number):\n"
      "    figure = plt.figure(figsize=(2, 2), dpi=25)\n"
      "    figure.add_subplot().plot(range(number))\n"
      "    out = io.BytesIO()\n"
      "    figure.savefig(out, format='png')\n"
      "    drawn[number] = (figure, len(out.getvalue()))\n"
      "threads = [threading.Thread(target=draw, args=(n,)) for n in (3, 4)]\n"
      "for thread in threads: thread.start()\n"
      "for thread in threads: thread.join()\n");
  EXPECT_TRUE(python.TruthOf("all(size > 0 for _, size in drawn.values())"));
  EXPECT_EQ(PngSize(ImageOf("drawn[3][0]")), std::make_pair(50, 50)) << GetError();
  EXPECT_EQ(PngSize(ImageOf("drawn[4][0]")), std::make_pair(50, 50)) << GetError();
}

// matplotlib keeps its configuration and font cache in the home folder; with
// none that it can write, in a temporary folder it makes (and says so on
// standard error), as for any user without a home.
TEST_F(DataTools, MatplotlibNeedsNoWritableHome) {
  REQUIRE_PACKAGE("matplotlib", "matplotlib (python3-matplotlib)");
  python.Run(
      "import os\n"
      "saved = {name: os.environ.pop(name, None) for name in ('HOME', 'MPLCONFIGDIR', 'XDG_CONFIG_HOME', "
      "'XDG_CACHE_HOME')}\n"
      "os.environ['HOME'] = '/dev/null/no-home'\n"  // cannot be made, even by root
      "import io, contextlib\n"
      "said = io.StringIO()\n"
      "with contextlib.redirect_stderr(said):\n"
      "    import matplotlib\n"
      "    import matplotlib.pyplot as plt\n"
      "    plt.figure(figsize=(1, 1), dpi=20).add_subplot().set_title('no home')\n"
      "config = matplotlib.get_configdir()\n"
      "for name, value in saved.items():\n"
      "    if value is not None: os.environ[name] = value\n"
      "    else: os.environ.pop(name, None)\n");
  EXPECT_TRUE(python.TruthOf("config.startswith(__import__('tempfile').gettempdir())")) << python.TextOf("config");
  EXPECT_TRUE(python.TruthOf("'temporary' in said.getvalue()")) << python.TextOf("said.getvalue()");
  EXPECT_EQ(PngSize(ImageOf("plt.gcf()")), std::make_pair(20, 20)) << GetError();
}

}  // namespace
}  // namespace api_tests

namespace api_tests {
namespace {

// Which of the packages work again after Finalize and Init in one process,
// measured: Pillow does; numpy cannot be initialised twice, and pandas,
// scipy and matplotlib import it. The error is read, never run.
class DataRestart : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    CheckLeaksNowNotAtExit();  // as for DataTools
  }
  bool Lacks(const char* module) {
    return !python.TruthOf(std::string("__import__('importlib.util').util.find_spec('") + module + "') is not None");
  }
};

TEST_F(DataRestart, PillowWorksAgainAfterARestart) {
  if (Lacks("PIL")) GTEST_SKIP() << "Pillow (python3-pil) is not installed for this Python (PIL)";
  const char* code = "from PIL import Image\nimport io\nImage.new('RGB', (2, 2)).save(io.BytesIO(), 'PNG')\n";
  python.Run(code);
  Restart();
  EXPECT_TRUE(Bool(Engine("Execute", {Str(code)}))) << GetError();
  Object image = xhost::asObject(host_.callShared(
      "Python3Entity", "FromImageData",
      {host_.newMemoryBlock(std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x00"
                                        "\x00\x00\x00\x3a\x7e\x9b\x55\x00\x00\x00\x0aIDAT\x78\x9c\x63\x60\x00\x00\x00"
                                        "\x02\x00\x01\x48\xaf\xa4\x71\x00\x00\x00\x00IEND\xae\x42\x60\x82",
                                        67))}));
  EXPECT_FALSE(image.isNil()) << GetError();
}

// pandas, scipy and matplotlib fail the same way, each measured in a process
// of its own: after that first failure the interpreter is unreliable.
TEST_F(DataRestart, NumpyFailsToImportAgainAfterARestartWithAnError) {
  if (Lacks("numpy")) GTEST_SKIP() << "numpy (python3-numpy) is not installed for this Python";
  python.Run("import numpy\n");
  Restart();
  EXPECT_FALSE(Bool(Engine("Execute", {Str("import numpy")})));
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "SystemError");
  Engine("ClearError");
}

}  // namespace
}  // namespace api_tests
