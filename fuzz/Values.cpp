// Arguments by declared type, chosen by the input.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "Fuzzer.h"

namespace fuzz {

using xhost::Value;

namespace {

// Names and code that mean something to the plugin, Python or the fuzz module.
const char* const kTexts[] = {
    "fuzzmod",
    "sys",
    "builtins",
    "math",
    "gc",
    "fuzzhost0",
    "fuzzhost1",
    "fuzzhost2",
    "FuzzType",
    "echo",
    "args",
    "say",
    "shout",
    "make",
    "fail",
    "keep",
    "drop",
    "call",
    "host",
    "loop",
    "Thing",
    "Bad",
    "BadText",
    "value",
    "method",
    "kept",
    "path",
    "version",
    "__dict__",
    "__class__",
    "__name__",
    "f0",
    "f1",
    "p0",
    "p1",
    "1+1",
    "fuzzmod.say('hi')",
    "import fuzzhost0",
    "import fuzzmod",
    "fuzzmod.host('fuzzhost0', 'f0', 1)",
    "fuzzmod.host('fuzzhost1', 'FuzzType', 2)",
    "fuzzmod.make(16)",
    "fuzzmod.Bad()",
    "raise ValueError('x')",
    "print('out')",
    "x = ",
    "[1, 2, 3]",
    "{'a': 1}",
    "b'\\xff'",
    "'\\udcff'",
    "None",
    "fuzzmod.kept",
    "sys.stdout",
    "del sys.stdout",
    "fuzzmod.fail(4)",
    "fuzzmod.fail(5)",
    "2 ** 100",
    "-1",
    "1e999",
    "Hooked",
    "Colliding",
    "OddStr",
    "OddMeta",
    "hooked",
    "odd",
    "reenter",
    "hooked_value",
    "hooked_list",
    "hooked_dict",
    "hooked_other",
    "missing",
    "n",
    "mode",
    "fuzzmod.hooked(1)",
    "fuzzmod.hooked(3, 4)",
    "fuzzmod.hooked_list.sort()",
    "fuzzmod.reenter(1)",
    "fuzzmod.odd(12)",
    "raise fuzzmod.odd_error(20)",
    "import fuzzmod\nfuzzmod.hooked_dict[fuzzmod.Hooked(1)]",
    // Struct formats of the buffer members: items of 1, 2, 4 and 24 bytes, none, and no format.
    "B",
    "<h",
    "i",
    "3d",
    "0i",
    "Z",
    "fuzzmod.buffers",
    "memoryview(fuzzmod.buffers[0])",
};

// A folder of the fuzz module and places that are not folders of Python modules.
std::string FolderPath(FuzzedDataProvider& input, const std::string& moduleFolder) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return moduleFolder;
    case 1:
      return "/nonexistent/folder";
    case 2:
      return moduleFolder + "/fuzzmod.py";
    default:
      return "";
  }
}

// A MemoryBlock's bytes: any, or, for FromImageData, ones that image decoders
// take for theirs (a PNG or JPEG start, or a whole small PNG) and then meet
// truncated, mutated or followed by anything.
std::string BlockBytes(FuzzedDataProvider& input) {
  static const std::string kOnePixelPng(
      "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00\x01\x08\x00\x00"
      "\x00\x00\x3a\x7e\x9b\x55\x00\x00\x00\x0a\x49\x44\x41\x54\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01\x48\xaf\xa4"
      "\x71\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
      67);
  switch (input.ConsumeIntegralInRange(0, 5)) {
    case 0:
      return "\x89PNG\r\n\x1a\n" + input.ConsumeRandomLengthString(64);
    case 1:
      return "\xff\xd8\xff" + input.ConsumeRandomLengthString(64);
    case 2: {
      std::string png = kOnePixelPng.substr(0, input.ConsumeIntegralInRange<size_t>(0, kOnePixelPng.size()));
      for (int flips = input.ConsumeIntegralInRange(0, 3); flips > 0 && !png.empty(); --flips)
        png[input.ConsumeIntegralInRange<size_t>(0, png.size() - 1)] =
            static_cast<char>(input.ConsumeIntegral<uint8_t>());
      return png + input.ConsumeRandomLengthString(16);
    }
    default:
      return input.ConsumeRandomLengthString(32);
  }
}

}  // namespace

