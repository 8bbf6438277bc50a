// The members of EntityDataTools.h, which call the Python helper of DataToolsSource.h, run in a module of
// its own as the interpreter starts and again whenever the module is gone.

#include "PythonEntity/EntityDataTools.h"

#include <cstring>

#include "Exceptions/Exceptions.h"
#include "HostHandles.h"
#include "PythonEntity/DataToolsSource.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PythonValues.h"
#include "Registration/ClassRecords.h"

namespace {

// Start symbol of the grammar for statements, the same in every version.
constexpr int kFileInput = 257;

// Runs the helper's source in its module (made or found in sys.modules).
// False with Python's error set when it did not run.
bool RunDataToolsSource() {
  if (!HasPythonEntries(EPyImport_AddModule, EPyModule_GetDict, EPyRun_StringFlags, EPyImport_ImportModule,
                        EPyObject_SetAttrString)) {
    RaisePythonError(e__PyExc_SystemError, "the Python library cannot run the data tools");
    return false;
  }
  ScopedReference module = ScopedReference::Borrow(EPyImport_AddModule(kDataToolsModule));  // borrowed from sys.modules
  if (!module) return false;
  // Code run in a namespace without __builtins__ gets none before 3.8.
  ScopedReference builtins = ScopedReference::Adopt(EPyImport_ImportModule("builtins"));
  if (!builtins || EPyObject_SetAttrString(module.Get(), "__builtins__", builtins.Get()) != 0) return false;
  PyObjectRef globals = EPyModule_GetDict(module.Get());  // borrowed
  if (!globals) return false;
  ScopedReference ran =
      ScopedReference::Adopt(EPyRun_StringFlags(kDataToolsSource, kFileInput, globals, globals, nullptr));
  return static_cast<bool>(ran);
}

// A new reference to the helper's function; the source runs again when the
// module was taken out of sys.modules or changed. Null with Python's error set.
PyObjectRef DataToolsFunction(const char* name) {
  if (!HasPythonEntries(EPyImport_AddModule, EPyObject_GetAttrString, EPyErr_Clear)) {
    RaisePythonError(e__PyExc_SystemError, "the Python library cannot run the data tools");
    return nullptr;
  }
  if (PyObjectRef module = EPyImport_AddModule(kDataToolsModule)) {
    if (PyObjectRef function = EPyObject_GetAttrString(module, name)) return function;
    EPyErr_Clear();
  }
  if (!RunDataToolsSource()) return nullptr;
  PyObjectRef module = EPyImport_AddModule(kDataToolsModule);
  return module ? EPyObject_GetAttrString(module, name) : nullptr;
}

// helper(arguments...): a new reference, or null with Python's error set.
// Every argument is held by the caller for the whole call.
template <typename... Objects>
PyObjectRef CallDataTool(const char* name, Objects... arguments) {
  ScopedReference function = ScopedReference::Adopt(DataToolsFunction(name));
  if (!function) return nullptr;
  if (!HasPythonEntries(EPyTuple_New, EPyTuple_SetItem, EPyObject_CallObject)) {
    RaisePythonError(e__PyExc_SystemError, "the Python library cannot call a function");
    return nullptr;
  }
  ScopedReference tuple = ScopedReference::Adopt(EPyTuple_New(sizeof...(Objects)));
  if (!tuple) return nullptr;
  Py_ssize_t index = 0;
  for (PyObjectRef argument : {arguments...}) EPyTuple_SetItem(tuple.Get(), index++, NewReference(argument));
  return EPyObject_CallObject(function.Get(), tuple.Get());
}

// A host string as a Python str, held; none with Python's error set when the
// host cannot give its text.
PyObjectRef TextArgument(REALstringStruct* text) {
  bool hostRefused = false;
  PyObjectRef object = NewPythonText(text, &hostRefused);
  if (!object && hostRefused && EPyErr_Occurred && !EPyErr_Occurred())
    RaisePythonError(e__PyExc_UnicodeError, "the text cannot be converted to UTF-8");
  return object;
}

REALobjectStruct* MemoryBlockOfBytes(PyObjectRef bytes) {
  if (!HasPythonEntries(EPyBytes_AsString, EPyBytes_Size)) return nullptr;
  const Py_ssize_t size = EPyBytes_Size(bytes);
  const char* data = size >= 0 ? EPyBytes_AsString(bytes) : nullptr;
  if (!data) return nullptr;
  ScopedObject block = ScopedObject::Adopt(CreateMemoryBlock(size));
  if (!block.Get()) {
    RaisePythonError(e__PyExc_MemoryError, "ImageData: the host made no MemoryBlock of ", std::to_string(size),
                     " bytes");
    return nullptr;
  }
  void* memory = MemoryBlockAddress(block.Get());
  if (!memory) {
    RaisePythonError(e__PyExc_SystemError, "ImageData: the host tells no address of the MemoryBlock");
    return nullptr;
  }
  std::memcpy(memory, data, static_cast<size_t>(size));
  return block.HandOver();
}

// The encoded bytes of a Figure, a Pillow Image, a numpy array or anything with _repr_png_/_repr_jpeg_.
REALobjectStruct* ImageData(REALobjectStruct* self, REALstringStruct* format) {
  ScopedReference object = ScopedEntityObject(self);
  const ScopedString keptFormat = ScopedString::Borrow(format);
  if (!object) return nullptr;
  ScopedReference formatText = ScopedReference::Adopt(TextArgument(format));
  if (!formatText) return nullptr;
  ScopedReference bytes = ScopedReference::Adopt(CallDataTool("image_data", object.Get(), formatText.Get()));
  return bytes ? MemoryBlockOfBytes(bytes.Get()) : nullptr;
}

// A Pillow Image decoded from PNG or JPEG bytes in the block.
REALobjectStruct* FromImageData(REALobjectStruct* block) {
  if (!PythonIsRunning()) return nullptr;
  if (!block) {
    RaisePythonError(e__PyExc_TypeError, "FromImageData: a MemoryBlock is required, not Nil");
    return nullptr;
  }
  // Decoding runs Python code, which may drop the last host reference to the block.
  const ScopedObject keptBlock = ScopedObject::Borrow(block);
  if (!HasPythonEntries(EPyBytes_FromStringAndSize)) return nullptr;
  const int64_t size = REALMemoryBlockGetSize(block);
  if (size < 0) {
    RaisePythonError(e__PyExc_ValueError, "FromImageData: the MemoryBlock's size is unknown (a MemoryBlock of a Ptr)");
    return nullptr;
  }
  const void* address = MemoryBlockAddress(block);
  if (!address && size > 0) {
    RaisePythonError(e__PyExc_SystemError, "FromImageData: the host tells no address of the MemoryBlock");
    return nullptr;
  }
  ScopedReference bytes = ScopedReference::Adopt(
      EPyBytes_FromStringAndSize(static_cast<const char*>(address), static_cast<Py_ssize_t>(size)));
  PyObjectRef image = bytes ? CallDataTool("from_image_data", bytes.Get()) : nullptr;
  return image ? NewEntity(image) : nullptr;
}

REALobjectStruct* ColumnNames(REALobjectStruct* self) {
  ScopedReference object = ScopedEntityObject(self);
  if (!object) return nullptr;
  PyObjectRef names = CallDataTool("column_names", object.Get());
  return names ? NewListWrapper(names) : nullptr;
}

REALobjectStruct* Column(REALobjectStruct* self, REALstringStruct* name) {
  ScopedReference object = ScopedEntityObject(self);
  const ScopedString keptName = ScopedString::Borrow(name);
  if (!object) return nullptr;
  ScopedReference nameText = ScopedReference::Adopt(TextArgument(name));
  if (!nameText) return nullptr;
  PyObjectRef column = CallDataTool("column", object.Get(), nameText.Get());
  return column ? NewEntity(column) : nullptr;
}

}  // namespace

