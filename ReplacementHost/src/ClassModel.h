// What the host knows about each class, interface and module: its ancestry,
// the layout of its instances and its members with their parsed declarations.
#pragma once

#include <ffi.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Declaration.h"
#include "xhost/Host.h"

namespace xhost::detail {

struct ClassInfo;

// How a declared type travels through a call (the type mapping of the records).
enum class TypeKind { Void, Integer, Int32, Int64, UInt64, Double, Boolean, String, Object, Ptr };

struct XType {
  TypeKind kind = TypeKind::Void;
  const ClassInfo* objectClass = nullptr;  // Object kind: the required class or interface; null accepts any object
  std::string text;                        // as declared, for messages
};

// A member's call form, prepared for libffi on first use and kept.
struct PreparedCall {
  bool instance = false;      // the receiving object comes first
  bool paramWord = false;     // property getters: the entry's parameter word comes second
  std::vector<XType> params;  // declared parameters (an assignment's value last)
  XType result;
  std::vector<ffi_type*> ffiArgs;  // referenced by cif
  ffi_cif cif{};
};

enum class MemberKind { Method, SharedMethod, Property, Event };

struct Member {
  MemberKind kind = MemberKind::Method;
  const ClassInfo* owner = nullptr;  // the declaring class; never null
  Declaration declaration;           // properties: name and result type only
  std::string text;                  // the declaration as registered, for messages
  uint32_t flags = 0;
  REALproc function = nullptr;               // method or getter; null for events
  REALproc setter = nullptr;                 // setter of an assignable method or a property; may be null
  intptr_t paramWord = 0;                    // handed to property getters
  uintptr_t eventId = 0;                     // events: the identifier written into the entry
  std::unique_ptr<PreparedCall> callForm;    // built on first use
  std::unique_ptr<PreparedCall> assignForm;  // built on first use

  bool assignsDeclared() const { return !declaration.params.empty() && declaration.params.back().assigns; }
};

struct Constant {
  std::string name;
  Literal value;
};

struct Enumeration {
  std::string name;
  std::string baseType;
  std::vector<std::pair<std::string, int64_t>> members;
};

enum class ClassKind { Builtin, Plugin, HostSubclass, Interface, Module };

struct ClassInfo {
  std::string name;
  ClassKind kind = ClassKind::Plugin;
  const ClassInfo* super = nullptr;          // null for Object, interfaces and modules
  std::vector<const ClassInfo*> interfaces;  // implemented interfaces; not owned
  REALclassDefinition* record = nullptr;     // class records (plugin or host); not owned; null otherwise
  size_t blockOffset = 0;                    // of this class's own data block in an instance
  size_t blockSize = 0;
  size_t instanceSize = 0;  // header and every block of the ancestry
  void (*initializer)(REALobjectStruct*) = nullptr;
  void (*destructor)(REALobjectStruct*) = nullptr;
  std::vector<std::unique_ptr<Member>> methods, sharedMethods, properties, events;
  std::vector<Constant> constants;
  std::vector<Enumeration> enums;
  std::map<std::string, EventHandler> eventHandlers;  // host subclasses; keys lowercase, kDestructorHandler too
  bool typesChecked = false;                          // member types resolved (and reported) once

  bool isClass() const { return kind != ClassKind::Interface && kind != ClassKind::Module; }
  // This class, a superclass, or an interface implemented along the chain.
  bool isA(const ClassInfo& other) const;
};

// The handler a host subclass runs when an instance is destroyed.
constexpr const char* kDestructorHandler = "destructor";

// Host header in front of the data blocks of every instance.
constexpr size_t kInstanceHeaderSize = 16;
constexpr uint64_t kInstanceMagic = 0x58484f53544f424aull;  // "XHOSTOBJ"

ffi_type* ffiTypeOf(TypeKind kind);

}  // namespace xhost::detail
