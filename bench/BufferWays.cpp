#include "BufferWays.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "xhost/Host.h"

namespace bench {
namespace {

using xhost::Object;

struct BlockSize {
  const char* label;
  int64_t bytes;
};
constexpr BlockSize kSizes[] = {
    {"64 KiB", int64_t{64} << 10}, {"1 MiB", int64_t{1} << 20}, {"64 MiB", int64_t{64} << 20}};

// Where each block comes from in Python (__main__.bench_buffers).
enum class Source { Bytearray, Numpy };

const char kMakeBytearrays[] = R"(
bench_buffers = {}
for size in (65536, 1 << 20, 64 << 20):
    bench_buffers['bytearray %d' % size] = bytearray(b'\1') * size
)";
// numpy only in the first interpreter: it cannot be imported again after a
// restart, and what it left behind crashes the next start.
const char kMakeNumpyArrays[] = R"(
try:
    import numpy
    for size in (65536, 1 << 20, 64 << 20):
        bench_buffers['numpy %d' % size] = numpy.ones(size, numpy.uint8)
except ImportError:
    pass
)";

// The members as compiled Xojo code binds them, and the host's unlock.
struct Bound {
  int64_t (*CopyBuffer)(REALobjectStruct*, REALobjectStruct*) = nullptr;
  REALobjectStruct* (*BufferView)(REALobjectStruct*) = nullptr;
  REALobjectStruct* (*FromMemoryBlock)(REALobjectStruct*, REALstringStruct*) = nullptr;
  REALobjectStruct* (*FromMemoryBlockShared)(REALobjectStruct*, REALstringStruct*) = nullptr;
  REALobjectStruct* (*FromPtr)(void*) = nullptr;
  void* (*GetPtr)(REALobjectStruct*) = nullptr;
  void (*UnlockObject)(REALobjectStruct*) = nullptr;
} bound;

xhost::Host& Host() { return xhost::Host::instance(); }

template <typename Function>
Function Member(const char* declaration) {
  return reinterpret_cast<Function>(Host().memberFunctions("Python3Entity", declaration).function);
}

void Bind() {
  bound.CopyBuffer = Member<decltype(bound.CopyBuffer)>("CopyBuffer(into as MemoryBlock) as Integer");
  bound.BufferView = Member<decltype(bound.BufferView)>("BufferView() as MemoryBlock");
  bound.FromMemoryBlock = Member<decltype(bound.FromMemoryBlock)>(
      "FromMemoryBlock(block as MemoryBlock, format as String) as Python3Entity");
  bound.FromMemoryBlockShared = Member<decltype(bound.FromMemoryBlockShared)>(
      "FromMemoryBlockShared(block as MemoryBlock, format as String) as Python3Entity");
  bound.FromPtr = Member<decltype(bound.FromPtr)>("FromPtr(value as Ptr) as Python3Entity");
  bound.GetPtr = Member<decltype(bound.GetPtr)>("GetPtr() as Ptr");
  bound.UnlockObject = reinterpret_cast<decltype(bound.UnlockObject)>(Host().resolver()("REALUnlockObject"));
}

// A Python3Entity of the block of that size; Nil when Python has none (no
// numpy). The blocks are made again when a restart (Init + Finalize, which
// may run before) took them.
Object PythonBlock(Source source, int64_t bytes) {
  auto buffersOfMain = [] {
    return xhost::asObject(Host().callShared("Python3Engine", "Evaluate", {Host().newString("bench_buffers")}));
  };
  Object result = buffersOfMain();
  if (result.isNil()) {
    Host().callShared("Python3Engine", "ClearError");
    Host().callShared("Python3Engine", "Execute", {Host().newString(kMakeBytearrays)});
    result = buffersOfMain();
  }
  if (result.isNil()) return Object();
  Object buffers = xhost::asObject(Host().call(result, "DictionaryValue"));
  const std::string key = (source == Source::Numpy ? "numpy " : "bytearray ") + std::to_string(bytes);
  Object entity = xhost::asObject(Host().call(buffers, "GetValue", {Host().newString(key)}));
  Host().callShared("Python3Engine", "ClearError");
  return entity;
}

Object HostBlock(int64_t bytes) { return Host().newMemoryBlock(std::string(static_cast<size_t>(bytes), '\2')); }

bool Verified(benchmark::State& state, bool correct, const char* what) {
  if (!correct) state.SkipWithError(what);
  return correct;
}

