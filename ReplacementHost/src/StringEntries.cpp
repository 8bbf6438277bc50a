// String services, and the global methods the plugin loads by declaration.
#include "Encoding.h"
#include "HostEntries.h"

namespace xhost::detail {
namespace {

// The record of a string argument; a null handle is the empty string.
const StringRecord& textOf(REALstringStruct* string, const char* entry) {
  static const StringRecord kEmpty = [] {
    static char nothing[1] = "";
    StringRecord empty;
    empty.data = nothing;
    return empty;
  }();
  if (!string) return kEmpty;
  const StringRecord* record = core().strings.live(string, entry);
  return record ? *record : kEmpty;
}

void lockString(REALstringStruct* string) noexcept {
  shieldedVoid("REALLockString", [&] { core().strings.lock(string, "REALLockString"); });
}

void unlockString(REALstringStruct* string) noexcept {
  shieldedVoid("REALUnlockString", [&] { core().strings.unlock(string, "REALUnlockString"); });
}

REALstringStruct* buildString(const char* bytes, int length, uint32_t encoding) noexcept {
  return shielded("REALBuildStringWithEncoding", static_cast<REALstringStruct*>(nullptr), [&]() -> REALstringStruct* {
    if (length < 0 || (!bytes && length > 0)) {
      reportProblem("REALBuildStringWithEncoding: " + std::string(bytes ? "" : "null bytes with ") + "length " +
                    std::to_string(length));
      return nullptr;
    }
    if (!isSupportedEncoding(encoding))
      reportProblem("REALBuildStringWithEncoding: " + encodingName(encoding) + " is not supported by this host");
    return core().strings.make(std::string_view(bytes ? bytes : "", static_cast<size_t>(length)), encoding);
  });
}

const char* cString(REALstringStruct* string) noexcept {
  return shielded("StringGetCString", "", [&] { return textOf(string, "StringGetCString").data; });
}

int64_t lengthInBytes(REALstringStruct* string) noexcept {
  return shielded("LenB", int64_t{0}, [&] { return static_cast<int64_t>(textOf(string, "LenB").size); });
}

RBBoolean stringData(REALstringStruct* string, uint32_t encoding, StringDataRecord* record) noexcept {
  return shielded("PluginGetStringData", RBBoolean{0}, [&]() -> RBBoolean {
    return core().strings.lend(string, encoding, record, core().refuseConversions);
  });
}

void disposeStringData(StringDataRecord* record) noexcept {
  shieldedVoid("PluginDisposeStringData", [&] { core().strings.takeBack(record); });
}

int compareStrings(REALstringStruct* a, REALstringStruct* b) noexcept {
  return shielded("RuntimeStringCompare", 0, [&] {
    const StringRecord& left = textOf(a, "RuntimeStringCompare");
    const StringRecord& right = textOf(b, "RuntimeStringCompare");
    return compareTexts(left.bytes(), left.encoding, right.bytes(), right.encoding);
  });
}

REALproc loadGlobalMethod(const char* module, const char* declaration) noexcept {
  return shielded("REALLoadGlobalMethod", static_cast<REALproc>(nullptr), [&]() -> REALproc {
    if (module)
      reportProblem(std::string("REALLoadGlobalMethod: module \"") + module + "\" passed; the plugin passes none");
    if (!declaration) {
      reportProblem("REALLoadGlobalMethod: null declaration");
      return nullptr;
    }
    try {
      Declaration wanted = parseDeclaration(declaration);
      if (signatureKey(wanted) == "lenb(string)" && canonicalTypeName(wanted.resultType) == "integer")
        return reinterpret_cast<REALproc>(lengthInBytes);
    } catch (const DeclarationError& error) {
      reportProblem(std::string("REALLoadGlobalMethod: ") + error.what());
      return nullptr;
    }
    reportProblem(std::string("REALLoadGlobalMethod: no global method ") + declaration);
    return nullptr;
  });
}

}  // namespace

void addStringEntries(EntryTable& table) {
  serve(table, "REALLockString", lockString);
  serve(table, "REALUnlockString", unlockString);
  serve(table, "REALBuildStringWithEncoding", buildString);
  serve(table, "StringGetCString", cString);
  serve(table, "PluginGetStringData", stringData);
  serve(table, "PluginDisposeStringData", disposeStringData);
  serve(table, "RuntimeStringCompare", compareStrings);
  serve(table, "REALLoadGlobalMethod", loadGlobalMethod);
}

}  // namespace xhost::detail
