// RegisterPluginVersion and the three registration services.
#include "HostEntries.h"

namespace xhost::detail {
namespace {

void requireAnnouncedVersion(const char* entry) {
  if (core().announcedVersion != static_cast<int>(kPluginInterfaceVersion))
    reportProblem(std::string(entry) + ": called before the plugin announced interface version 13");
}

void finishRegistration(const char* entry, const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) reportProblem(std::string(entry) + ": record rejected: " + problem);
  if (problems.empty() && core().loadingDepth == 0) checkPendingTypes();
}

void registerPluginVersion(int version) noexcept {
  shieldedVoid("RegisterPluginVersion", [&] {
    core().announcedVersion = version;
    if (version != static_cast<int>(kPluginInterfaceVersion))
      reportProblem("RegisterPluginVersion: the plugin announced version " + std::to_string(version) +
                    "; this host serves 13");
  });
}

void registerClass(REALclassDefinition* record) noexcept {
  shieldedVoid("PluginRegisterClass", [&] {
    requireAnnouncedVersion("PluginRegisterClass");
    finishRegistration("PluginRegisterClass", core().classes.registerClass(record, ClassKind::Plugin));
  });
}

void registerInterface(REALinterfaceDefinition* record) noexcept {
  shieldedVoid("PluginRegisterInterface", [&] {
    requireAnnouncedVersion("PluginRegisterInterface");
    finishRegistration("PluginRegisterInterface", core().classes.registerInterface(record));
  });
}

void registerModule(REALmoduleDefinition* record) noexcept {
  shieldedVoid("PluginRegisterModule", [&] {
    requireAnnouncedVersion("PluginRegisterModule");
    finishRegistration("PluginRegisterModule", core().classes.registerModule(record));
  });
}

}  // namespace

void checkPendingTypes() {
  for (ClassInfo* info : core().classes.classesNotTypeChecked())
    for (const std::string& problem : core().classes.checkTypes(*info)) reportProblem("declared type: " + problem);
}

void addRegistrationEntries(EntryTable& table) {
  serve(table, "RegisterPluginVersion", registerPluginVersion);
  serve(table, "PluginRegisterClass", registerClass);
  serve(table, "PluginRegisterInterface", registerInterface);
  serve(table, "PluginRegisterModule", registerModule);
}

}  // namespace xhost::detail
