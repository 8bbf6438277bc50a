// Linked with the plugin's own objects into the plugin that the reference
// generator loads: the records are the plugin's, and this hook reads the
// description kept beside each of their entries.
#include "Registration/ApiDescriptions.h"

extern "C" __attribute__((visibility("default"))) const char* PluginDocs_Description(const void* entry) {
  return records::DescriptionOf(entry);
}
