// The traceback written as Python's own printer writes it (chained exceptions, repeated frames, syntax
// errors, notes), from attributes alone.

#include "PythonEngine/TracebackText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"

namespace {

// A chain longer than this (or a cycle) is cut: Python's own limit is the
// recursion limit, far beyond what anyone reads.
constexpr size_t kMaxChainedExceptions = 32;
// Identical frames in a row past this many are counted, as Python does.
constexpr int kRepeatedFramesShown = 3;

bool IsNone(PyObjectRef object) { return !object || object == e__Py_NoneStruct; }

// The UTF-8 of a str, lone surrogates as backslash escapes; "" for anything else.
std::string Utf8Of(PyObjectRef text) {
  if (!IsPythonStr(text) || !HasPythonEntries(EPyUnicode_AsEncodedString, EPyBytes_AsString, EPyBytes_Size)) return {};
  PyObjectRef bytes = EPyUnicode_AsEncodedString(text, "utf-8", "backslashreplace");
  if (!bytes) {
    EPyErr_Clear();
    return {};
  }
  std::string result(EPyBytes_AsString(bytes), static_cast<size_t>(EPyBytes_Size(bytes)));
  ReleasePythonRef(bytes);
  return result;
}

std::string TextAttributeUtf8(PyObjectRef object, const char* name) {
  PyObjectRef text = NewPythonStrAttributeOrNull(object, name);
  std::string result = Utf8Of(text);
  if (text) ReleasePythonRef(text);
  return result;
}

// An int attribute, or `otherwise`.
long IntAttribute(PyObjectRef object, const char* name, long otherwise) {
  PyObjectRef number = NewPythonAttributeOrNull(object, name);
  long result = otherwise;
  if (IsPythonInt(number) && EPyLong_AsLong) {
    result = EPyLong_AsLong(number);
    if (result == -1 && EPyErr_Occurred && EPyErr_Occurred()) {
      EPyErr_Clear();
      result = otherwise;
    }
  }
  if (number) ReleasePythonRef(number);
  return result;
}

std::string Stripped(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\f\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\f\r\n") - first + 1);
}

// Line `number` of the source file, stripped; "" when it cannot be read
// (code made from a string, a file gone since).
std::string SourceLine(const std::string& file, long number) {
  if (file.empty() || file.front() == '<' || number < 1) return {};
  FILE* source = std::fopen(file.c_str(), "rb");
  if (!source) return {};
  std::string line;
  long at = 1;
  for (int c; (c = std::fgetc(source)) != EOF;) {
    if (at == number && c != '\n') line.push_back(static_cast<char>(c));
    if (c == '\n' && ++at > number) break;
  }
  std::fclose(source);
  return Stripped(line);
}

// The name Python's traceback prints: the module left out for builtins and __main__.
std::string TypeNameForTraceback(PyObjectRef type) {
  PyObjectRef module = NewPythonStrAttributeOrNull(type, "__module__");
  const bool plain =
      module && EPyUnicode_CompareWithASCIIString && EPyUnicode_CompareWithASCIIString(module, "__main__") == 0;
  if (module) ReleasePythonRef(module);
  if (plain) {
    std::string name = TextAttributeUtf8(type, "__qualname__");
    if (!name.empty()) return name;
  }
  PyObjectRef name = NewTypeName(type);
  std::string result = Utf8Of(name);
  if (name) ReleasePythonRef(name);
  return result.empty() ? "<unknown>" : result;
}

class TracebackWriter {
 public:
  void Exception(PyObjectRef value, PyObjectRef traceback, PyObjectRef type) {
    if (value) {
      if (std::find(seen_.begin(), seen_.end(), value) != seen_.end() || seen_.size() >= kMaxChainedExceptions) return;
      seen_.push_back(value);
      Chained(value);
    }
    if (!IsNone(traceback)) Frames(traceback);
    LastLines(type, value);
  }

  std::string text;

 private:
  void Chained(PyObjectRef value) {
    PyObjectRef cause = NewPythonAttributeOrNull(value, "__cause__");
    PyObjectRef context = IsNone(cause) ? NewPythonAttributeOrNull(value, "__context__") : nullptr;
    PyObjectRef suppress = IsNone(cause) ? NewPythonAttributeOrNull(value, "__suppress_context__") : nullptr;
    const bool suppressed = suppress == e__Py_TrueStruct;
    if (!IsNone(cause)) {
      Earlier(cause, "\nThe above exception was the direct cause of the following exception:\n\n");
    } else if (!IsNone(context) && !suppressed) {
      Earlier(context, "\nDuring handling of the above exception, another exception occurred:\n\n");
    }
    for (PyObjectRef object : {cause, context, suppress})
      if (object) ReleasePythonRef(object);
  }