void InstallDataTools() noexcept {
  if (!HasPythonEntries(EPyErr_Clear)) return;
  RunDataToolsSource();
  EPyErr_Clear();  // without them, the members raise as they are called
}

std::vector<REALmethodDefinition> EntityDataToolMethods() {
  return {
      records::Method<ImageData>(
          "ImageData(format as String) as MemoryBlock",
          "The value as encoded image bytes, \"png\" (also when empty) or \"jpeg\", for Picture.FromData: a "
          "matplotlib Figure (drawn with Agg at its size and dpi), a Pillow Image, a numpy uint8 array of H x W, "
          "H x W x 3 or H x W x 4, or anything with _repr_png_ / _repr_jpeg_; Nil with an error set for any other "
          "value, another format, or a package that is missing."),
      records::Method<ColumnNames>(
          "ColumnNames() as Python3List",
          "The column names, as str, of a pandas DataFrame, a numpy structured array or a mapping of columns; Nil "
          "with an error set for any other value."),
      records::Method<Column>(
          "Column(name as String) as Python3Entity",
          "One column of a table: a contiguous numpy array for numbers (datetimes as int64 ticks, nullable integers "
          "as float64 with NaN) that the buffer members read, else a list of str (missing values as \"\"); Nil with "
          "an error set for a name that is no column or a value that is no table."),
  };
}

std::vector<REALmethodDefinition> EntityDataToolSharedMethods() {
  return {
      records::Method<FromImageData>(
          "FromImageData(data as MemoryBlock) as Python3Entity",
          "A Pillow Image decoded from PNG or JPEG bytes (as Picture.ToData gives); Nil with an error set for a Nil "
          "or empty block, bytes that are no such image, or when Pillow is not installed."),
  };
}