void Memcpy(benchmark::State& state, int64_t bytes) {
  std::vector<char> from(static_cast<size_t>(bytes), '\1'), to(static_cast<size_t>(bytes), '\2');
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

void CopyBuffer(benchmark::State& state, Source source, int64_t bytes) {
  Object entity = PythonBlock(source, bytes);
  Object block = HostBlock(bytes);
  if (!Verified(state, !entity.isNil() && bound.CopyBuffer(entity.get(), block.get()) == bytes, "CopyBuffer")) return;
  for (auto _ : state) benchmark::DoNotOptimize(bound.CopyBuffer(entity.get(), block.get()));
  state.SetBytesProcessed(state.iterations() * bytes);
}

// As an application does it: an entity of the object, its view, both released.
void BufferView(benchmark::State& state, Source source, int64_t bytes) {
  Object entity = PythonBlock(source, bytes);
  // One reference kept for the run: the objects live as long anyway.
  void* object = entity.isNil() ? nullptr : bound.GetPtr(entity.get());
  auto view = [&] {
    REALobjectStruct* shared = bound.FromPtr(object);
    REALobjectStruct* block = bound.BufferView(shared);
    const bool made = block != nullptr;
    if (block) bound.UnlockObject(block);
    bound.UnlockObject(shared);
    return made;
  };
  if (!Verified(state, object && view(), "BufferView")) return;
  for (auto _ : state) benchmark::DoNotOptimize(view());
  state.SetBytesProcessed(state.iterations() * bytes);
}

void FromMemoryBlock(benchmark::State& state, bool shared, int64_t bytes) {
  Object block = HostBlock(bytes);
  xhost::String format = Host().newString("B");
  auto make = shared ? bound.FromMemoryBlockShared : bound.FromMemoryBlock;
  auto once = [&] {
    REALobjectStruct* entity = make(block.get(), format.get());
    if (entity) bound.UnlockObject(entity);
    return entity != nullptr;
  };
  if (!Verified(state, once(), shared ? "FromMemoryBlockShared" : "FromMemoryBlock")) return;
  for (auto _ : state) benchmark::DoNotOptimize(once());
  state.SetBytesProcessed(state.iterations() * bytes);
}

// A DataFrame of 100,000 rows of four float columns read as an application
// fills a list from it: the column names, then each column's buffer copied
// into a MemoryBlock of its size. pandas only in the first interpreter, as numpy.
constexpr int64_t kFrameRows = 100000;
constexpr int64_t kFrameBytes = kFrameRows * 4 * 8;
const char kMakeDataFrame[] = R"(
try:
    import numpy, pandas
    bench_frame = pandas.DataFrame(numpy.random.default_rng(1).random((100000, 4)), columns=list('abcd'))
except ImportError:
    pass
)";

void DataFrameColumns(benchmark::State& state) {
  Object result = xhost::asObject(Host().callShared("Python3Engine", "Evaluate", {Host().newString("bench_frame")}));
  Host().callShared("Python3Engine", "ClearError");
  if (!Verified(state, !result.isNil(), "no pandas DataFrame (python3-pandas), or a restart took it")) return;
  Object frame = xhost::asObject(Host().call(result, "EntityValue"));
  auto readAll = [&] {
    Object names = xhost::asObject(Host().call(frame, "ColumnNames"));
    if (names.isNil()) return int64_t{0};
    const int64_t count = xhost::asInteger(Host().getProperty(names, "Count"));
    int64_t copied = 0;
    for (int64_t index = 0; index < count; ++index) {
      Object name = xhost::asObject(Host().call(names, "GetItem", {index}));
      Object column =
          xhost::asObject(Host().call(frame, "Column", {xhost::asString(Host().getProperty(name, "StringValue"))}));
      Object block = Host().newMemoryBlock(
          std::string(static_cast<size_t>(xhost::asInteger(Host().getProperty(column, "BufferSize"))), '\0'));
      copied += bound.CopyBuffer(column.get(), block.get());
    }
    return copied;
  };
  if (!Verified(state, readAll() == kFrameBytes, "the columns did not copy whole")) return;
  for (auto _ : state) benchmark::DoNotOptimize(readAll());
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}