int64_t Fuzzer::integer() {
  FuzzedDataProvider& in = *input_;
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0:
      return 0;
    case 1:
      return -1;
    case 2:
    case 3:
      return in.ConsumeIntegralInRange<int64_t>(0, 8);
    case 4:
      return -in.ConsumeIntegralInRange<int64_t>(1, 1 << 16);
    case 5:
      return std::numeric_limits<int64_t>::max();
    case 6:
      return std::numeric_limits<int64_t>::min();
    // Counts Python cannot allocate, refused without touching memory.
    case 7:
      return int64_t{1} << in.ConsumeIntegralInRange(41, 62);
    case 8:
      return in.ConsumeIntegralInRange<int64_t>(0, 1 << 16);
    default: {
      // Counts from 2^20 to 2^41 would really be allocated and filled: a
      // program asking for them runs out of memory whatever the plugin does.
      const int64_t raw = in.ConsumeIntegral<int64_t>();
      return raw >= (int64_t{1} << 20) && raw < (int64_t{1} << 41) ? raw | (int64_t{1} << 50) : raw;
    }
  }
}

int32_t Fuzzer::int32() {
  FuzzedDataProvider& in = *input_;
  switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
      return 0;
    case 1:
      return -1;
    case 2:
      return in.ConsumeIntegralInRange<int32_t>(0, 8);
    case 3:
      return std::numeric_limits<int32_t>::max();
    case 4:
      return std::numeric_limits<int32_t>::min();
    default:
      return in.ConsumeIntegral<int32_t>();
  }
}

uint64_t Fuzzer::uint64() {
  FuzzedDataProvider& in = *input_;
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return 0;
    case 1:
      return std::numeric_limits<uint64_t>::max();
    case 2:
      return uint64_t{1} << 63;
    case 3:
      return in.ConsumeIntegralInRange<uint64_t>(0, 8);
    default:
      return in.ConsumeIntegral<uint64_t>();
  }
}

