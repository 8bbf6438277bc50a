// Owning handles of host strings and objects, typed reads of Values, and
// the exception raised into host code.
#include <cstdio>
#include <utility>

#include "Core.h"
#include "Invoker.h"
#include "xhost/Host.h"

namespace xhost {

using namespace detail;

namespace {

template <typename Release>
void releaseQuietly(Release&& release) noexcept {
  try {
    release();
  } catch (...) {
  }
}

[[noreturn]] void wrongType(const char* wanted, const Value& v) {
  throw HostError(std::string("expected ") + wanted + ", got " + describe(v));
}

}  // namespace

String String::adopt(REALstringStruct* s) {
  String handle;
  handle.handle_ = s;
  return handle;
}

String String::retain(REALstringStruct* s) {
  core().strings.lock(s, "String::retain");
  return adopt(s);
}

String::String(const String& other) : handle_(other.handle_) { core().strings.lock(handle_, "String copy"); }
String::String(String&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
String& String::operator=(String other) noexcept {
  std::swap(handle_, other.handle_);
  return *this;
}
String::~String() {
  releaseQuietly([&] { core().strings.unlock(handle_, "String handle release"); });
}

REALstringStruct* String::release() { return std::exchange(handle_, nullptr); }

std::string String::bytes() const {
  if (!handle_) return "";
  const StringRecord* record = core().strings.find(handle_);
  if (!record || !record->alive) throw HostError("String::bytes: dead or unknown string handle");
  return std::string(record->bytes());
}

uint32_t String::encoding() const {
  if (!handle_) return kREALTextEncodingUTF8;
  const StringRecord* record = core().strings.find(handle_);
  if (!record || !record->alive) throw HostError("String::encoding: dead or unknown string handle");
  return record->encoding;
}

Object Object::adopt(REALobjectStruct* o) {
  Object handle;
  handle.handle_ = o;
  return handle;
}

Object Object::retain(REALobjectStruct* o) {
  core().objects.lock(o, "Object::retain");
  return adopt(o);
}

Object::Object(const Object& other) : handle_(other.handle_) { core().objects.lock(handle_, "Object copy"); }
Object::Object(Object&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
Object& Object::operator=(Object other) noexcept {
  std::swap(handle_, other.handle_);
  return *this;
}
Object::~Object() {
  releaseQuietly([&] { core().objects.unlock(handle_, "Object handle release"); });
}

REALobjectStruct* Object::release() { return std::exchange(handle_, nullptr); }

std::string Object::className() const {
  if (!handle_) return "";
  const ObjectRecord* record = core().objects.find(handle_);
  return record ? record->cls->name : "";
}

bool Object::isA(std::string_view className) const {
  const ObjectRecord* record = handle_ ? core().objects.find(handle_) : nullptr;
  const ClassInfo* wanted = core().classes.find(className);
  return record && wanted && record->life != ObjectRecord::Life::Dead && record->cls->isA(*wanted);
}

int64_t asInteger(const Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  if (auto* i = std::get_if<Int32>(&v)) return i->value;
  if (auto* i = std::get_if<Int64>(&v)) return i->value;
  wrongType("an Integer", v);
}

double asDouble(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  wrongType("a Double", v);
}

bool asBoolean(const Value& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b;
  wrongType("a Boolean", v);
}

String asString(const Value& v) {
  if (auto* s = std::get_if<String>(&v)) return *s;
  wrongType("a String", v);
}

Object asObject(const Value& v) {
  if (auto* o = std::get_if<Object>(&v)) return *o;
  if (std::holds_alternative<Nil>(v)) return Object();
  wrongType("an Object", v);
}

void* asPtr(const Value& v) {
  if (auto* p = std::get_if<Ptr>(&v)) return p->value;
  if (std::holds_alternative<Nil>(v)) return nullptr;
  wrongType("a Ptr", v);
}

std::string describe(const Value& v) {
  std::string type = typeNameOf(v);
  char text[64] = "";
  if (auto* i = std::get_if<int64_t>(&v)) std::snprintf(text, sizeof text, " %lld", static_cast<long long>(*i));
  if (auto* i = std::get_if<Int32>(&v)) std::snprintf(text, sizeof text, " %d", i->value);
  if (auto* i = std::get_if<Int64>(&v)) std::snprintf(text, sizeof text, " %lld", static_cast<long long>(i->value));
  if (auto* i = std::get_if<UInt64>(&v))
    std::snprintf(text, sizeof text, " %llu", static_cast<unsigned long long>(i->value));
  if (auto* d = std::get_if<double>(&v)) std::snprintf(text, sizeof text, " %g", *d);
  if (auto* b = std::get_if<bool>(&v)) return type + (*b ? " True" : " False");
  if (auto* p = std::get_if<Ptr>(&v)) std::snprintf(text, sizeof text, " %p", p->value);
  if (auto* s = std::get_if<String>(&v)) {
    const StringRecord* record = s->isNil() ? nullptr : core().strings.find(s->get());
    if (s->isNil()) return type + " \"\"";
    return type + " " + (record && record->alive ? StringStore::preview(record->bytes()) : "(dead)");
  }
  return type + text;
}

XojoException::XojoException(Object raised, std::string text, int64_t number)
    : std::runtime_error(raised.className() + ": " + text + " (error " + std::to_string(number) + ")"),
      exception(std::move(raised)),
      message(std::move(text)),
      errorNumber(number) {}

}  // namespace xhost
