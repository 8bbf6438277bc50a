#include "ClassRegistry.h"

#include <algorithm>

namespace xhost::detail {
namespace {

size_t alignTo8(size_t n) { return (n + 7) & ~size_t(7); }

const Enumeration* findEnumeration(const ClassInfo* owner, std::string_view name) {
  for (const ClassInfo* c = owner; c; c = c->super)
    for (const Enumeration& e : c->enums)
      if (sameName(e.name, name)) return &e;
  return nullptr;
}

std::vector<std::string> splitQualified(std::string_view name) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = name.find('.', start);
    parts.emplace_back(name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

bool isIntegerKind(TypeKind kind) {
  return kind == TypeKind::Integer || kind == TypeKind::Int32 || kind == TypeKind::Int64 || kind == TypeKind::UInt64;
}

}  // namespace

bool ClassInfo::isA(const ClassInfo& other) const {
  for (const ClassInfo* c = this; c; c = c->super) {
    if (c == &other) return true;
    if (std::find(c->interfaces.begin(), c->interfaces.end(), &other) != c->interfaces.end()) return true;
  }
  return false;
}

ffi_type* ffiTypeOf(TypeKind kind) {
  switch (kind) {
    case TypeKind::Void:
      return &ffi_type_void;
    case TypeKind::Integer:
    case TypeKind::Int64:
      return &ffi_type_sint64;
    case TypeKind::Int32:
      return &ffi_type_sint32;
    case TypeKind::UInt64:
      return &ffi_type_uint64;
    case TypeKind::Double:
      return &ffi_type_double;
    case TypeKind::Boolean:
      return &ffi_type_sint8;
    case TypeKind::String:
    case TypeKind::Object:
    case TypeKind::Ptr:
      return &ffi_type_pointer;
  }
  return &ffi_type_void;
}

ClassInfo& ClassRegistry::adopt(std::unique_ptr<ClassInfo> info, const void* record) {
  ClassInfo& stored = *info;
  byName_[lowercase(stored.name)] = &stored;
  if (record) byRecord_[record] = &stored;
  byAddress_[&stored] = &stored;
  all_.push_back(std::move(info));
  return stored;
}

std::vector<std::string> ClassRegistry::registerClass(REALclassDefinition* record, ClassKind kind) {
  if (!record) return {"PluginRegisterClass: null record"};
  if (byRecord_.count(record))
    return {"class " + std::string(record->name ? record->name : "?") + ": record registered twice"};
  std::vector<std::string> problems;
  std::unique_ptr<ClassInfo> info = describeClassRecord(*record, kind, *this, problems);
  if (!problems.empty()) return problems;
  const ClassInfo* super = info->super;
  info->blockOffset = alignTo8(super ? super->blockOffset + super->blockSize : kInstanceHeaderSize);
  info->instanceSize = alignTo8(info->blockOffset + info->blockSize);
  record->forSystemUse = info->blockOffset;
  for (size_t i = 0; i < info->events.size(); ++i) {
    Member& event = *info->events[i];
    event.eventId = nextEventId_++;
    record->events[i].hostIdentifier = event.eventId;
    events_[event.eventId] = &event;
  }
  ClassInfo& stored = adopt(std::move(info), record);
  if (kind == ClassKind::Plugin) registrations_.push_back({"class", stored.name, record});
  return {};
}

std::vector<std::string> ClassRegistry::registerInterface(REALinterfaceDefinition* record) {
  if (!record) return {"PluginRegisterInterface: null record"};
  std::vector<std::string> problems;
  std::string name = record->name ? record->name : "";
  std::string where = "interface \"" + name + "\"";
  if (record->version != kPluginInterfaceVersion)
    problems.push_back(where + ": format version " + std::to_string(record->version) + ", expected 13");
  if (!isIdentifier(name))
    problems.push_back(where + ": the name is not an identifier");
  else if (find(name))
    problems.push_back(where + ": a class, interface or module of this name exists already");
  for (uintptr_t word : record->reserved)
    if (word) problems.push_back(where + ": interface members are not supported by this host");
  if (!problems.empty()) return problems;
  auto info = std::make_unique<ClassInfo>();
  info->name = name;
  info->kind = ClassKind::Interface;
  info->typesChecked = true;
  adopt(std::move(info), record);
  registrations_.push_back({"interface", name, record});
  return {};
}

std::vector<std::string> ClassRegistry::registerModule(REALmoduleDefinition* record) {
  if (!record) return {"PluginRegisterModule: null record"};
  std::vector<std::string> problems;
  std::string name = record->name ? record->name : "";
  std::string where = "module \"" + name + "\"";
  if (record->version != kPluginInterfaceVersion)
    problems.push_back(where + ": format version " + std::to_string(record->version) + ", expected 13");
  if (!isIdentifier(name))
    problems.push_back(where + ": the name is not an identifier");
  else if (find(name))
    problems.push_back(where + ": a class, interface or module of this name exists already");
  if ((record->methods == nullptr) != (record->methodCount == 0))
    problems.push_back(where + ": method table and count disagree");
  if ((record->constants == nullptr) != (record->constantCount == 0))
    problems.push_back(where + ": constant table and count disagree");
  for (uintptr_t word : record->reserved)
    if (word) problems.push_back(where + ": module fields other than methods and constants are not supported");
  auto info = std::make_unique<ClassInfo>();
  info->name = name;
  info->kind = ClassKind::Module;
  describeMethods(*info, record->methods, record->methodCount, MemberKind::SharedMethod, problems);
  describeConstants(*info, record->constants, record->constantCount, problems);
  if (!problems.empty()) return problems;
  adopt(std::move(info), record);
  registrations_.push_back({"module", name, record});
  return {};
}

void ClassRegistry::defineSubclass(const std::string& name, const std::string& superName,
                                   std::map<std::string, EventHandler> handlers,
                                   const std::vector<std::string>& interfaces) {
  if (!isIdentifier(name)) throw HostError("defineSubclass: \"" + name + "\" is not a class name");
  ClassInfo* super = find(superName);
  if (!super || !super->isClass()) throw HostError("defineSubclass " + name + ": no class named " + superName);
  std::map<std::string, EventHandler> byLowercase;
  for (auto& [event, handler] : handlers) {
    bool declared = lowercase(event) == kDestructorHandler;
    for (const ClassInfo* c = super; c && !declared; c = c->super)
      for (const auto& member : c->events) declared = declared || sameName(member->declaration.name, event);
    if (!declared) throw HostError("defineSubclass " + name + ": " + superName + " has no event " + event);
    if (!handler) throw HostError("defineSubclass " + name + ": empty handler for " + event);
    byLowercase[lowercase(event)] = std::move(handler);
  }
  std::vector<const ClassInfo*> implemented;
  for (const std::string& interfaceName : interfaces) {
    const ClassInfo* found = find(interfaceName);
    if (!found || found->kind != ClassKind::Interface)
      throw HostError("defineSubclass " + name + ": no interface named " + interfaceName);
    implemented.push_back(found);
  }
  if (ClassInfo* existing = find(name)) {
    if (existing->kind != ClassKind::HostSubclass || existing->super != super || existing->interfaces != implemented)
      throw HostError("defineSubclass: a class named " + name + " exists already");
    existing->eventHandlers = std::move(byLowercase);
    return;
  }
  auto info = std::make_unique<ClassInfo>();
  info->name = name;
  info->kind = ClassKind::HostSubclass;
  info->super = super;
  info->blockOffset = alignTo8(super->blockOffset + super->blockSize);
  info->instanceSize = std::max(super->instanceSize, info->blockOffset);
  info->eventHandlers = std::move(byLowercase);
  info->interfaces = std::move(implemented);
  info->typesChecked = true;
  adopt(std::move(info), nullptr);
}

ClassInfo* ClassRegistry::find(std::string_view name) const {
  auto it = byName_.find(lowercase(name));
  return it == byName_.end() ? nullptr : it->second;
}

ClassInfo* ClassRegistry::findByRecord(const void* record) const {
  auto it = byRecord_.find(record);
  return it == byRecord_.end() ? nullptr : it->second;
}

ClassInfo* ClassRegistry::findByClassRef(const void* classRef) const {
  auto it = byAddress_.find(classRef);
  return it == byAddress_.end() ? nullptr : it->second;
}

Member* ClassRegistry::findEvent(uintptr_t hostIdentifier) const {
  auto it = events_.find(hostIdentifier);
  return it == events_.end() ? nullptr : it->second;
}

XType ClassRegistry::resolveType(std::string_view text, const ClassInfo* context) const {
  static const std::pair<const char*, TypeKind> kScalars[] = {
      {"integer", TypeKind::Integer}, {"int32", TypeKind::Int32},   {"int64", TypeKind::Int64},
      {"uint64", TypeKind::UInt64},   {"double", TypeKind::Double}, {"boolean", TypeKind::Boolean},
      {"string", TypeKind::String},   {"ptr", TypeKind::Ptr}};
  std::string lower = lowercase(text);
  for (const auto& [name, kind] : kScalars)
    if (lower == name) return {kind, nullptr, std::string(text)};
  const Enumeration* enumeration = nullptr;
  const ClassInfo* owner = context;
  size_t dot = text.rfind('.');
  if (dot != std::string_view::npos) {
    owner = find(text.substr(0, dot));
    enumeration = findEnumeration(owner, text.substr(dot + 1));
  } else {
    enumeration = findEnumeration(context, text);
  }
  if (enumeration) {
    XType base = resolveType(enumeration->baseType, owner);
    if (!isIntegerKind(base.kind))
      throw DeclarationError("enumeration " + std::string(text) + " has the non-integer type " + enumeration->baseType);
    base.text = std::string(text);
    return base;
  }
  if (dot == std::string_view::npos)
    if (const ClassInfo* c = find(text); c && c->kind != ClassKind::Module)
      return {TypeKind::Object, c, std::string(text)};
  throw DeclarationError("unknown type \"" + std::string(text) + "\"");
}

std::optional<Literal> ClassRegistry::lookupConstant(std::string_view name, const ClassInfo* context,
                                                     std::string_view enumType) const {
  std::vector<std::string> parts = splitQualified(name);
  auto constantIn = [](const ClassInfo* owner, std::string_view constant) -> std::optional<Literal> {
    for (const ClassInfo* c = owner; c; c = c->super)
      for (const Constant& k : c->constants)
        if (sameName(k.name, constant)) return k.value;
    return std::nullopt;
  };
  auto memberOf = [](const Enumeration* e, std::string_view member) -> std::optional<Literal> {
    if (e)
      for (const auto& [memberName, value] : e->members)
        if (sameName(memberName, member)) return Literal{Literal::Kind::Integer, value, 0, false, {}};
    return std::nullopt;
  };
  if (parts.size() == 1) {
    if (auto value = constantIn(context, parts[0])) return value;
    if (enumType.empty()) return std::nullopt;
    size_t dot = enumType.rfind('.');
    const ClassInfo* owner = dot == std::string_view::npos ? context : find(enumType.substr(0, dot));
    return memberOf(findEnumeration(owner, dot == std::string_view::npos ? enumType : enumType.substr(dot + 1)),
                    parts[0]);
  }
  const ClassInfo* owner = find(parts[0]);
  if (!owner) return std::nullopt;
  if (parts.size() == 2) return constantIn(owner, parts[1]);
  if (parts.size() == 3) return memberOf(findEnumeration(owner, parts[1]), parts[2]);
  return std::nullopt;
}

std::vector<std::string> ClassRegistry::checkTypes(ClassInfo& info) const {
  std::vector<std::string> problems;
  info.typesChecked = true;
  auto check = [&](const Member& member) {
    std::string where = info.name + " member \"" + member.text + "\": ";
    try {
      for (const Parameter& p : member.declaration.params) {
        resolveType(p.type, &info);
        if (p.defaultValue && p.defaultValue->kind == Literal::Kind::Name &&
            !lookupConstant(p.defaultValue->text, &info, p.type))
          problems.push_back(where + "unknown default value " + p.defaultValue->text);
      }
      if (!member.declaration.resultType.empty()) resolveType(member.declaration.resultType, &info);
    } catch (const DeclarationError& error) {
      problems.push_back(where + error.what());
    }
  };
  for (const auto* table : {&info.methods, &info.sharedMethods, &info.properties, &info.events})
    for (const auto& member : *table) check(*member);
  for (const Enumeration& e : info.enums) {
    try {
      XType base = resolveType(e.baseType, &info);
      if (!isIntegerKind(base.kind))
        problems.push_back(info.name + " enumeration " + e.name + ": type is not an integer");
    } catch (const DeclarationError& error) {
      problems.push_back(info.name + " enumeration " + e.name + ": " + error.what());
    }
  }
  return problems;
}

std::vector<ClassInfo*> ClassRegistry::classesNotTypeChecked() {
  std::vector<ClassInfo*> pending;
  for (const auto& info : all_)
    if (!info->typesChecked) pending.push_back(info.get());
  return pending;
}

}  // namespace xhost::detail