  void Earlier(PyObjectRef exception, const char* joint) {
    if (std::find(seen_.begin(), seen_.end(), exception) != seen_.end()) return;
    PyObjectRef traceback = NewPythonAttributeOrNull(exception, "__traceback__");
    Exception(exception, traceback, reinterpret_cast<PyObjectRef>(exception->ob_type));
    if (traceback) ReleasePythonRef(traceback);
    text += joint;
  }

  void Frames(PyObjectRef traceback) {
    text += "Traceback (most recent call last):\n";
    std::string lastFile, lastName;
    long lastLine = -1;
    int repeats = 0;
    PyObjectRef entry = NewReference(traceback);
    while (!IsNone(entry)) {
      PyObjectRef frame = NewPythonAttributeOrNull(entry, "tb_frame");
      PyObjectRef code = NewPythonAttributeOrNull(frame, "f_code");
      const std::string file = TextAttributeUtf8(code, "co_filename");
      const std::string name = TextAttributeUtf8(code, "co_name");
      const long line = IntAttribute(entry, "tb_lineno", -1);
      for (PyObjectRef object : {code, frame})
        if (object) ReleasePythonRef(object);
      if (file == lastFile && name == lastName && line == lastLine) {
        ++repeats;
      } else {
        Repeated(repeats);
        repeats = 0;
        lastFile = file;
        lastName = name;
        lastLine = line;
      }
      if (repeats < kRepeatedFramesShown) {
        text += "  File \"" + file + "\", line " + std::to_string(line) + ", in " + name + "\n";
        const std::string source = SourceLine(file, line);
        if (!source.empty()) text += "    " + source + "\n";
      }
      PyObjectRef next = NewPythonAttributeOrNull(entry, "tb_next");
      ReleasePythonRef(entry);
      entry = next;
    }
    if (entry) ReleasePythonRef(entry);
    Repeated(repeats);
  }

  void Repeated(int repeats) {
    const int notShown = repeats - (kRepeatedFramesShown - 1);
    if (notShown > 0)
      text +=
          "  [Previous line repeated " + std::to_string(notShown) + " more time" + (notShown > 1 ? "s" : "") + "]\n";
  }

  void LastLines(PyObjectRef type, PyObjectRef value) {
    std::string message;
    if (value && e__PyExc_SyntaxError && *e__PyExc_SyntaxError && EPyType_IsSubtype &&
        EPyType_IsSubtype(value->ob_type, reinterpret_cast<PyTypeObjectHeader*>(*e__PyExc_SyntaxError))) {
      SyntaxErrorLines(value);
      message = TextAttributeUtf8(value, "msg");
    } else if (value && EPyObject_Str) {
      PyObjectRef words = EPyObject_Str(value);
      if (!words) EPyErr_Clear();
      message = Utf8Of(words);
      if (words) ReleasePythonRef(words);
    }
    text += TypeNameForTraceback(type) + (message.empty() ? "" : ": " + message) + "\n";
    if (value) Notes(value);
  }

  void SyntaxErrorLines(PyObjectRef value) {
    const std::string file = TextAttributeUtf8(value, "filename");
    const long line = IntAttribute(value, "lineno", -1);
    if (file.empty() && line < 0) return;
    text += "  File \"" + (file.empty() ? std::string("<string>") : file) + "\", line " + std::to_string(line) + "\n";
    const std::string source = TextAttributeUtf8(value, "text");
    const std::string shown = Stripped(source);
    if (shown.empty()) return;
    text += "    " + shown + "\n";
    const long offset = IntAttribute(value, "offset", 0);
    const long indent = static_cast<long>(source.find_first_not_of(" \t\f"));
    const long column = offset - 1 - indent;
    if (column >= 0 && column <= static_cast<long>(shown.size())) text += "    " + std::string(column, ' ') + "^\n";
  }

  void Notes(PyObjectRef value) {
    PyObjectRef notes = NewPythonAttributeOrNull(value, "__notes__");
    if (IsPythonList(notes) && EPyList_Size && EPyList_GetItem) {
      for (Py_ssize_t i = 0, count = EPyList_Size(notes); i < count; ++i) {
        PyObjectRef note = EPyList_GetItem(notes, i);
        if (IsPythonStr(note)) text += Utf8Of(note) + "\n";
      }
    }
    if (notes) ReleasePythonRef(notes);
  }

  std::vector<PyObjectRef> seen_;  // borrowed: each is kept alive by the chain being read
};

}  // namespace

std::string TracebackText(PyObjectRef type, PyObjectRef value, PyObjectRef traceback) {
  TracebackWriter writer;
  try {
    writer.Exception(value, traceback, type);
  } catch (const std::exception&) {
    // Out of memory: what was written so far.
  }
  return writer.text;
}
