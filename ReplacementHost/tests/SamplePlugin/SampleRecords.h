// Filling class records field by field; the records themselves are static.
#pragma once

#include "SampleGlue.h"

namespace sample {

template <typename T>
REALproc proc(T function) {
  return reinterpret_cast<REALproc>(function);
}

inline void describeClass(REALclassDefinition& record, const char* name, const char* superName, uintptr_t dataSize) {
  record.version = kPluginInterfaceVersion;
  record.name = name;
  record.superName = superName;
  record.dataSize = dataSize;
  record.interfaces = "";
  record.mFlags = REALconsoleSafe;
}

template <size_t N>
void setMethods(REALclassDefinition& record, REALmethodDefinition (&table)[N]) {
  record.methods = table;
  record.methodCount = N;
}
template <size_t N>
void setSharedMethods(REALclassDefinition& record, REALmethodDefinition (&table)[N]) {
  record.sharedMethods = table;
  record.sharedMethodCount = N;
}
template <size_t N>
void setProperties(REALclassDefinition& record, REALproperty (&table)[N]) {
  record.properties = table;
  record.propertyCount = N;
}
template <size_t N>
void setEvents(REALclassDefinition& record, REALevent (&table)[N]) {
  record.events = table;
  record.eventCount = N;
}
template <size_t N>
void setConstants(REALclassDefinition& record, REALconstant (&table)[N]) {
  record.constants = table;
  record.constantCount = N;
}

inline void registerClass(REALclassDefinition& record) {
  hostEntry<void (*)(REALclassDefinition*)>("PluginRegisterClass")(&record);
}

}  // namespace sample
