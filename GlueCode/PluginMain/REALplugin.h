// Types shared by the plugin and any host that loads it: opaque handles, the
// description records the host reads at registration, and the string data
// record. Layouts are those of the 64-bit plugin interface, version 13.
#pragma once

#include <cstddef>
#include <cstdint>

struct REALobjectStruct;    // host object; Nil is null
struct REALstringStruct;    // host string; the empty string may be null
struct REALarrayStruct;     // host array (also a host object)
struct REALclassRefStruct;  // host class reference

// Records and values the host defines and the glue only passes on.
struct RuntimeText;             // host text value
struct REALpictureDescription;  // picture description record
struct REALstructure;           // structure description record
struct REALcontrol;             // desktop control description record (host word at kControlRecordHostOffset)
struct REALmobileControl;       // mobile control description record (host word at kControlRecordHostOffset)
struct REALdbEngineDefinition;
struct REALdbTableDefinition;
struct REALdbCursorDefinition;

typedef unsigned char RBBoolean;  // host Boolean results: 0 is false
typedef void (*REALproc)();       // untyped function pointer held by the records

// Resolver handed to REALPluginMain: host service name in, host function out.
typedef void* (*REALResolver)(const char* entryName);

constexpr uint32_t kPluginInterfaceVersion = 13;

// Text encodings as the host codes them.
constexpr uint32_t kREALTextEncodingUTF8 = 0x08000100;
constexpr uint32_t kREALTextEncodingASCII = 0x0600;
constexpr uint32_t kREALTextEncodingLatin1 = 0x0201;
constexpr uint32_t kREALTextEncodingUnknown = 0xFFFF;

// Flag bits of the class record.
constexpr uint32_t REALconsoleSafe = 4;
constexpr uint32_t REALwebOnly = 0x100;
constexpr uint32_t REALwebOnlyClearMask = 0x108;

// Method flags: 4 for every member, 128 added on parameterless constructors.
constexpr uint32_t REALmemberFlags = 4;
constexpr uint32_t REALdefaultConstructorFlags = 4 + 128;

// Element-type code of an object array for REALCreateArray.
constexpr int32_t kREALObjectArrayType = 4;

// Where the host writes, at registration, the offset of a control's own data
// block inside a control description record.
constexpr size_t kControlRecordHostOffset = 104;

struct REALmethodDefinition {
  REALproc function;        // called for the method, or the getter of an assignable method
  REALproc setterFunction;  // called when the method is assigned to; null for plain methods
  const char* declaration;  // Xojo declaration, e.g. "Int32Value(index as Integer) as Int32"
  uint32_t flags;
  uint32_t padding;
  uintptr_t reserved[2];
};

struct REALproperty {
  const char* group;     // always null here
  const char* name;
  const char* type;      // Xojo type name, e.g. "Integer"
  uint32_t flags;
  uint32_t padding;
  REALproc getter;
  REALproc setter;       // null: read-only
  intptr_t param;        // handed to the getter as its second argument
  uintptr_t reserved[5];
};

struct REALconstant {
  const char* declaration;  // "NAME = value"
  const char* type;         // null: the host infers it
  uint32_t flags;
  uint32_t padding;
  uintptr_t reserved[2];
};

struct REALevent {
  const char* declaration;   // e.g. "ConsoleOutput(output as String)"
  uintptr_t hostIdentifier;  // the entry's second word: written by the host when the class is registered
  uintptr_t reserved[2];
};

struct REALeventInstance {  // never used by this plugin; layout kept for the record
  const char* name;
  REALproc function;
};

struct REALenum {
  const char* name;
  const char* type;          // base type text, e.g. "Integer"
  uint32_t flags;
  uint32_t padding;
  const char** members;      // "NAME = value", one text per member
  uintptr_t memberCount;
  uintptr_t reserved[2];
};