double Fuzzer::real() {
  FuzzedDataProvider& in = *input_;
  constexpr double kValues[] = {0.0,
                                -0.0,
                                1.5,
                                -2.5,
                                1e308,
                                -1e308,
                                5e-324,
                                9.2233720368547758e18,
                                -9.2233720368547758e18,
                                1.8446744073709552e19,
                                2147483648.0};
  const size_t choice = in.ConsumeIntegralInRange<size_t>(0, std::size(kValues) + 3);
  if (choice < std::size(kValues)) return kValues[choice];
  if (choice == std::size(kValues)) return std::numeric_limits<double>::quiet_NaN();
  if (choice == std::size(kValues) + 1) return std::numeric_limits<double>::infinity();
  if (choice == std::size(kValues) + 2) return -std::numeric_limits<double>::infinity();
  const uint64_t bits = in.ConsumeIntegral<uint64_t>();
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

xhost::String Fuzzer::string() {
  FuzzedDataProvider& in = *input_;
  const std::string name = kTexts[in.ConsumeIntegralInRange<size_t>(0, std::size(kTexts) - 1)];
  switch (in.ConsumeIntegralInRange(0, 11)) {
    case 0:
      return xhost::String();  // Nil
    case 1:
      return host_.newString("");
    case 2:
      return host_.newString(name + std::string("\0tail", 5));
    case 3:
      return host_.newString(std::string("\xff\xfe\xc3", 3) + name);  // invalid, marked UTF-8
    case 4:
      return host_.newString(std::string(70000, name.empty() ? 'x' : name[0]));
    case 5:
      return host_.newString(in.ConsumeRandomLengthString(64));
    case 6: {
      constexpr uint32_t kEncodings[] = {kREALTextEncodingUTF8, kREALTextEncodingASCII, kREALTextEncodingLatin1,
                                         kREALTextEncodingUnknown};
      const uint32_t encoding = kEncodings[in.ConsumeIntegralInRange(0, 3)];
      return host_.newString(in.ConsumeRandomLengthString(64), encoding);
    }
    case 7:
      if (!strings_.empty()) return strings_[in.ConsumeIntegralInRange<size_t>(0, strings_.size() - 1)];
      [[fallthrough]];
    default:
      return host_.newString(name);
  }
}

void* Fuzzer::pythonPointer() {
  FuzzedDataProvider& in = *input_;
  std::vector<void*> choices{nullptr};
  choices.insert(choices.end(), owned_.begin(), owned_.end());
  for (const std::vector<void*>& frame : borrowed_) choices.insert(choices.end(), frame.begin(), frame.end());
  return choices[in.ConsumeIntegralInRange<size_t>(0, choices.size() - 1)];
}

Value Fuzzer::object(const std::string& type) {
  FuzzedDataProvider& in = *input_;
  const int choice = in.ConsumeIntegralInRange(0, 7);
  if (choice == 0) return xhost::Nil{};
  if (choice <= 4) {
    std::vector<const xhost::Object*> fitting;
    for (const xhost::Object& candidate : objects_)
      if (catalog_.isA(candidate.className(), type)) fitting.push_back(&candidate);
    if (!fitting.empty()) return *fitting[in.ConsumeIntegralInRange<size_t>(0, fitting.size() - 1)];
  }
  xhost::Object made = fresh(type);
  if (made.isNil()) return xhost::Nil{};
  return made;
}

// A new object of a class that is `type`: with no constructor call when
// the class allows it (a wrapper that holds nothing), else through one.
xhost::Object Fuzzer::fresh(const std::string& type) {
  FuzzedDataProvider& in = *input_;
  std::vector<std::string> fitting;
  for (const std::string& candidate : catalog_.concreteClasses())
    if (catalog_.isA(candidate, type)) fitting.push_back(candidate);
  if (fitting.empty() || depth_ > 6) return {};
  const std::string& chosen = fitting[in.ConsumeIntegralInRange<size_t>(0, fitting.size() - 1)];
  const std::string lower = Lowercase(chosen);
  if (trace_) std::fprintf(stderr, "%*sNew %s\n", depth_ * 2, "", chosen.c_str());
  if (lower == "folderitem") return host_.newFolderItem(FolderPath(in, fuzzModuleFolder_));
  if (lower == "memoryblock") return host_.newMemoryBlock(BlockBytes(in));
  const std::vector<const Callable*>& constructors = catalog_.constructorsOf(chosen);
  if (constructors.empty()) return host_.newObject(chosen);
  const Callable& constructor = *constructors[in.ConsumeIntegralInRange<size_t>(0, constructors.size() - 1)];
  std::vector<Value> args;
  {
    Deeper deeper(depth_);
    args = argumentsFor(constructor);
  }
  return host_.newObject(chosen, args);
}

Value Fuzzer::valueOf(const std::string& type) {
  if (!active()) return zeroOf(type);
  const std::string t = Lowercase(type);
  if (t == "integer" || t == "int64" || t.find('.') != std::string::npos) return integer();
  if (t == "int32") return xhost::Int32{int32()};
  if (t == "uint64") return xhost::UInt64{uint64()};
  if (t == "double" || t == "single") return real();
  if (t == "boolean") return input_->ConsumeBool();
  if (t == "string") return string();
  if (t == "ptr") return xhost::Ptr{pythonPointer()};
  return object(type);
}

Value Fuzzer::argumentFor(const Callable& callable, const xhost::Signature::Parameter& parameter) {
  // Function pointers, by the parameter that takes them: each gets a
  // function of the calling convention Python will call it with, or null.
  struct FunctionParameter {
    const char* member;  // "" for any
    const char* parameter;
    Role role;
  };
  static const FunctionParameter kFunctions[] = {
      {"SetHashFunction", "fuction", Role::Hash},
      {"SetToStringFunction", "fuction", Role::ToString},
      {"", "fuction", Role::Method},
      {"", "initMethod", Role::Init},
      {"", "getterPtr", Role::Getter},
      {"", "setterPtr", Role::Setter},
      {"", "moduleCreatorFunction", Role::Creator},
  };
  if (Lowercase(parameter.type) == "ptr") {
    for (const FunctionParameter& function : kFunctions)
      if ((!*function.member || Lowercase(function.member) == Lowercase(callable.name)) &&
          Lowercase(function.parameter) == Lowercase(parameter.name))
        return xhost::Ptr{input_->ConsumeIntegralInRange(0, 5) ? functionPointer(function.role) : nullptr};
  }
  return valueOf(parameter.type);
}

std::vector<Value> Fuzzer::argumentsFor(const Callable& callable) {
  std::vector<Value> args;
  for (const xhost::Signature::Parameter& parameter : callable.params) {
    // A parameter with a default may be left out, as Xojo code may; only trailing ones.
    if (parameter.hasDefault && input_->ConsumeBool()) break;
    args.push_back(argumentFor(callable, parameter));
  }
  return args;
}

}  // namespace fuzz
