// libffi calls and closures for prototypes written as letters (NativeCalls.h).
#include "xhost/NativeCalls.h"

#include <ffi.h>

#include <cstring>
#include <mutex>
#include <string>

#include "xhost/Host.h"

namespace xhost {
namespace {

struct Prototype {
  char result = 'v';
  std::string params;
  std::vector<ffi_type*> ffiParams;  // referenced by cif
  ffi_cif cif{};
};

ffi_type* ffiTypeOfLetter(char letter) {
  switch (letter) {
    case 'v':
      return &ffi_type_void;
    case 'c':
      return &ffi_type_sint8;
    case 'C':
      return &ffi_type_uint8;
    case 's':
      return &ffi_type_sint16;
    case 'S':
      return &ffi_type_uint16;
    case 'i':
      return &ffi_type_sint32;
    case 'I':
      return &ffi_type_uint32;
    case 'l':
      return &ffi_type_sint64;
    case 'L':
      return &ffi_type_uint64;
    case 'f':
      return &ffi_type_float;
    case 'd':
      return &ffi_type_double;
    case 'p':
      return &ffi_type_pointer;
    default:
      return nullptr;
  }
}

void parse(std::string_view signature, Prototype& prototype) {
  std::string text(signature);
  if (text.size() < 3 || text[1] != '(' || text.back() != ')')
    throw HostError("native signature \"" + text + "\": expected result(parameters)");
  prototype.result = text[0];
  prototype.params = text.substr(2, text.size() - 3);
  if (!ffiTypeOfLetter(prototype.result)) throw HostError("native signature \"" + text + "\": unknown result letter");
  for (char letter : prototype.params) {
    if (letter == 'v' || !ffiTypeOfLetter(letter))
      throw HostError("native signature \"" + text + "\": unknown parameter letter " + letter);
    prototype.ffiParams.push_back(ffiTypeOfLetter(letter));
  }
  if (ffi_prep_cif(&prototype.cif, FFI_DEFAULT_ABI, static_cast<unsigned>(prototype.ffiParams.size()),
                   ffiTypeOfLetter(prototype.result), prototype.ffiParams.data()) != FFI_OK)
    throw HostError("native signature \"" + text + "\": libffi cannot prepare it");
}

bool isSigned(char letter) { return letter == 'c' || letter == 's' || letter == 'i' || letter == 'l'; }
bool isReal(char letter) { return letter == 'f' || letter == 'd'; }

void checkKind(char letter, const NativeValue& value, const char* what) {
  bool fits = letter == 'v'      ? std::holds_alternative<std::monostate>(value)
              : isReal(letter)   ? std::holds_alternative<double>(value)
              : isSigned(letter) ? std::holds_alternative<int64_t>(value)
                                 : std::holds_alternative<uint64_t>(value);
  if (!fits) throw HostError(std::string("native ") + what + ": value of the wrong kind for '" + letter + "'");
}

// One argument or result. Integers are kept widened to 64 bits: on a
// little-endian machine the narrow value is the first bytes of the word, as an
// argument is read, and the whole word is the ffi_arg a result is stored in.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "native words assume little-endian order");
union Word {
  int64_t l;
  uint64_t L;
  float f;
  double d;
};
static_assert(sizeof(Word) == sizeof(ffi_arg), "a word holds a widened result");

Word wordOf(char letter, const NativeValue& value) {
  Word word{};
  int64_t s = std::holds_alternative<int64_t>(value) ? std::get<int64_t>(value) : 0;
  uint64_t u = std::holds_alternative<uint64_t>(value) ? std::get<uint64_t>(value) : 0;
  double r = std::holds_alternative<double>(value) ? std::get<double>(value) : 0.0;
  switch (letter) {
    case 'c':
      word.l = static_cast<int8_t>(s);
      break;
    case 's':
      word.l = static_cast<int16_t>(s);
      break;
    case 'i':
      word.l = static_cast<int32_t>(s);
      break;
    case 'l':
      word.l = s;
      break;
    case 'C':
      word.L = static_cast<uint8_t>(u);
      break;
    case 'S':
      word.L = static_cast<uint16_t>(u);
      break;
    case 'I':
      word.L = static_cast<uint32_t>(u);
      break;
    case 'L':
    case 'p':
      word.L = u;
      break;
    case 'f':
      word.f = static_cast<float>(r);
      break;
    case 'd':
      word.d = r;
      break;
    default:
      break;
  }
  return word;
}

size_t sizeOfLetter(char letter) { return ffiTypeOfLetter(letter)->size; }

// The value of `size` bytes at `address`: the letter's own size for an
// argument, a whole ffi_arg for an integer result.
NativeValue valueOf(char letter, const void* address, size_t size) {
  Word w{};
  std::memcpy(&w, address, size);
  switch (letter) {
    case 'c':
      return int64_t{static_cast<int8_t>(w.L)};
    case 's':
      return int64_t{static_cast<int16_t>(w.L)};
    case 'i':
      return int64_t{static_cast<int32_t>(w.L)};
    case 'l':
      return w.l;
    case 'C':
      return uint64_t{static_cast<uint8_t>(w.L)};
    case 'S':
      return uint64_t{static_cast<uint16_t>(w.L)};
    case 'I':
      return uint64_t{static_cast<uint32_t>(w.L)};
    case 'L':
    case 'p':
      return w.L;
    case 'f':
      return double{w.f};
    case 'd':
      return w.d;
    default:
      return std::monostate{};
  }
}

size_t resultSize(char letter) { return isReal(letter) ? sizeOfLetter(letter) : sizeof(ffi_arg); }

}  // namespace

NativeValue callNative(void* function, std::string_view signature, const std::vector<NativeValue>& args) {
  Prototype prototype;
  parse(signature, prototype);
  if (!function) throw HostError("native call of a null function");
  if (args.size() != prototype.params.size())
    throw HostError("native call \"" + std::string(signature) + "\": " + std::to_string(args.size()) + " arguments");
  std::vector<Word> words;
  for (size_t i = 0; i < args.size(); ++i) {
    checkKind(prototype.params[i], args[i], "argument");
    words.push_back(wordOf(prototype.params[i], args[i]));
  }
  std::vector<void*> pointers;
  for (Word& word : words) pointers.push_back(&word);
  Word result{};
  ffi_call(&prototype.cif, FFI_FN(function), &result, pointers.data());
  return valueOf(prototype.result, &result, resultSize(prototype.result));
}

NativeValue readNative(char letter, const void* address) {
  if (letter == 'v' || !ffiTypeOfLetter(letter)) throw HostError(std::string("readNative: unknown letter ") + letter);
  return valueOf(letter, address, sizeOfLetter(letter));
}

struct NativeRecorder::Impl {
  Prototype prototype;
  ffi_closure* closure = nullptr;
  void* code = nullptr;
  mutable std::mutex mutex;
  NativeValue result;
  std::vector<std::vector<NativeValue>> calls;

