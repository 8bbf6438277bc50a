// Every class, interface and module the host knows, in registration order:
// the host's own classes, what the plugin registered and host-side subclasses.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ClassModel.h"

namespace xhost::detail {

class ClassRegistry {
 public:
  // Each returns the problems found; the record is taken only when there are none.
  std::vector<std::string> registerClass(REALclassDefinition* record, ClassKind kind);
  std::vector<std::string> registerInterface(REALinterfaceDefinition* record);
  std::vector<std::string> registerModule(REALmoduleDefinition* record);
  // Throws HostError on a bad name, an unknown superclass, event or interface.
  void defineSubclass(const std::string& name, const std::string& superName,
                      std::map<std::string, EventHandler> handlers, const std::vector<std::string>& interfaces);

  ClassInfo* find(std::string_view name) const;  // null when unknown
  ClassInfo* findByRecord(const void* record) const;
  ClassInfo* findByClassRef(const void* classRef) const;  // class references are ClassInfo addresses
  Member* findEvent(uintptr_t hostIdentifier) const;
  const ClassInfo& objectClass() const { return *find("Object"); }

  // Resolves a declared type seen from `context` (for its enumerations);
  // throws DeclarationError for an unknown type.
  XType resolveType(std::string_view text, const ClassInfo* context) const;
  // "Class.NAME", "Module.NAME", "Class.Enum.MEMBER"; a bare name is looked
  // up in `context` and the enumeration of `enumType`.
  std::optional<Literal> lookupConstant(std::string_view name, const ClassInfo* context = nullptr,
                                        std::string_view enumType = {}) const;
  // Resolves every type and default of the class's members once; returns what failed.
  std::vector<std::string> checkTypes(ClassInfo& info) const;
  std::vector<ClassInfo*> classesNotTypeChecked();

  const std::vector<Host::Registration>& registrations() const { return registrations_; }

 private:
  ClassInfo& adopt(std::unique_ptr<ClassInfo> info, const void* record);

  std::vector<std::unique_ptr<ClassInfo>> all_;
  std::unordered_map<std::string, ClassInfo*> byName_;  // lowercase names
  std::unordered_map<const void*, ClassInfo*> byRecord_;
  std::unordered_map<const void*, ClassInfo*> byAddress_;
  std::unordered_map<uintptr_t, Member*> events_;
  std::vector<Host::Registration> registrations_;  // the plugin's, in order
  uintptr_t nextEventId_ = 0x7E000001;
};

// Builds the description of a class from its record, collecting every problem.
std::unique_ptr<ClassInfo> describeClassRecord(REALclassDefinition& record, ClassKind kind,
                                               const ClassRegistry& registry, std::vector<std::string>& problems);
void describeMethods(ClassInfo& info, const REALmethodDefinition* table, uintptr_t count, MemberKind kind,
                     std::vector<std::string>& problems);
void describeConstants(ClassInfo& info, const REALconstant* table, uintptr_t count, std::vector<std::string>& problems);

}  // namespace xhost::detail
