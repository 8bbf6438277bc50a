// What the tables of rows share, and the rows of the named program objects:
// Python3Engine, Python3Object, Python3Module, Python3Function, Python3Class,
// Python3Instance (whose attribute fields are the module's) and Python3Exception.
#include "LeakRows.h"

namespace api_tests {

namespace {

// Objects that are neither shared nor immortal, so every reference to them
// shows in their counts.
const char kLeakObjectsCode[] = R"(
import array, colorsys, ctypes, gc, types
leak_list = [1, 2]
leak_text = ''.join(['leak ', 'text'])
leak_message = ''.join(['leak ', 'message'])
leak_error = ValueError(leak_message)
leak_bytes = bytes(bytearray(b'leak bytes'))
leak_dict = {'k': leak_list}
leak_tuple = (leak_list, leak_text)
leak_number = int('1234567')
leak_ratio = float('2.5')
leak_item = ''.join(['leak ', 'item'])
leak_key = ''.join(['leak ', 'key'])
leak_items = [leak_item, leak_text]
leak_unsortable = [leak_number, leak_text]
leak_mapping = {leak_key: leak_item}
leak_merged = {}
leak_keywords = {'keyword': leak_text}
leak_updated = {}
leak_unprintable = Unprintable()
leak_buffer = bytearray(b'leak buffer')
leak_doubles = array.array('d', [1.5, 2.5])
leak_objects = (ctypes.py_object * 2)(leak_item, leak_item)  # items that are object pointers

class LeakError(Exception):
    pass
leak_own_error = LeakError(leak_message)

def raise_kept(error=leak_error):
    error.__traceback__ = None  # a raised exception keeps adding to its traceback
    raise error

def raise_own():
    raise_kept(leak_own_error)

def raise_unprintable():
    raise_kept(leak_unprintable)

def keyword_echo(*arguments, **keywords):
    return keywords

class LeakClass:
    def __init__(self, *arguments, **keywords):
        self.arguments = arguments

class LeakFailing:
    def __init__(self):
        raise_kept()

class LeakHolder:
    def __init__(self):
        global leak_instance
        leak_instance = self
    def method(self, *arguments):
        return arguments

leak_stale = types.ModuleType('leak_stale')  # no longer in sys.modules: reloading it fails
sys.modules['leak_stale'] = leak_stale

def release(address):  # a new reference that host code was given
    ctypes.pythonapi.Py_DecRef(ctypes.c_void_p(address))
)";

// Made once the capsule exists; the instance gets the module's attributes.
const char kLeakValuesCode[] = R"(
del sys.modules['leak_stale']
leak_values = (leak_number, leak_text, leak_ratio, True, leak_capsule, leak_dict, leak_tuple, leak_list, leak_bytes, None)
for name in ('leak_number', 'leak_ratio', 'leak_text', 'leak_list', 'leak_capsule'):
    setattr(leak_instance, name, globals()[name])


class LeakDrawing:
    def _repr_png_(self):
        return leak_bytes
leak_drawing = LeakDrawing()
leak_table = {leak_key: [1.5, 2.5], leak_item: [leak_text, None]}


def leak_data_images():
    # A Figure, a Pillow Image and an array, made once, where the library has them.
    if 'leak_images' not in globals():
        global leak_images
        leak_images = []
        try:
            from matplotlib.figure import Figure
            import io
            figure = Figure(figsize=(1, 1), dpi=8)
            axes = figure.add_subplot()
            axes.plot([1, 2])
            axes.set_axis_off()  # text would fill matplotlib's cache of text sizes, 4096 entries
            for _ in range(600):  # what matplotlib caches per drawing settles after some 550
                figure.savefig(io.BytesIO(), format='png', backend='agg')
            leak_images.append(figure)
        except ImportError:
            pass
        try:
            import numpy
            from PIL import Image
            leak_images += [Image.new('RGB', (3, 2)), numpy.zeros((2, 3, 3), numpy.uint8)]
        except ImportError:
            pass
    return len(leak_images)


def leak_data_frame():
    if 'leak_frame' not in globals():
        global leak_frame
        try:
            import pandas
            leak_frame = pandas.DataFrame({'x': [1.5, 2.5], 'y': ['a', None]})
        except ImportError:
            leak_frame = None
    return leak_frame is not None
)";

}  // namespace

