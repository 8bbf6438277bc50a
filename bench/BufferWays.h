// The buffer rows: blocks of 64 KiB, 1 MiB and 64 MiB handed between Python
// (a bytearray, a numpy array) and MemoryBlocks through Python3Entity's
// buffer members, each beside memcpy of the same size in the same run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace bench {

// Registers every buffer benchmark ("Buffer/<operation>/<size>"); the plugin
// must be started (StartPlugin). `iterations` > 0 fixes their counts.
void RegisterBufferBenchmarks(int64_t iterations);

// The table of the buffer rows: time per operation and its bandwidth against
// memcpy's, from the figures (ns) by benchmark name (NAN when missing).
void PrintBufferSummary(const std::function<double(const std::string&)>& figure);

}  // namespace bench
