// The class family of the sample: a base with data, initializer and
// destructor, two subclasses, an interface, an event source, an exception
// and a module.
#include "SampleRecords.h"

namespace sample {

REALclassDefinition gBaseClass;
REALclassDefinition gErrorClass;

namespace {

struct BaseData {
  int64_t value;
  int64_t tag;
};
struct DerivedData {
  int64_t extra;
};

REALclassDefinition gDerivedClass, gOtherClass, gEmitterClass, gThrowerClass;

// --- SampleBase

void baseInitializer(REALobjectStruct* self) {
  BaseData* data = dataOf<BaseData>(self, gBaseClass);
  trace(data->value == 0 && data->tag == 0 ? "init:SampleBase" : "init:SampleBase(dirty)");
  data->tag = 0x7A6;
}
void baseDestructor(REALobjectStruct*) { trace("destroy:SampleBase"); }
void baseConstructor(REALobjectStruct* self) { dataOf<BaseData>(self, gBaseClass)->value = 1; }
void baseConstructorValue(REALobjectStruct* self, int64_t value) { dataOf<BaseData>(self, gBaseClass)->value = value; }
int64_t baseValue(REALobjectStruct* self) { return dataOf<BaseData>(self, gBaseClass)->value; }
REALstringStruct* baseKind(REALobjectStruct*) { return buildString("SampleBase"); }
int64_t baseItem(REALobjectStruct* self, int64_t index) { return dataOf<BaseData>(self, gBaseClass)->value + index; }
void baseSetItem(REALobjectStruct* self, int64_t index, int64_t value) {
  dataOf<BaseData>(self, gBaseClass)->value = value - index;
}
int64_t baseTag(REALobjectStruct* self, intptr_t) { return dataOf<BaseData>(self, gBaseClass)->tag; }
int64_t baseParamWord(REALobjectStruct*, intptr_t param) { return param; }
REALobjectStruct* basePartner(REALobjectStruct*) { return nullptr; }
REALstringStruct* baseDescribe(int32_t value) { return buildString("Int32:" + std::to_string(value)); }

REALmethodDefinition gBaseMethods[] = {
    {proc(baseConstructor), nullptr, "Constructor()", REALdefaultConstructorFlags, 0, {}},
    {proc(baseConstructorValue), nullptr, "Constructor(value as Integer)", REALmemberFlags, 0, {}},
    {proc(baseValue), nullptr, "Value() as Integer", REALmemberFlags, 0, {}},
    {proc(baseKind), nullptr, "Kind() as String", REALmemberFlags, 0, {}},
    {proc(baseItem), proc(baseSetItem), "Item(index as Integer) as Integer", REALmemberFlags, 0, {}},
    // A class registered later: types resolve once the plugin has started.
    {proc(basePartner), nullptr, "Partner() as SampleOverloads", REALmemberFlags, 0, {}},
};
REALmethodDefinition gBaseShared[] = {
    {proc(baseDescribe), nullptr, "Describe(v as Int32) as String", REALmemberFlags, 0, {}},
};
REALproperty gBaseProperties[] = {
    {nullptr, "Tag", "Integer", REALmemberFlags, 0, proc(baseTag), nullptr, 0, {}},
    {nullptr, "ParamWord", "Integer", REALmemberFlags, 0, proc(baseParamWord), nullptr, 77, {}},
};
REALconstant gBaseConstants[] = {
    {"ANSWER = 42", nullptr, 0, 0, {}},
    {"GREETING = \"hello\"", nullptr, 0, 0, {}},
};
const char* gLevelMembers[] = {"Low = 1", "Medium", "High = 10"};
REALenum gBaseEnums[] = {{"Levels", "Integer", 32, 0, gLevelMembers, 3, {}}};

// --- SampleDerived and SampleOther

void derivedInitializer(REALobjectStruct* self) {
  trace(dataOf<DerivedData>(self, gDerivedClass)->extra == 0 ? "init:SampleDerived" : "init:SampleDerived(dirty)");
}
void derivedDestructor(REALobjectStruct*) { trace("destroy:SampleDerived"); }
REALstringStruct* derivedKind(REALobjectStruct*) { return buildString("SampleDerived"); }
int64_t derivedExtra(REALobjectStruct* self) { return dataOf<DerivedData>(self, gDerivedClass)->extra; }

REALmethodDefinition gDerivedMethods[] = {
    {proc(derivedKind), nullptr, "Kind() as String", REALmemberFlags, 0, {}},
    {proc(derivedExtra), nullptr, "Extra() as Integer", REALmemberFlags, 0, {}},
};

void otherConstructor(REALobjectStruct* self, REALstringStruct* text) {
  dataOf<BaseData>(self, gBaseClass)->value = static_cast<int64_t>(bytesOf(text).size());
}
REALmethodDefinition gOtherMethods[] = {
    {proc(otherConstructor), nullptr, "Constructor(text as String)", REALmemberFlags, 0, {}},
};

// --- SampleEmitter: calls the handlers of its events

REALevent gEmitterEvents[] = {
    {"Notify(message as String, count as Int32) as Boolean", 0, {0, 0}},
    {"Name() as String", 0, {0, 0}},
    {"Measure(v as Double) as Double", 0, {0, 0}},
};

template <typename Fn>
Fn handlerOf(REALobjectStruct* self, const REALevent& event) {
  auto getEvent = hostEntry<REALproc (*)(REALobjectStruct*, uintptr_t)>("GetEventInstance");
  return reinterpret_cast<Fn>(getEvent(self, event.hostIdentifier));
}

signed char emitterFire(REALobjectStruct* self, REALstringStruct* message, int32_t count) {
  auto handler = handlerOf<signed char (*)(REALobjectStruct*, REALstringStruct*, int32_t)>(self, gEmitterEvents[0]);
  return handler ? handler(self, message, count) : 0;
}
signed char emitterHasHandler(REALobjectStruct* self) {
  return handlerOf<REALproc>(self, gEmitterEvents[0]) != nullptr;
}
REALstringStruct* emitterAskName(REALobjectStruct* self) {
  auto handler = handlerOf<REALstringStruct* (*)(REALobjectStruct*)>(self, gEmitterEvents[1]);
  return handler ? handler(self) : nullptr;  // the handler's result is ours to hand on
}
double emitterMeasure(REALobjectStruct* self, double v) {
  auto handler = handlerOf<double (*)(REALobjectStruct*, double)>(self, gEmitterEvents[2]);
  return handler ? handler(self, v) : -1.0;
}

REALmethodDefinition gEmitterMethods[] = {
    {proc(emitterFire), nullptr, "Fire(message as String, count as Int32) as Boolean", REALmemberFlags, 0, {}},
    {proc(emitterHasHandler), nullptr, "HasHandler() as Boolean", REALmemberFlags, 0, {}},
    {proc(emitterAskName), nullptr, "AskName() as String", REALmemberFlags, 0, {}},
    {proc(emitterMeasure), nullptr, "Measure(v as Double) as Double", REALmemberFlags, 0, {}},
};

// --- SampleError and SampleThrower: raising as the plugin's ThrowPythonException does

void errorConstructor(REALobjectStruct*) {}
REALmethodDefinition gErrorMethods[] = {
    {proc(errorConstructor), nullptr, "Constructor()", REALdefaultConstructorFlags, 0, {}},
};

void raise(const std::string& message, int64_t code) {
  REALobjectStruct* error = newInstance(&gErrorClass);
  auto loadMethod = hostEntry<REALproc (*)(REALobjectStruct*, const char*)>("REALLoadObjectMethod");
  auto constructor = reinterpret_cast<void (*)(REALobjectStruct*, REALstringStruct*, int64_t)>(
      loadMethod(error, "Constructor(message as String, errorCode as Integer)"));
  REALstringStruct* text = buildString(message);
  constructor(error, text, code);
  unlockString(text);
  hostEntry<void (*)(REALobjectStruct*)>("RuntimeRaiseException")(error);
  unlockObject(error);
}

void throwerFail(REALobjectStruct*, REALstringStruct* message, int64_t code) { raise(bytesOf(message), code); }
REALobjectStruct* throwerFailWithResult(REALobjectStruct*) {
  raise("failed with a result", 7);
  return newInstance(&gBaseClass);
}
REALmethodDefinition gThrowerMethods[] = {
    {proc(throwerFail), nullptr, "Fail(message as String, code as Integer)", REALmemberFlags, 0, {}},
    {proc(throwerFailWithResult), nullptr, "FailWithResult() as SampleBase", REALmemberFlags, 0, {}},
};

// --- Interface and module

REALinterfaceDefinition gShapeInterface = {kPluginInterfaceVersion, 0, "ISampleShape", {}};

int64_t moduleTriple(int64_t v) { return 3 * v; }
REALmethodDefinition gModuleMethods[] = {
    {proc(moduleTriple), nullptr, "Triple(v as Integer) as Integer", REALmemberFlags, 0, {}},
};
REALconstant gModuleConstants[] = {
    {"LIMIT = 100", nullptr, 0, 0, {}},
    {"RATIO = 2.5", nullptr, 0, 0, {}},
    {"MASK = &hFF", nullptr, 0, 0, {}},
};
REALmoduleDefinition gModule = {kPluginInterfaceVersion, 0, "SampleModule", gModuleMethods, 1, gModuleConstants, 3, {}};

}  // namespace

void registerCoreClasses() {
  hostEntry<void (*)(REALinterfaceDefinition*)>("PluginRegisterInterface")(&gShapeInterface);

  describeClass(gBaseClass, "SampleBase", nullptr, sizeof(BaseData));
  gBaseClass.constructor = baseInitializer;
  gBaseClass.destructor = baseDestructor;
  setMethods(gBaseClass, gBaseMethods);
  setSharedMethods(gBaseClass, gBaseShared);
  setProperties(gBaseClass, gBaseProperties);
  setConstants(gBaseClass, gBaseConstants);
  gBaseClass.enums = gBaseEnums;
  gBaseClass.enumCount = 1;
  registerClass(gBaseClass);

  describeClass(gDerivedClass, "SampleDerived", "SampleBase", sizeof(DerivedData));
  gDerivedClass.constructor = derivedInitializer;
  gDerivedClass.destructor = derivedDestructor;
  gDerivedClass.interfaces = "ISampleShape";
  setMethods(gDerivedClass, gDerivedMethods);
  registerClass(gDerivedClass);

  describeClass(gOtherClass, "SampleOther", "SampleBase", 0);
  setMethods(gOtherClass, gOtherMethods);
  registerClass(gOtherClass);

  describeClass(gEmitterClass, "SampleEmitter", nullptr, 0);
  setEvents(gEmitterClass, gEmitterEvents);
  setMethods(gEmitterClass, gEmitterMethods);
  registerClass(gEmitterClass);

  describeClass(gErrorClass, "SampleError", "RuntimeException", 0);
  setMethods(gErrorClass, gErrorMethods);
  registerClass(gErrorClass);

  describeClass(gThrowerClass, "SampleThrower", nullptr, 0);
  setMethods(gThrowerClass, gThrowerMethods);
  registerClass(gThrowerClass);

  hostEntry<void (*)(REALmoduleDefinition*)>("PluginRegisterModule")(&gModule);
}

}  // namespace sample