  static void handle(ffi_cif*, void* resultWord, void** args, void* self) noexcept {
    auto* impl = static_cast<Impl*>(self);
    std::vector<NativeValue> call;
    for (size_t i = 0; i < impl->prototype.params.size(); ++i)
      call.push_back(valueOf(impl->prototype.params[i], args[i], sizeOfLetter(impl->prototype.params[i])));
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->calls.push_back(std::move(call));
    if (impl->prototype.result == 'v') return;
    Word word = wordOf(impl->prototype.result, impl->result);
    std::memcpy(resultWord, &word, resultSize(impl->prototype.result));
  }
};

NativeRecorder::NativeRecorder(std::string_view signature, NativeValue result) : impl_(std::make_unique<Impl>()) {
  parse(signature, impl_->prototype);
  setResult(std::move(result));
  impl_->closure = static_cast<ffi_closure*>(ffi_closure_alloc(sizeof(ffi_closure), &impl_->code));
  if (!impl_->closure ||
      ffi_prep_closure_loc(impl_->closure, &impl_->prototype.cif, &Impl::handle, impl_.get(), impl_->code) != FFI_OK) {
    if (impl_->closure) ffi_closure_free(impl_->closure);
    throw HostError("native recorder \"" + std::string(signature) + "\": libffi cannot make the function");
  }
}

NativeRecorder::~NativeRecorder() { ffi_closure_free(impl_->closure); }

void* NativeRecorder::function() const { return impl_->code; }

void NativeRecorder::setResult(NativeValue result) {
  char letter = impl_->prototype.result;
  if (letter != 'v' && std::holds_alternative<std::monostate>(result))
    result = isReal(letter) ? NativeValue{0.0} : isSigned(letter) ? NativeValue{int64_t{0}} : NativeValue{uint64_t{0}};
  checkKind(letter, result, "result");
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->result = std::move(result);
}

std::vector<std::vector<NativeValue>> NativeRecorder::calls() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->calls;
}

}  // namespace xhost
