// The traceback written as Python's own printer writes it (chained exceptions, repeated frames, syntax
// errors, notes), from attributes alone.

#include "PythonValues/TracebackText.h"

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
  const ScopedReference bytes = ScopedReference::Adopt(EPyUnicode_AsEncodedString(text, "utf-8", "backslashreplace"));
  if (!bytes) {
    EPyErr_Clear();
    return {};
  }
  return std::string(EPyBytes_AsString(bytes.Get()), static_cast<size_t>(EPyBytes_Size(bytes.Get())));
}

std::string TextAttributeUtf8(PyObjectRef object, const char* name) {
  const ScopedReference text = ScopedReference::Adopt(NewPythonStrAttributeOrNull(object, name));
  return Utf8Of(text.Get());
}

// An int attribute, or `otherwise`.
long IntAttribute(PyObjectRef object, const char* name, long otherwise) {
  const ScopedReference number = ScopedReference::Adopt(NewPythonAttributeOrNull(object, name));
  long result = otherwise;
  if (IsPythonInt(number.Get()) && EPyLong_AsLong) {
    result = EPyLong_AsLong(number.Get());
    if (result == -1 && EPyErr_Occurred && EPyErr_Occurred()) {
      EPyErr_Clear();
      result = otherwise;
    }
  }
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
  bool plain = false;
  {
    const ScopedReference module = ScopedReference::Adopt(NewPythonStrAttributeOrNull(type, "__module__"));
    plain =
        module && EPyUnicode_CompareWithASCIIString && EPyUnicode_CompareWithASCIIString(module.Get(), "__main__") == 0;
  }
  if (plain) {
    std::string name = TextAttributeUtf8(type, "__qualname__");
    if (!name.empty()) return name;
  }
  const ScopedReference name = ScopedReference::Adopt(NewTypeName(type));
  std::string result = Utf8Of(name.Get());
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
    const ScopedReference cause = ScopedReference::Adopt(NewPythonAttributeOrNull(value, "__cause__"));
    const bool caused = !IsNone(cause.Get());
    const ScopedReference context =
        ScopedReference::Adopt(caused ? nullptr : NewPythonAttributeOrNull(value, "__context__"));
    const ScopedReference suppress =
        ScopedReference::Adopt(caused ? nullptr : NewPythonAttributeOrNull(value, "__suppress_context__"));
    const bool suppressed = suppress.Get() == e__Py_TrueStruct;
    if (caused) {
      Earlier(cause.Get(), "\nThe above exception was the direct cause of the following exception:\n\n");
    } else if (!IsNone(context.Get()) && !suppressed) {
      Earlier(context.Get(), "\nDuring handling of the above exception, another exception occurred:\n\n");
    }
  }

  void Earlier(PyObjectRef exception, const char* joint) {
    if (std::find(seen_.begin(), seen_.end(), exception) != seen_.end()) return;
    {
      const ScopedReference traceback = ScopedReference::Adopt(NewPythonAttributeOrNull(exception, "__traceback__"));
      Exception(exception, traceback.Get(), reinterpret_cast<PyObjectRef>(exception->ob_type));
    }
    text += joint;
  }

  void Frames(PyObjectRef traceback) {
    text += "Traceback (most recent call last):\n";
    std::string lastFile, lastName;
    long lastLine = -1;
    int repeats = 0;
    ScopedReference entry = ScopedReference::Borrow(traceback);
    while (!IsNone(entry.Get())) {
      std::string file, name;
      {
        const ScopedReference frame = ScopedReference::Adopt(NewPythonAttributeOrNull(entry.Get(), "tb_frame"));
        const ScopedReference code = ScopedReference::Adopt(NewPythonAttributeOrNull(frame.Get(), "f_code"));
        file = TextAttributeUtf8(code.Get(), "co_filename");
        name = TextAttributeUtf8(code.Get(), "co_name");
      }
      const long line = IntAttribute(entry.Get(), "tb_lineno", -1);
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
      entry = ScopedReference::Adopt(NewPythonAttributeOrNull(entry.Get(), "tb_next"));
    }
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
      const ScopedReference words = ScopedReference::Adopt(EPyObject_Str(value));
      if (!words) EPyErr_Clear();
      message = Utf8Of(words.Get());
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
    const ScopedReference notes = ScopedReference::Adopt(NewPythonAttributeOrNull(value, "__notes__"));
    if (IsPythonList(notes.Get()) && EPyList_Size && EPyList_GetItem) {
      for (Py_ssize_t i = 0, count = EPyList_Size(notes.Get()); i < count; ++i) {
        PyObjectRef note = EPyList_GetItem(notes.Get(), i);
        if (IsPythonStr(note)) text += Utf8Of(note) + "\n";
      }
    }
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
