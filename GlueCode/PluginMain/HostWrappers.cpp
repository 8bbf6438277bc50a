// The wrappers of HostWrappers.def that follow the family rule, and the
// version-dependent graphics calls.
#include "HostCache.h"
#include "HostGlue.h"
#include "HostVersioned.h"

extern "C" {

#define HOST_WRAPPER(name, entry, result, params, args, missing) \
  result name params noexcept {                                  \
    static HostCache cache{entry};                               \
    auto host = cache.Resolve<result(*) params>();               \
    return host ? host args : missing;                           \
  }
#define HOST_PROCEDURE(name, entry, params, args)               \
  void name params noexcept {                                   \
    static HostCache cache{entry};                              \
    if (auto host = cache.Resolve<void(*) params>()) host args; \
  }
#define HOST_WRAPPER_BOOL(name, entry, params, args)  \
  bool name params noexcept {                         \
    static HostCache cache{entry};                    \
    auto host = cache.Resolve<RBBoolean(*) params>(); \
    return host && host args != 0;                    \
  }
#define HOST_WRAPPER_BYTE(name, entry, params, args)  \
  RBBoolean name params noexcept {                    \
    static HostCache cache{entry};                    \
    auto host = cache.Resolve<RBBoolean(*) params>(); \
    return host ? host args : RBBoolean{0};           \
  }
#define HOST_GRAPHICS(name, entry, threshold, result, params, args) \
  result name params noexcept {                                     \
    static VersionedEntry cache{{entry}, {entry}, threshold};       \
    return CallByVersion<result>(cache, HOST_ARGUMENTS args);       \
  }
#include "HostWrappers.def"

}  // extern "C"
