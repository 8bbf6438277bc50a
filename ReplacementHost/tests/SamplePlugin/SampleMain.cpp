// A small plugin for the host's own tests: it starts as a Xojo plugin does
// and reaches the host only through the resolver.
#include "SampleGlue.h"

#define SAMPLE_EXPORT extern "C" __attribute__((visibility("default")))

namespace sample {

REALResolver gResolver = nullptr;
namespace {
std::string gTrace;
}

void trace(const std::string& step) { gTrace += (gTrace.empty() ? "" : " ") + step; }

std::string bytesOf(REALstringStruct* s) {
  if (!s) return "";
  using CString = const char* (*)(REALstringStruct*);
  using LenB = int64_t (*)(REALstringStruct*);
  auto loadGlobal = hostEntry<REALproc (*)(const char*, const char*)>("REALLoadGlobalMethod");
  auto lenB = reinterpret_cast<LenB>(loadGlobal(nullptr, "LenB( s as string ) as integer"));
  return std::string(hostEntry<CString>("StringGetCString")(s), static_cast<size_t>(lenB(s)));
}

}  // namespace sample

// Test hooks: what the initializers and destructors did, in order.
SAMPLE_EXPORT const char* SampleTrace() { return sample::gTrace.c_str(); }
SAMPLE_EXPORT void SampleClearTrace() { sample::gTrace.clear(); }

SAMPLE_EXPORT void REALPluginMain(REALResolver resolver) {
  sample::gResolver = resolver;
  auto announce = reinterpret_cast<void (*)(int)>(resolver("RegisterPluginVersion"));
  if (!announce) return;
  announce(13);
  sample::registerCoreClasses();
  sample::registerCallClasses();
  sample::registerHostUseClasses();
}
