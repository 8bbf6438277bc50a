// SampleOverloads: members over every type of the type table, to test how
// the host picks overloads and passes values and references.
#include "SampleRecords.h"

namespace sample {
namespace {

REALclassDefinition gOverloadsClass;
int64_t gCounter = 0;

REALstringStruct* pickInt32(REALobjectStruct*, int32_t) { return buildString("Int32"); }
REALstringStruct* pickInt64(REALobjectStruct*, int64_t) { return buildString("Int64"); }
REALstringStruct* pickUInt64(REALobjectStruct*, uint64_t) { return buildString("UInt64"); }
REALstringStruct* pickDouble(REALobjectStruct*, double) { return buildString("Double"); }
REALstringStruct* pickBoolean(REALobjectStruct*, signed char) { return buildString("Boolean"); }
REALstringStruct* pickString(REALobjectStruct*, REALstringStruct*) { return buildString("String"); }
REALstringStruct* pickBase(REALobjectStruct*, REALobjectStruct*) { return buildString("SampleBase"); }
REALstringStruct* pickPtr(REALobjectStruct*, void*) { return buildString("Ptr"); }
REALstringStruct* shape(REALobjectStruct*, REALobjectStruct*) { return buildString("shape"); }

int64_t widen(REALobjectStruct*, int64_t v) { return v; }
int64_t sum(REALobjectStruct*, int64_t a, int64_t b) { return a + b; }
int64_t levelOf(REALobjectStruct*, int64_t level) { return level; }
REALstringStruct* echo(REALobjectStruct*, REALstringStruct* s) {
  lockString(s);  // the result is the caller's reference
  return s;
}
REALstringStruct* concat(REALobjectStruct*, REALstringStruct* a, REALstringStruct* b) {
  return buildString(bytesOf(a) + bytesOf(b));
}
REALobjectStruct* makeBase(REALobjectStruct*, int64_t value) {
  REALobjectStruct* base = newInstance(&gBaseClass);
  *dataOf<int64_t>(base, gBaseClass) = value;
  return base;
}
REALobjectStruct* same(REALobjectStruct*, REALobjectStruct* o) {
  lockObject(o);
  return o;
}
signed char negate(REALobjectStruct*, signed char b) { return !b; }
double half(REALobjectStruct*, double d) { return d / 2; }
uint64_t big(REALobjectStruct*) { return (uint64_t{1} << 63) + 5; }
int32_t doubled(REALobjectStruct*, int32_t v) { return 2 * v; }
int64_t longValue(REALobjectStruct*, int64_t v) { return v - 1; }
void* address(REALobjectStruct*, void* p) { return p; }
REALstringStruct* wrongResult(REALobjectStruct*) {
  REALstringStruct* text = buildString("dropped");
  unlockString(text);
  return text;  // already dead: the host must notice
}

int64_t counter() { return gCounter; }
void setCounter(int64_t v) { gCounter = v; }
void setScaled(int64_t factor, int64_t v) { gCounter = factor * v; }
double twice(double v) { return 2 * v; }

REALmethodDefinition gMethods[] = {
    {proc(pickInt32), nullptr, "Pick(v as Int32) as String", REALmemberFlags, 0, {}},
    {proc(pickInt64), nullptr, "Pick(v as Int64) as String", REALmemberFlags, 0, {}},
    {proc(pickUInt64), nullptr, "Pick(v as UInt64) as String", REALmemberFlags, 0, {}},
    {proc(pickDouble), nullptr, "Pick(v as Double) as String", REALmemberFlags, 0, {}},
    {proc(pickBoolean), nullptr, "Pick(v as Boolean) as String", REALmemberFlags, 0, {}},
    {proc(pickString), nullptr, "Pick(v as String) as String", REALmemberFlags, 0, {}},
    {proc(pickBase), nullptr, "Pick(v as SampleBase) as String", REALmemberFlags, 0, {}},
    {proc(pickPtr), nullptr, "Pick(v as Ptr) as String", REALmemberFlags, 0, {}},
    {proc(shape), nullptr, "Shape(s as ISampleShape) as String", REALmemberFlags, 0, {}},
    {proc(widen), nullptr, "Widen(v as Integer) as Integer", REALmemberFlags, 0, {}},
    {proc(sum), nullptr, "Sum(a as Integer, b as Integer = 10) as Integer", REALmemberFlags, 0, {}},
    {proc(levelOf),
     nullptr,
     "LevelOf(level as SampleBase.Levels = SampleBase.Levels.High) as Integer",
     REALmemberFlags,
     0,
     {}},
    {proc(echo), nullptr, "Echo(s as String) as String", REALmemberFlags, 0, {}},
    {proc(concat), nullptr, "Concat(a as String, b as String) as String", REALmemberFlags, 0, {}},
    {proc(makeBase), nullptr, "MakeBase(value as Integer) as SampleBase", REALmemberFlags, 0, {}},
    {proc(same), nullptr, "Same(o as Object) as Object", REALmemberFlags, 0, {}},
    {proc(negate), nullptr, "Negate(b as Boolean) as Boolean", REALmemberFlags, 0, {}},
    {proc(half), nullptr, "Half(d as Double) as Double", REALmemberFlags, 0, {}},
    {proc(big), nullptr, "Big() as UInt64", REALmemberFlags, 0, {}},
    {proc(doubled), nullptr, "Doubled(v as Int32) as Int32", REALmemberFlags, 0, {}},
    {proc(longValue), nullptr, "LongValue(v as Int64) as Int64", REALmemberFlags, 0, {}},
    {proc(address), nullptr, "Address(p as Ptr) as Ptr", REALmemberFlags, 0, {}},
    {proc(wrongResult), nullptr, "DeadResult() as String", REALmemberFlags, 0, {}},
};
REALmethodDefinition gShared[] = {
    {proc(counter), proc(setCounter), "Counter() as Integer", REALmemberFlags, 0, {}},
    {proc(setScaled), nullptr, "Scaled(factor as Integer, assigns v as Integer)", REALmemberFlags, 0, {}},
    {proc(twice), nullptr, "Twice(v as Double) as Double", REALmemberFlags, 0, {}},
};

}  // namespace

void registerCallClasses() {
  describeClass(gOverloadsClass, "SampleOverloads", nullptr, 0);
  setMethods(gOverloadsClass, gMethods);
  setSharedMethods(gOverloadsClass, gShared);
  registerClass(gOverloadsClass);
}

}  // namespace sample