struct REALclassDefinition {
  uint32_t version;
  uint32_t padding1;
  const char* name;
  const char* superName;     // null for none
  uintptr_t dataSize;        // size of this class's own block
  uintptr_t forSystemUse;    // written by the host: offset of this class's block in an instance
  void (*constructor)(REALobjectStruct*);  // initializer
  void (*destructor)(REALobjectStruct*);
  REALproperty* properties;
  uintptr_t propertyCount;
  REALmethodDefinition* methods;
  uintptr_t methodCount;
  REALevent* events;
  uintptr_t eventCount;
  REALeventInstance* eventInstances;
  uintptr_t eventInstanceCount;
  const char* interfaces;    // comma-separated interface names, or ""
  void* attributes;
  uintptr_t attributeCount;
  REALconstant* constants;
  uintptr_t constantCount;
  uint32_t mFlags;
  uint32_t padding2;
  REALproperty* sharedProperties;
  uintptr_t sharedPropertyCount;
  REALmethodDefinition* sharedMethods;
  uintptr_t sharedMethodCount;
  void* delegates;
  uintptr_t delegateCount;
  REALenum* enums;
  uintptr_t enumCount;
};

struct REALinterfaceDefinition {
  uint32_t version;
  uint32_t padding;
  const char* name;
  uintptr_t reserved[4];
};

struct REALmoduleDefinition {
  uint32_t version;
  uint32_t padding;
  const char* name;
  REALmethodDefinition* methods;
  uintptr_t methodCount;
  REALconstant* constants;
  uintptr_t constantCount;
  uintptr_t reserved[18];
};

// The plugin provides the storage; the host fills it in REALGetStringData and
// releases what it put there in REALDisposeStringData.
struct StringDataRecord {
  const void* data;
  uint64_t length;
  void* hostPrivate[2];
};

static_assert(sizeof(REALmethodDefinition) == 48, "method entry layout");
static_assert(offsetof(REALmethodDefinition, declaration) == 16, "method entry layout");
static_assert(offsetof(REALmethodDefinition, flags) == 24, "method entry layout");
static_assert(sizeof(REALproperty) == 96, "property entry layout");
static_assert(offsetof(REALproperty, getter) == 32, "property entry layout");
static_assert(offsetof(REALproperty, param) == 48, "property entry layout");
static_assert(sizeof(REALconstant) == 40, "constant entry layout");
static_assert(sizeof(REALevent) == 32, "event entry layout");
static_assert(offsetof(REALevent, hostIdentifier) == 8, "event entry layout");
static_assert(sizeof(REALenum) == 56, "enumeration entry layout");
static_assert(offsetof(REALenum, members) == 24, "enumeration entry layout");
static_assert(sizeof(REALclassDefinition) == 232, "class record layout");
static_assert(offsetof(REALclassDefinition, forSystemUse) == 32, "class record layout");
static_assert(offsetof(REALclassDefinition, properties) == 56, "class record layout");
static_assert(offsetof(REALclassDefinition, methods) == 72, "class record layout");
static_assert(offsetof(REALclassDefinition, events) == 88, "class record layout");
static_assert(offsetof(REALclassDefinition, eventInstances) == 104, "class record layout");
static_assert(offsetof(REALclassDefinition, interfaces) == 120, "class record layout");
static_assert(offsetof(REALclassDefinition, attributes) == 128, "class record layout");
static_assert(offsetof(REALclassDefinition, constants) == 144, "class record layout");
static_assert(offsetof(REALclassDefinition, mFlags) == 160, "class record layout");
static_assert(offsetof(REALclassDefinition, sharedProperties) == 168, "class record layout");
static_assert(offsetof(REALclassDefinition, sharedMethods) == 184, "class record layout");
static_assert(offsetof(REALclassDefinition, delegates) == 200, "class record layout");
static_assert(offsetof(REALclassDefinition, enums) == 216, "class record layout");
static_assert(sizeof(REALinterfaceDefinition) == 48, "interface record layout");
static_assert(sizeof(REALmoduleDefinition) == 192, "module record layout");
static_assert(offsetof(REALmoduleDefinition, constants) == 32, "module record layout");
