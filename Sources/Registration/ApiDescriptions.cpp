// The descriptions by entry, filled as the records are built and read only by the reference generator.

#include "Registration/ApiDescriptions.h"

#include <exception>
#include <unordered_map>

namespace records {
namespace {

// Filled while the records are built at load time; read only by the reference
// generator. Freed with the plugin image, so that unloading it leaks nothing.
std::unordered_map<const void*, const char*>& Descriptions() {
  static std::unordered_map<const void*, const char*> descriptions;
  return descriptions;
}

}  // namespace

void Describe(const void* entry, const char* description) noexcept {
  if (!entry || !description) return;
  try {
    Descriptions()[entry] = description;
  } catch (const std::exception&) {
  }
}

const char* DescriptionOf(const void* entry) noexcept {
  auto found = Descriptions().find(entry);
  return found == Descriptions().end() ? nullptr : found->second;
}

}  // namespace records
