// The receiver of Python's console output and its events.
#include "PythonEngine/ConsoleReceiver.h"

#include <unistd.h>

#include <string>

#include "HostHandles.h"
#include "PythonRuntime/HostEntry.h"
#include "Registration/ClassRecords.h"

ObjectField consoleOutputInstance;

namespace {

REALevent PythonEngineEvents[] = {
    records::Event(
        "ConsoleOutput(output as String)",
        "Raised with each text Python writes to sys.stdout (print among them), on the application's thread."),
    records::Event("ErrorOutput(output as String)",
                   "Raised with each text Python writes to sys.stderr (tracebacks, warnings, logging); without a "
                   "handler it goes to the process's standard error."),
};
static_assert(sizeof(PythonEngineEvents) / sizeof(PythonEngineEvents[0]) == kConsoleStreamCount,
              "one event per stream");

PythonEngineConsoleOutputData* ConsoleOutputDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEngineConsoleOutputData*>(REALGetClassData(instance, &PythonEngineConsoleOutputClass));
}

void PythonEngineConsoleOutput_Constructor(REALobjectStruct* instance) {
  PythonEngineConsoleOutputData* data = ConsoleOutputDataOf(instance);
  for (int stream = 0; stream < kConsoleStreamCount; ++stream)
    data->handlers[stream] = REALGetEventInstance(instance, &PythonEngineEvents[stream]);
}

// On the host's thread only.
bool gWholeLines = false;                        // events carry whole lines (SetConsoleOutput(output, True))
std::string gPartialLines[kConsoleStreamCount];  // the text of each stream since its last line end, in that mode

// Console events nest when a handler makes Python print again; each level
// costs host, call and Python frames on the application's stack.
constexpr int kMaxConsoleEventNesting = 8;
int gConsoleEventNesting = 0;  // on the host's thread only

// The receiver's handler of the stream's event; null when none.
REALproc HandlerOf(REALobjectStruct* receiver, int stream) {
  PythonEngineConsoleOutputData* data = ConsoleOutputDataOf(receiver);
  if (!data->handlers[stream]) data->handlers[stream] = REALGetEventInstance(receiver, &PythonEngineEvents[stream]);
  return data->handlers[stream];
}

// Raises the stream's event of the current receiver. Standard error that no
// handler takes goes where it always went, to the process's standard error.
void Emit(int stream, const char* text, size_t length) noexcept {
  REALobjectStruct* receiver = consoleOutputInstance.Get();
  REALproc handler = receiver ? HandlerOf(receiver, stream) : nullptr;
  if (!handler) {
    if (stream == kStandardError)
      for (size_t written = 0; written < length;) {
        const ssize_t n = ::write(STDERR_FILENO, text + written, length - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
      }
    return;
  }
  ScopedString output =
      ScopedString::Adopt(REALBuildStringWithEncoding(text, static_cast<int>(length), kREALTextEncodingUTF8));
  // The handler may replace the receiver; it must outlive its own event.
  ScopedObject keptReceiver = ScopedObject::Borrow(receiver);
  ++gConsoleEventNesting;
  reinterpret_cast<void (*)(REALobjectStruct*, REALstringStruct*)>(handler)(receiver, output.Get());
  --gConsoleEventNesting;
}

}  // namespace

// One event per write, or per whole line in that mode.
void DeliverConsoleText(int stream, std::string_view text) noexcept {
  if (!gWholeLines) return Emit(stream, text.data(), text.size());
  std::string& pending = gPartialLines[stream];
  try {
    pending += text;
  } catch (const std::exception&) {
    return Emit(stream, text.data(), text.size());
  }
  size_t start = 0;
  for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = pending.substr(start, end + 1 - start);
    Emit(stream, line.data(), line.size());
  }
  pending.erase(0, start);
  // A stream of gPartialLines holds text: the end of the host call flushes it.
  if (!pending.empty()) host_entries::gEndOfCallWorkWaits = true;
}

void FlushConsoleStream(int stream) noexcept {
  if (gPartialLines[stream].empty()) return;  // the usual case, at the end of every host call
  std::string pending;
  pending.swap(gPartialLines[stream]);
  if (!pending.empty()) Emit(stream, pending.data(), pending.size());
}

void FlushPartialLines() noexcept {
  if (!host_entries::gEndOfCallWorkWaits) return;
  // Cleared first: an event handler that prints a partial line again sets it anew.
  host_entries::gEndOfCallWorkWaits = false;
  for (int stream = 0; stream < kConsoleStreamCount; ++stream) FlushConsoleStream(stream);
}

void ReceiveThreadText(int stream, bool flush, std::string_view text) noexcept {
  if (stream < 0 || stream >= kConsoleStreamCount) return;
  if (flush)
    FlushConsoleStream(stream);
  else
    DeliverConsoleText(stream, text);
}

bool ConsoleEventsNestTooDeeply() noexcept { return gConsoleEventNesting >= kMaxConsoleEventNesting; }

void Python_SetConsoleOutput(REALobjectStruct* output) {
  FlushPartialLines();
  gWholeLines = false;
  consoleOutputInstance.Borrow(output);
}

void Python_SetConsoleOutputLines(REALobjectStruct* output, int8_t lines) {
  FlushPartialLines();
  gWholeLines = lines != 0;
  consoleOutputInstance.Borrow(output);
}

REALclassDefinition PythonEngineConsoleOutputClass =
    records::ClassRecord("Python3EngineConsoleOutput", nullptr, sizeof(PythonEngineConsoleOutputData))
        .Describe("Receives what Python prints once passed to Python3Engine.SetConsoleOutput.")
        .Initializer<PythonEngineConsoleOutput_Constructor>()
        .Events(PythonEngineEvents);