// The rows of the table, in order; `name` is the benchmark's middle part.
struct Operation {
  const char* name;
  const char* label;
  void (*measure)(benchmark::State&, int64_t);
};
const Operation kOperations[] = {
    {"Memcpy", "memcpy (the reference)", Memcpy},
    {"CopyBufferBytearray", "CopyBuffer: bytearray to a MemoryBlock",
     [](benchmark::State& state, int64_t bytes) { CopyBuffer(state, Source::Bytearray, bytes); }},
    {"CopyBufferNumpy", "CopyBuffer: numpy array to a MemoryBlock",
     [](benchmark::State& state, int64_t bytes) { CopyBuffer(state, Source::Numpy, bytes); }},
    {"FromMemoryBlock", "FromMemoryBlock: a MemoryBlock to a memoryview of a copy (made and freed)",
     [](benchmark::State& state, int64_t bytes) { FromMemoryBlock(state, false, bytes); }},
    {"BufferViewBytearray", "BufferView of a bytearray (entity, view, both released)",
     [](benchmark::State& state, int64_t bytes) { BufferView(state, Source::Bytearray, bytes); }},
    {"BufferViewNumpy", "BufferView of a numpy array (entity, view, both released)",
     [](benchmark::State& state, int64_t bytes) { BufferView(state, Source::Numpy, bytes); }},
    {"FromMemoryBlockShared", "FromMemoryBlockShared: a memoryview of the MemoryBlock (made and freed)",
     [](benchmark::State& state, int64_t bytes) { FromMemoryBlock(state, true, bytes); }},
};

std::string BenchmarkName(const Operation& operation, const BlockSize& size) {
  return std::string("Buffer/") + operation.name + "/" + std::to_string(size.bytes);
}

std::string Cell(double nanoseconds, double reference) {
  if (std::isnan(nanoseconds)) return "-";
  char text[64];
  const double microseconds = nanoseconds / 1000;
  std::snprintf(text, sizeof text, microseconds < 100 ? "%.2f µs" : "%.0f µs", microseconds);
  std::string cell = text;
  if (!std::isnan(reference) && nanoseconds > 0) {
    std::snprintf(text, sizeof text, " (%.2f×)", reference / nanoseconds);
    cell += text;
  }
  return cell;
}

}  // namespace

void RegisterBufferBenchmarks(int64_t iterations) {
  try {
    Bind();
  } catch (const std::exception& error) {
    // A plugin from before the buffer members: the other rows still compare.
    std::fprintf(stderr, "No buffer rows: %s\n", error.what());
    return;
  }
  Host().callShared("Python3Engine", "Execute", {Host().newString(kMakeBytearrays)});
  Host().callShared("Python3Engine", "Execute", {Host().newString(kMakeNumpyArrays)});
  Host().callShared("Python3Engine", "Execute", {Host().newString(kMakeDataFrame)});
  for (const char* name : {"Buffer/DataFrameColumns", "Buffer/MemcpyOfTheFrame"}) {
    auto* benchmark = benchmark::RegisterBenchmark(name, [name](benchmark::State& state) {
      if (std::string(name) == "Buffer/DataFrameColumns")
        DataFrameColumns(state);
      else
        Memcpy(state, kFrameBytes);
    });
    benchmark->Unit(benchmark::kNanosecond);
    if (iterations > 0) benchmark->Iterations(iterations);
  }
  for (const Operation& operation : kOperations) {
    for (const BlockSize& size : kSizes) {
      auto* benchmark = benchmark::RegisterBenchmark(
          BenchmarkName(operation, size).c_str(),
          [measure = operation.measure, bytes = size.bytes](benchmark::State& state) { measure(state, bytes); });
      benchmark->Unit(benchmark::kNanosecond);  // as every figure of the summary
      if (iterations > 0) benchmark->Iterations(iterations);
    }
  }
}

void PrintBufferSummary(const std::function<double(const std::string&)>& figure) {
  std::printf(
      "\nBlocks between Python and MemoryBlocks: CPU time per operation, and in parentheses memcpy's time for the "
      "same size over it (the operation's bandwidth as a share of memcpy's; above 1 is faster).\n\n"
      "| Operation |");
  for (const BlockSize& size : kSizes) std::printf(" %s |", size.label);
  std::printf("\n|---|");
  for (size_t i = 0; i < std::size(kSizes); ++i) std::printf("--:|");
  std::printf("\n");
  for (const Operation& operation : kOperations) {
    std::printf("| %s |", operation.label);
    for (const BlockSize& size : kSizes) {
      const double reference = figure(BenchmarkName(kOperations[0], size));
      std::printf(" %s |",
                  Cell(figure(BenchmarkName(operation, size)), &operation == kOperations ? NAN : reference).c_str());
    }
    std::printf("\n");
  }
  const double frame = figure("Buffer/DataFrameColumns");
  std::printf(
      "\nA pandas DataFrame of 100,000 rows x 4 float columns to four MemoryBlocks (ColumnNames, then Column and "
      "CopyBuffer per column, through the host's calls): %s; memcpy of its 3.2 MB: %s. Target: under 10 ms.\n",
      Cell(frame, NAN).c_str(), Cell(figure("Buffer/MemcpyOfTheFrame"), NAN).c_str());
}

}  // namespace bench
