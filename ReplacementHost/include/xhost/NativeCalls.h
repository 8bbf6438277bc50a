// Calls by C prototype, for host code that calls a plugin's exported
// functions directly, and recorded host entries of any prototype, for tests
// that check what a plugin passes to the host.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <variant>
#include <vector>

namespace xhost {

// A C function type written as its result and its parameters, one letter each:
//   v void (result only)   c int8_t   C uint8_t   s int16_t   S uint16_t
//   i int32_t   I uint32_t   l int64_t   L uint64_t   f float   d double   p pointer
// "l(pd)" is int64_t (*)(void*, double).
//
// One argument or result: signed integers as int64_t, unsigned integers and
// pointers as uint64_t, float and double as double, monostate for no value.
using NativeValue = std::variant<std::monostate, int64_t, uint64_t, double>;

// Calls `function` with that prototype. Throws HostError when the signature
// is malformed or an argument's kind or count does not fit it.
NativeValue callNative(void* function, std::string_view signature, const std::vector<NativeValue>& args);

// The value of that letter stored at `address` (what a callee wrote through a pointer).
NativeValue readNative(char letter, const void* address);

// A C function of `signature`, made at run time, that records the arguments
// of every call and returns the result it was given (the zero of its result
// type by default). Serve it under a name with Host::replaceEntry(name,
// recorder.function()). Safe to call from several threads.
class NativeRecorder {
 public:
  explicit NativeRecorder(std::string_view signature, NativeValue result = {});
  ~NativeRecorder();
  NativeRecorder(const NativeRecorder&) = delete;
  NativeRecorder& operator=(const NativeRecorder&) = delete;

  void* function() const;
  void setResult(NativeValue result);  // throws HostError when the kind does not fit
  std::vector<std::vector<NativeValue>> calls() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace xhost
