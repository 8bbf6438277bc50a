// The queue of what Python's threads leave for the host's thread, its spill to a temporary file, and its
// delivery within a host call's time budget.

#include "PythonRuntime/DeferredWork.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/InterpreterState.h"

// Python threads waiting for room in the queue.
std::atomic<int> gWaitingWriters{0};

namespace {

using Clock = std::chrono::steady_clock;

// A record: one byte of stream (high bit for a flush), four of length, the text.
constexpr uint8_t kFlushBit = 0x80;
constexpr size_t kRecordHeader = 5;
// The temporary file is read back in pieces of this size.
constexpr size_t kSpillReadPiece = 1024 * 1024;
// Text for the file is written in pieces of this size, one write for many records.
constexpr size_t kFileWriteBytes = 64 * 1024;
constexpr size_t kMostRecordBytes = size_t{1} << 30;
// Past this much in the file, a writer waits this long per write, so that a
// thread writing without end cannot fill the disk while a call runs.
constexpr size_t kSpillBound = 64 * 1024 * 1024;
constexpr auto kSpillWait = std::chrono::milliseconds(10);
// A delivery of this much text is a backlog: its writes go joined, up to
// this much per event.
constexpr size_t kBacklogBytes = 16 * 1024;
constexpr size_t kMostJoinedBytes = 64 * 1024;

void AppendRecord(std::string& to, int stream, bool flush, std::string_view text) {
  const uint8_t kind = static_cast<uint8_t>(stream) | (flush ? kFlushBit : 0);
  const uint32_t length = static_cast<uint32_t>(text.size());
  char header[kRecordHeader];
  header[0] = static_cast<char>(kind);
  std::memcpy(header + 1, &length, sizeof length);
  to.append(header, kRecordHeader);
  to.append(text.data(), text.size());
}

// Text that waits in a temporary file, in order after what memory holds.
class SpillFile {
 public:
  bool Holds() const { return written_ > read_; }
  size_t Bytes() const { return static_cast<size_t>(written_ - read_); }

  bool Append(const std::string& records) {
    if (fd_ < 0 && !Open()) return false;
    for (size_t done = 0; done < records.size();) {
      const ssize_t n = ::pwrite(fd_, records.data() + done, records.size() - done, written_ + done);
      if (n <= 0) return false;  // what was written past written_ is overwritten later
      done += static_cast<size_t>(n);
    }
    written_ += static_cast<off_t>(records.size());
    return true;
  }

  // The next whole records, about `most` bytes of them and at least one.
  std::string Take(size_t most) {
    std::string piece = Read(read_, std::min(std::max(most, kRecordHeader), Bytes()));
    size_t end = 0;
    while (end + kRecordHeader <= piece.size()) {
      const size_t record = kRecordHeader + LengthAt(piece.data() + end);
      if (end + record > piece.size()) {
        if (end == 0) piece = Read(read_, std::min(record, Bytes()));  // one record longer than the piece
        if (end == 0 && piece.size() == record) end = record;
        break;
      }
      end += record;
    }
    if (end == 0) end = Bytes();  // the file cannot be read back: what it holds is lost
    piece.resize(std::min(end, piece.size()));
    read_ += static_cast<off_t>(end);
    if (!Holds() && ::ftruncate(fd_, 0) == 0) read_ = written_ = 0;
    return piece;
  }

 private:
  static uint32_t LengthAt(const char* header) {
    uint32_t length;
    std::memcpy(&length, header + 1, sizeof length);
    return length;
  }

  std::string Read(off_t from, size_t size) {
    std::string bytes(size, '\0');
    size_t got = 0;
    while (got < size) {
      const ssize_t n = ::pread(fd_, &bytes[got], size - got, from + static_cast<off_t>(got));
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }

  bool Open() {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/python3-plugin-output-XXXXXX";
    fd_ = ::mkostemp(&pattern[0], O_CLOEXEC);
    if (fd_ < 0) return false;
    ::unlink(pattern.c_str());  // gone with the process, whatever happens
    return true;
  }

  int fd_ = -1;
  off_t written_ = 0;
  off_t read_ = 0;
};

// The text of Python's threads, oldest first: memory, then the file, then
// what waits to be written to the file in one piece.
class TextQueue {
 public:
  bool Full() const { return memory_.size() >= kThreadTextMemoryBound || InFile(); }
  bool Empty() const { return memory_.empty() && !InFile(); }
  size_t Bytes() const { return memory_.size() + FileBytes(); }
  size_t FileBytes() const { return file_.Bytes() + toFile_.size(); }

  // Memory while there is room and nothing waits for the file; past the
  // bound, the file.
  void Append(int stream, bool flush, std::string_view text) {
    const bool toMemory = !Full();
    std::string& to = toMemory ? memory_ : toFile_;
    // A record's length is 32 bits: a longer text goes as several, cut
    // between two UTF-8 characters.
    do {
      size_t piece = std::min(text.size(), kMostRecordBytes);
      while (piece < text.size() && piece > 1 && (static_cast<uint8_t>(text[piece]) & 0xC0) == 0x80) --piece;
      AppendRecord(to, stream, flush, text.substr(0, piece));
      text.remove_prefix(piece);
    } while (!text.empty());
    if (!toMemory && toFile_.size() >= kFileWriteBytes) WriteToFile();
  }

