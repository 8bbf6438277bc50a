// Strict reading of the class records: every table, flag and text is checked
// before the host takes a record, and every problem is named.
#include <string>

#include "ClassRegistry.h"

namespace xhost::detail {
namespace {

constexpr uint32_t kAllowedClassFlags = 4 | 8 | 0x100;
constexpr uint32_t kEnumerationFlags = 32;
constexpr uintptr_t kLargestDataBlock = 1u << 20;

std::string quoted(const char* text) { return text ? "\"" + std::string(text) + "\"" : "(null)"; }

template <typename T>
void checkTable(const T* table, uintptr_t count, const char* what, const std::string& where,
                std::vector<std::string>& problems) {
  if ((table == nullptr) != (count == 0))
    problems.push_back(where + ": " + what + " table is " + (table ? "set" : "null") + " but its count is " +
                       std::to_string(count));
}

void describeProperties(ClassInfo& info, const REALproperty* table, uintptr_t count,
                        std::vector<std::string>& problems) {
  for (uintptr_t i = 0; i < count && table; ++i) {
    const REALproperty& entry = table[i];
    std::string where = info.name + " property " + quoted(entry.name);
    if (!entry.name || !isIdentifier(entry.name)) {
      problems.push_back(where + ": the name is not an identifier");
      continue;
    }
    auto member = std::make_unique<Member>();
    member->kind = MemberKind::Property;
    member->owner = &info;
    member->declaration.name = entry.name;
    member->text = std::string(entry.name) + " as " + (entry.type ? entry.type : "(null)");
    member->flags = entry.flags;
    member->function = entry.getter;
    member->setter = entry.setter;
    member->paramWord = entry.param;
    try {
      member->declaration.resultType = parseTypeName(entry.type ? entry.type : "");
    } catch (const DeclarationError& error) {
      problems.push_back(where + ": bad type: " + error.what());
    }
    if (entry.flags != REALmemberFlags)
      problems.push_back(where + ": flags " + std::to_string(entry.flags) + ", expected 4");
    if (!entry.getter) problems.push_back(where + ": no getter");
    for (const auto& existing : info.properties)
      if (sameName(existing->declaration.name, entry.name)) problems.push_back(where + ": declared twice");
    info.properties.push_back(std::move(member));
  }
}

void describeEvents(ClassInfo& info, const REALevent* table, uintptr_t count, std::vector<std::string>& problems) {
  for (uintptr_t i = 0; i < count && table; ++i) {
    std::string where = info.name + " event " + quoted(table[i].declaration);
    if (!table[i].declaration) {
      problems.push_back(where + ": no declaration");
      continue;
    }
    auto member = std::make_unique<Member>();
    member->kind = MemberKind::Event;
    member->owner = &info;
    member->text = table[i].declaration;
    try {
      member->declaration = parseDeclaration(table[i].declaration);
      if (member->assignsDeclared()) problems.push_back(where + ": an event cannot assign");
    } catch (const DeclarationError& error) {
      problems.push_back(where + ": " + error.what());
    }
    for (const auto& existing : info.events)
      if (sameName(existing->declaration.name, member->declaration.name))
        problems.push_back(where + ": declared twice");
    info.events.push_back(std::move(member));
  }
}

void describeEnumerations(ClassInfo& info, const REALenum* table, uintptr_t count, std::vector<std::string>& problems) {
  for (uintptr_t i = 0; i < count && table; ++i) {
    const REALenum& entry = table[i];
    std::string where = info.name + " enumeration " + quoted(entry.name);
    if (!entry.name || !isIdentifier(entry.name)) {
      problems.push_back(where + ": the name is not an identifier");
      continue;
    }
    Enumeration enumeration;
    enumeration.name = entry.name;
    try {
      enumeration.baseType = parseTypeName(entry.type ? entry.type : "");
    } catch (const DeclarationError& error) {
      problems.push_back(where + ": bad type: " + error.what());
    }
    if (entry.flags != kEnumerationFlags)
      problems.push_back(where + ": flags " + std::to_string(entry.flags) + ", expected 32");
    checkTable(entry.members, entry.memberCount, "member", where, problems);
    int64_t next = 0;
    for (uintptr_t m = 0; m < entry.memberCount && entry.members; ++m) {
      try {
        if (!entry.members[m]) throw DeclarationError("member text is null");
        auto [name, value] = parseEnumMember(entry.members[m]);
        next = value.value_or(next);
        for (const auto& existing : enumeration.members)
          if (sameName(existing.first, name)) problems.push_back(where + ": member " + name + " declared twice");
        enumeration.members.emplace_back(name, next++);
      } catch (const DeclarationError& error) {
        problems.push_back(where + ": " + error.what());
      }
    }
    for (const Enumeration& existing : info.enums)
      if (sameName(existing.name, enumeration.name)) problems.push_back(where + ": declared twice");
    info.enums.push_back(std::move(enumeration));
  }
}

void checkInterfaces(ClassInfo& info, const char* text, const ClassRegistry& registry,
                     std::vector<std::string>& problems) {
  std::string list = text ? text : "";
  if (list.find_first_not_of(" \t") == std::string::npos) return;
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t first = name.find_first_not_of(" \t"), last = name.find_last_not_of(" \t");
    name = first == std::string::npos ? "" : name.substr(first, last - first + 1);
    const ClassInfo* found = registry.find(name);
    if (name.empty())
      problems.push_back(info.name + ": empty name in the interface list " + quoted(text));
    else if (!found || found->kind != ClassKind::Interface)
      problems.push_back(info.name + ": interface " + name + " is not registered");
    else
      info.interfaces.push_back(found);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

}  // namespace

void describeMethods(ClassInfo& info, const REALmethodDefinition* table, uintptr_t count, MemberKind kind,
                     std::vector<std::string>& problems) {
  auto& members = kind == MemberKind::Method ? info.methods : info.sharedMethods;
  const char* what = kind == MemberKind::Method ? " method " : " shared method ";
  for (uintptr_t i = 0; i < count && table; ++i) {
    const REALmethodDefinition& entry = table[i];
    std::string where = info.name + what + quoted(entry.declaration);
    if (!entry.declaration) {
      problems.push_back(where + ": no declaration");
      continue;
    }
    auto member = std::make_unique<Member>();
    member->kind = kind;
    member->owner = &info;
    member->text = entry.declaration;
    member->flags = entry.flags;
    member->function = entry.function;
    member->setter = entry.setterFunction;
    try {
      member->declaration = parseDeclaration(entry.declaration);
    } catch (const DeclarationError& error) {
      problems.push_back(where + ": " + error.what());
      continue;
    }
    const Declaration& declaration = member->declaration;
    bool constructor = sameName(declaration.name, "Constructor");
    bool parameterlessConstructor = constructor && declaration.params.empty();
    if (entry.flags != REALmemberFlags && !(entry.flags == REALdefaultConstructorFlags && parameterlessConstructor))
      problems.push_back(where + ": flags " + std::to_string(entry.flags) +
                         (parameterlessConstructor ? ", expected 4 or 132" : ", expected 4"));
    if (!entry.function) problems.push_back(where + ": no function");
    if (entry.setterFunction && declaration.resultType.empty())
      problems.push_back(where + ": a setter needs a getter with a result");
    if (entry.setterFunction && member->assignsDeclared())
      problems.push_back(where + ": an Assigns declaration takes no separate setter");
    if (constructor && (!declaration.resultType.empty() || entry.setterFunction || kind != MemberKind::Method))
      problems.push_back(where + ": a constructor is an instance method without a result");
    std::string key = signatureKey(declaration);
    for (const auto& existing : members)
      if (signatureKey(existing->declaration) == key) problems.push_back(where + ": declared twice");
    members.push_back(std::move(member));
  }
}

void describeConstants(ClassInfo& info, const REALconstant* table, uintptr_t count,
                       std::vector<std::string>& problems) {
  for (uintptr_t i = 0; i < count && table; ++i) {
    const REALconstant& entry = table[i];
    std::string where = info.name + " constant " + quoted(entry.declaration);
    if (entry.flags != 0) problems.push_back(where + ": flags " + std::to_string(entry.flags) + ", expected 0");
    try {
      if (!entry.declaration) throw DeclarationError("no declaration");
      auto [name, value] = parseConstant(entry.declaration);
      if (entry.type) parseTypeName(entry.type);
      for (const Constant& existing : info.constants)
        if (sameName(existing.name, name)) problems.push_back(where + ": declared twice");
      info.constants.push_back({name, value});
    } catch (const DeclarationError& error) {
      problems.push_back(where + ": " + error.what());
    }
  }
}

std::unique_ptr<ClassInfo> describeClassRecord(REALclassDefinition& record, ClassKind kind,
                                               const ClassRegistry& registry, std::vector<std::string>& problems) {
  auto info = std::make_unique<ClassInfo>();
  info->kind = kind;
  info->record = &record;
  info->name = record.name ? record.name : "";
  std::string where = "class " + quoted(record.name);
  if (record.version != kPluginInterfaceVersion)
    problems.push_back(where + ": format version " + std::to_string(record.version) + ", expected 13");
  if (!record.name || !isIdentifier(record.name))
    problems.push_back(where + ": the name is not an identifier");
  else if (registry.find(record.name))
    problems.push_back(where + ": a class, interface or module of this name exists already");
  if (record.mFlags & ~kAllowedClassFlags)
    problems.push_back(where + ": flags " + std::to_string(record.mFlags) + " use bits other than 4, 8 and 0x100");
  if (record.dataSize > kLargestDataBlock)
    problems.push_back(where + ": data size " + std::to_string(record.dataSize) + " is implausible");
  if (record.superName) {
    const ClassInfo* super = registry.find(record.superName);
    if (!super || !super->isClass())
      problems.push_back(where + ": superclass " + quoted(record.superName) + " is not registered");
    info->super = super;
  } else if (!(kind == ClassKind::Builtin && info->name == "Object")) {
    info->super = registry.find("Object");
  }
  checkTable(record.properties, record.propertyCount, "property", where, problems);
  checkTable(record.methods, record.methodCount, "method", where, problems);
  checkTable(record.events, record.eventCount, "event", where, problems);
  checkTable(record.eventInstances, record.eventInstanceCount, "event instance", where, problems);
  checkTable(record.attributes, record.attributeCount, "attribute", where, problems);
  checkTable(record.constants, record.constantCount, "constant", where, problems);
  checkTable(record.sharedProperties, record.sharedPropertyCount, "shared property", where, problems);
  checkTable(record.sharedMethods, record.sharedMethodCount, "shared method", where, problems);
  checkTable(record.delegates, record.delegateCount, "delegate", where, problems);
  checkTable(record.enums, record.enumCount, "enumeration", where, problems);
  const std::pair<uintptr_t, const char*> unsupported[] = {{record.eventInstanceCount, "event instances"},
                                                           {record.attributeCount, "attributes"},
                                                           {record.sharedPropertyCount, "shared properties"},
                                                           {record.delegateCount, "delegates"}};
  for (const auto& [count, what] : unsupported)
    if (count) problems.push_back(where + ": " + what + " are not supported by this host");
  checkInterfaces(*info, record.interfaces, registry, problems);
  info->blockSize = record.dataSize;
  info->initializer = record.constructor;
  info->destructor = record.destructor;
  describeProperties(*info, record.properties, record.propertyCount, problems);
  describeMethods(*info, record.methods, record.methodCount, MemberKind::Method, problems);
  describeMethods(*info, record.sharedMethods, record.sharedMethodCount, MemberKind::SharedMethod, problems);
  describeEvents(*info, record.events, record.eventCount, problems);
  describeConstants(*info, record.constants, record.constantCount, problems);
  describeEnumerations(*info, record.enums, record.enumCount, problems);
  return info;
}

}  // namespace xhost::detail