std::string Member(const std::string& className, const std::string& declaration) {
  return className + "." + declaration;
}

std::string NameOf(const std::string& declaration) { return declaration.substr(0, declaration.find_first_of(" (")); }

Object LeakObjects::Entity(const std::string& expression) const { return python.EntityOf(expression); }

void LeakObjects::ClearError() const { Engine("ClearError"); }

void LeakObjects::Make() {
  python.Run(kLeakObjectsCode);
  host().defineSubclass("LeakState", "Object");
  hostObject = host().newObject("LeakState");
  module = python.module();
  host().assign(module, "ObjectField", {Str("leak_capsule")}, hostObject);
  colorsys = GetModule("colorsys");
  stale = GetModule("leak_stale");
  echo = python.Function("echo");
  keywordEcho = python.Function("keyword_echo");
  raiser = python.Function("raise_kept");
  leakClass = CallObject(module, "GetClass", {Str("LeakClass")});
  failingClass = CallObject(module, "GetClass", {Str("LeakFailing")});
  instance = CallObject(CallObject(module, "GetClass", {Str("LeakHolder")}), "CreateInstance");
  method = CallObject(instance, "GetFunction", {Str("method")});
  python.Run(kLeakValuesCode);
  for (auto [field, expression] : {std::pair{&text, "leak_text"},
                                   {&error, "leak_error"},
                                   {&number, "leak_number"},
                                   {&ratio, "leak_ratio"},
                                   {&list, "leak_list"},
                                   {&tuple, "leak_tuple"},
                                   {&dict, "leak_dict"},
                                   {&bytes, "leak_bytes"},
                                   {&capsule, "leak_capsule"},
                                   {&item, "leak_item"},
                                   {&key, "leak_key"},
                                   {&unprintable, "leak_unprintable"},
                                   {&buffer, "leak_buffer"},
                                   {&doubles, "leak_doubles"}})
    *field = Entity(expression);
  items = python.ListOf("leak_items");
  unsortable = python.ListOf("leak_unsortable");
  mapping = python.DictionaryOf("leak_mapping");
  merged = python.DictionaryOf("leak_merged");
  keywords = python.DictionaryOf("leak_keywords");
  arguments = xhost::asObject(host().getProperty(tuple, "TupleValue"));
  values = xhost::asObject(host().getProperty(Entity("leak_values"), "TupleValue"));
  notTuple = host().newObject("Python3Parameters", {Ptr{AddressOf("leak_list")}});
  slots = host().newObject("Python3Parameters", {int64_t{1}});
  bytesValue = xhost::asObject(host().getProperty(bytes, "BytesValue"));
  results.clear();
  for (int64_t index = 0; index < Int(host().getProperty(values, "Count")); ++index)
    results.push_back(python.Evaluate("leak_values[" + std::to_string(index) + "]"));
}

// Python objects that hold host objects (capsules) go before the test ends,
// when the host counts what is still alive.
void LeakObjects::Forget() {
  python.Run(
      "for name in [name for name in globals() if name.startswith('leak_')]:\n"
      "    del globals()[name]\n"
      "gc.collect()\n");
}

void* LeakObjects::AddressOf(const std::string& expression) const {
  return reinterpret_cast<void*>(python.IntegerOf("id(" + expression + ")"));
}

void LeakObjects::Release(const Value& pointer) const {
  if (void* address = xhost::asPtr(pointer)) python.Call("release", {Int64{reinterpret_cast<int64_t>(address)}});
}

void LeakObjects::Refused(const std::function<void()>& call) const {
  EXPECT_NE(RaisedBy(call), "") << "no Python3Exception";
  ClearError();
}

const std::vector<std::string> kValueExpressions = {"leak_number", "leak_text",  "leak_ratio", "leak_capsule",
                                                    "leak_dict",   "leak_tuple", "leak_list",  "leak_bytes"};

const std::vector<RowTable>& AllRowTables() {
  static const std::vector<RowTable> tables = {
      EngineRows,       ModuleRows,     FunctionAndClassRows, InstanceRows, EntityRows,   BytesAndResultRows,
      ListRows,         DictionaryRows, ParametersRows,       ConsoleRows,  HostCodeRows, PythonCallsHostRows,
      RegistrationRows, BufferRows,     DataToolRows,         TaskRows,
  };
  return tables;
}

}  // namespace api_tests