  // The oldest records, at most about `most` bytes of them from the file.
  std::string Take(size_t most) {
    std::string taken;
    if (!memory_.empty())
      taken.swap(memory_);
    else if (file_.Holds())
      taken = file_.Take(std::min(most, kSpillReadPiece));
    else
      taken.swap(toFile_);
    return taken;
  }

  // What a delivery could not hand on goes back to the front.
  void PutBack(std::string_view rest) { memory_.insert(0, rest.data(), rest.size()); }

 private:
  bool InFile() const { return file_.Holds() || !toFile_.empty(); }

  void WriteToFile() {
    if (!file_.Append(toFile_)) memory_.append(toFile_);  // no disk: memory rather than loss
    toFile_.clear();
  }

  std::string memory_;
  SpillFile file_;
  std::string toFile_;
};

// Python's daemon threads may still wait on these as the process exits: never destroyed.
std::mutex gQueueMutex;
alignas(std::condition_variable) unsigned char gRoomForTextStorage[sizeof(std::condition_variable)];
std::condition_variable& gRoomForText = *::new (
    gRoomForTextStorage) std::condition_variable;  // notified when text is taken or a host call begins running Python
alignas(std::condition_variable) unsigned char gWritersGoneStorage[sizeof(std::condition_variable)];
std::condition_variable& gWritersGone =
    *::new (gWritersGoneStorage) std::condition_variable;  // notified as waiting writers leave
std::deque<std::function<void()>>* gWork = nullptr;        // created on first use, never freed
TextQueue* gText = nullptr;                                // created on first use, never freed
bool gClosing = false;  // under queueMutex: Python is about to stop, writers wait no more
ThreadTextReceiver gReceiver = nullptr;

// The end of the delivery budget of the host call the thread is in.
struct CallBudget {
  Clock::time_point deadline;
};
thread_local CallBudget tBudget{};
constexpr auto kBudgetKept = std::chrono::seconds(1);

void Ready() {
  if (!gWork) gWork = new std::deque<std::function<void()>>;
  if (!gText) gText = new TextQueue;
}

void NoteQueued() { host_entries::gHasDeferredWork.store(true, std::memory_order_release); }

// On a Python thread holding the interpreter lock, with queueMutex locked.
// Past the memory bound a writer waits for room while no host call runs
// Python code. While one does (it may be joining this very thread) the text
// goes to the file, and past the file's bound each write waits a moment.
// Once Python is about to stop, nobody waits: the lock taken back at the end
// of a wait would end the thread inside the plugin.
void WaitForRoom(std::unique_lock<std::mutex>& lock) {
  auto waitsForRoom = [] { return gText->Full() && !HostThreadsRunPython() && gPythonInitialized && !gClosing; };
  const bool waitsAMoment = !waitsForRoom() && gText->FileBytes() >= kSpillBound && gPythonInitialized && !gClosing;
  if (OnHostThread() || !(waitsForRoom() || waitsAMoment) ||
      !HasPythonEntries(EPyEval_SaveThread, EPyEval_RestoreThread))
    return;
  gWaitingWriters.fetch_add(1);
  lock.unlock();
  PyThreadState* state = EPyEval_SaveThread();
  lock.lock();
  if (waitsAMoment) {
    gRoomForText.wait_for(lock, kSpillWait);
  } else {
    // Timed: a host call that begins running Python between the look and
    // the wait is noticed all the same.
    while (waitsForRoom()) gRoomForText.wait_for(lock, std::chrono::milliseconds(20));
  }
  lock.unlock();
  EPyEval_RestoreThread(state);
  lock.lock();
  if (gWaitingWriters.fetch_sub(1) == 1) gWritersGone.notify_all();
}

void Queue(int stream, bool flush, std::string_view written, bool mayWait) noexcept {
  try {
    std::unique_lock<std::mutex> lock(gQueueMutex);
    Ready();
    if (mayWait) WaitForRoom(lock);
    gText->Append(stream, flush, written);
    NoteQueued();
  } catch (const std::exception&) {
    // Out of memory: the text is lost, never delivered on this thread.
  }
}

bool NothingQueued() { return gWork->empty() && gText->Empty(); }

// Runs the queued work (host objects to unlock), holding the interpreter lock.
void RunQueuedWork() {
  std::deque<std::function<void()>> taken;
  {
    std::lock_guard<std::mutex> lock(gQueueMutex);
    if (gWork->empty()) return;
    taken.swap(*gWork);
  }
  if (gPythonInitialized && !gPythonFinalizing) HoldInterpreterLock();
  for (auto& item : taken) item();
}

struct Record {
  int stream;
  bool flush;
  std::string_view text;
  size_t size;  // header included
};

Record RecordAt(std::string_view records, size_t at) {
  const uint8_t kind = static_cast<uint8_t>(records[at]);
  uint32_t length;
  std::memcpy(&length, records.data() + at + 1, sizeof length);
  return Record{kind & ~kFlushBit, (kind & kFlushBit) != 0, records.substr(at + kRecordHeader, length),
                kRecordHeader + length};
}

// Hands records to the receiver until `deadline`; returns the bytes handed
// on. From a backlog, the writes of one stream that follow each other go as
// one text, so that the application's handler keeps up with the writers.
size_t Hand(std::string_view records, Clock::time_point deadline, bool bounded) {
  const bool joinWrites = records.size() >= kBacklogBytes;
  std::string joined;
  size_t at = 0;
  while (at + kRecordHeader <= records.size()) {
    if (bounded && Clock::now() >= deadline) break;
    Record record = RecordAt(records, at);
    at += record.size;
    if (joinWrites && !record.flush) {
      joined.assign(record.text.data(), record.text.size());
      while (at + kRecordHeader <= records.size() && joined.size() < kMostJoinedBytes) {
        const Record next = RecordAt(records, at);
        if (next.flush || next.stream != record.stream) break;
        joined.append(next.text.data(), next.text.size());
        at += next.size;
      }
      record.text = joined;
    }
    if (gReceiver) gReceiver(record.stream, record.flush, record.text);
  }
  return at;
}

}  // namespace

void SetThreadTextReceiver(ThreadTextReceiver textReceiver) noexcept { gReceiver = textReceiver; }

void DeferToHostThread(std::function<void()> deferred) noexcept {
  try {
    std::lock_guard<std::mutex> lock(gQueueMutex);
    Ready();
    gWork->push_back(std::move(deferred));
    NoteQueued();
  } catch (const std::exception&) {
    // Out of memory: the work is dropped rather than run on the wrong thread.
  }
}

void QueueThreadText(int stream, std::string_view written) noexcept { Queue(stream, false, written, true); }

void QueueThreadFlush(int stream) noexcept { Queue(stream, true, {}, true); }

bool ThreadTextQueued() noexcept {
  if (!host_entries::gHasDeferredWork.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(gQueueMutex);
  Ready();
  return !gText->Empty();
}

void QueueHostText(int stream, std::string_view written) noexcept { Queue(stream, false, written, false); }

bool RunDeferredWork(DeliveryBudget budget) noexcept {
  const bool bounded = budget != DeliveryBudget::Everything;
  const Clock::time_point now = Clock::now();
  // A budget is the call's own while it is fresh; a call that began with
  // nothing to deliver opens one as text comes.
  if (budget != DeliveryBudget::SameCall || now > tBudget.deadline + kBudgetKept)
    tBudget.deadline = now + kDeliveryBudget;
  const Clock::time_point deadline = tBudget.deadline;
  try {
    size_t owed;  // what was queued when this delivery began: it never chases later text
    size_t delivered = 0;
    {
      std::lock_guard<std::mutex> lock(gQueueMutex);
      Ready();
      owed = gText->Bytes();
    }
    RunQueuedWork();
    while (owed > 0) {
      std::string taken;
      {
        std::lock_guard<std::mutex> lock(gQueueMutex);
        taken = gText->Take(owed);
      }
      if (!taken.empty()) gRoomForText.notify_all();
      if (taken.empty()) break;
      const size_t handed = Hand(taken, deadline, bounded);
      delivered += handed;
      owed -= std::min(owed, handed);
      if (handed < taken.size()) {
        std::lock_guard<std::mutex> lock(gQueueMutex);
        gText->PutBack(std::string_view(taken).substr(handed));
        NoteQueued();
        break;
      }
    }
    std::lock_guard<std::mutex> lock(gQueueMutex);
    if (NothingQueued()) host_entries::gHasDeferredWork.store(false, std::memory_order_release);
    return delivered > 0 || !gText->Empty();
  } catch (const std::exception&) {
    return true;
  }
}

void AcceptWaitingWriters() noexcept {
  std::lock_guard<std::mutex> lock(gQueueMutex);
  gClosing = false;
}

void ReleaseWaitingWriters() noexcept {
  {
    std::lock_guard<std::mutex> lock(gQueueMutex);
    gClosing = true;
  }
  gRoomForText.notify_all();
  if (gWaitingWriters.load() == 0 || !HasPythonEntries(EPyEval_SaveThread, EPyEval_RestoreThread)) return;
  PyThreadState* state = EPyEval_SaveThread();
  {
    std::unique_lock<std::mutex> lock(gQueueMutex);
    gWritersGone.wait(lock, [] { return gWaitingWriters.load() == 0; });
  }
  EPyEval_RestoreThread(state);
}

void NotifyWaitingWriters() noexcept { gRoomForText.notify_all(); }
