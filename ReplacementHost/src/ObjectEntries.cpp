// Object services: creation, class references, methods by declaration,
// references, events, exceptions and MemoryBlocks.
#include "Builtins.h"
#include "Events.h"
#include "HostEntries.h"
#include "Invoker.h"

namespace xhost::detail {
namespace {

REALobjectStruct* newInstanceOfClass(REALclassDefinition* record) noexcept {
  return shielded("PluginNewInstanceOfClass", static_cast<REALobjectStruct*>(nullptr), [&]() -> REALobjectStruct* {
    ClassInfo* cls = core().classes.findByRecord(record);
    if (!cls || cls->kind != ClassKind::Plugin) {
      reportProblem("PluginNewInstanceOfClass: the record is not that of a registered plugin class");
      return nullptr;
    }
    return core().objects.create(*cls);
  });
}

REALclassRefStruct* classReference(const char* name) noexcept {
  return shielded("pluginObjectType", static_cast<REALclassRefStruct*>(nullptr), [&]() -> REALclassRefStruct* {
    ClassInfo* cls = name ? core().classes.find(name) : nullptr;
    if (!cls || !cls->isClass()) {
      reportProblem(std::string("pluginObjectType: no class named ") + (name ? name : "(null)"));
      return nullptr;
    }
    return reinterpret_cast<REALclassRefStruct*>(cls);
  });
}

REALobjectStruct* createInstance(REALclassRefStruct* classRef) noexcept {
  return shielded("CreateInstance", static_cast<REALobjectStruct*>(nullptr), [&]() -> REALobjectStruct* {
    ClassInfo* cls = core().classes.findByClassRef(classRef);
    if (!cls || !cls->isClass()) {
      reportProblem("CreateInstance: not a class reference");
      return nullptr;
    }
    return core().objects.create(*cls);
  });
}

REALproc loadObjectMethod(REALobjectStruct* object, const char* declaration) noexcept {
  return shielded("REALLoadObjectMethod", static_cast<REALproc>(nullptr), [&]() -> REALproc {
    ObjectRecord* record = core().objects.live(object, "REALLoadObjectMethod");
    if (!record) return nullptr;
    if (!declaration) {
      reportProblem("REALLoadObjectMethod: null declaration");
      return nullptr;
    }
    Declaration wanted;
    try {
      wanted = parseDeclaration(declaration);
    } catch (const DeclarationError& error) {
      reportProblem(std::string("REALLoadObjectMethod: ") + error.what());
      return nullptr;
    }
    std::string key = signatureKey(wanted);
    for (const ClassInfo* c = record->cls; c; c = c->super)
      for (const auto& member : c->methods)
        if (signatureKey(member->declaration) == key &&
            canonicalTypeName(member->declaration.resultType) == canonicalTypeName(wanted.resultType))
          return member->function;
    reportProblem("REALLoadObjectMethod: " + record->cls->name + " has no method " + declaration);
    return nullptr;
  });
}

void lockObject(REALobjectStruct* object) noexcept {
  shieldedVoid("REALLockObject", [&] { core().objects.lock(object, "REALLockObject"); });
}

void unlockObject(REALobjectStruct* object) noexcept {
  shieldedVoid("REALUnlockObject", [&] { core().objects.unlock(object, "REALUnlockObject"); });
}

REALproc eventInstance(REALobjectStruct* object, uintptr_t hostIdentifier) noexcept {
  return shielded("GetEventInstance", static_cast<REALproc>(nullptr), [&]() -> REALproc {
    ObjectRecord* record = core().objects.live(object, "GetEventInstance");
    if (!record) return nullptr;
    Member* event = core().classes.findEvent(hostIdentifier);
    if (!event) {
      reportProblem("GetEventInstance: " + std::to_string(hostIdentifier) + " is not an event identifier of this host");
      return nullptr;
    }
    if (!record->cls->isA(*event->owner)) {
      reportProblem("GetEventInstance: " + record->cls->name + " has no event " + event->owner->name + "." +
                    event->declaration.name);
      return nullptr;
    }
    std::string name = lowercase(event->declaration.name);
    for (const ClassInfo* c = record->cls; c; c = c->super)
      if (c->kind == ClassKind::HostSubclass && c->eventHandlers.count(name)) return eventFunction(*c, *event);
    return nullptr;
  });
}

void raiseException(REALobjectStruct* exception) noexcept {
  shieldedVoid("RuntimeRaiseException", [&] {
    ObjectRecord* record = core().objects.live(exception, "RuntimeRaiseException");
    if (!record) return;
    if (!record->cls->isA(*core().classes.find("RuntimeException"))) {
      reportProblem("RuntimeRaiseException: " + record->cls->name + " is not a RuntimeException");
      return;
    }
    std::string message;
    int64_t errorNumber = 0;
    exceptionDetails(exception, &message, &errorNumber);
    std::vector<CallFrame>& frames = core().frames;
    if (frames.empty()) {
      reportProblem("RuntimeRaiseException: " + record->cls->name + " (\"" + message +
                    "\") raised while no host call was active");
      return;
    }
    if (frames.back().exception) {
      reportProblem("RuntimeRaiseException: " + record->cls->name +
                    " raised before the pending exception was delivered");
      core().objects.unlock(frames.back().exception, "RuntimeRaiseException");
    }
    core().objects.lock(exception, "RuntimeRaiseException");
    frames.back().exception = exception;
  });
}

int64_t memoryBlockGetSize(REALobjectStruct* block) noexcept {
  return shielded("memoryBlockGetSize", int64_t{0}, [&] {
    void* bytes = nullptr;
    int64_t size = 0;
    return memoryBlockContents(block, "memoryBlockGetSize", &bytes, &size) ? size : 0;
  });
}

// The size is an int32 in the plugin interface.
REALobjectStruct* newMemoryBlock(int32_t size) noexcept {
  return shielded("newMemoryBlock", static_cast<REALobjectStruct*>(nullptr), [&]() -> REALobjectStruct* {
    if (size < 0) {
      reportProblem("newMemoryBlock: negative size " + std::to_string(size));
      return nullptr;
    }
    return makeMemoryBlock(std::string(static_cast<size_t>(size), '\0'));
  });
}

void* memoryBlockGetPtr(REALobjectStruct* block) noexcept {
  return shielded("memoryBlockGetPtr", static_cast<void*>(nullptr), [&]() -> void* {
    void* bytes = nullptr;
    int64_t size = 0;
    return memoryBlockContents(block, "memoryBlockGetPtr", &bytes, &size) ? bytes : nullptr;
  });
}

REALobjectStruct* ptrToMemoryBlock(void* bytes) noexcept {
  return shielded("PtrToMemoryBlock", static_cast<REALobjectStruct*>(nullptr),
                  [&]() -> REALobjectStruct* { return makeMemoryBlockOver(bytes); });
}

}  // namespace

void addObjectEntries(EntryTable& table) {
  serve(table, "PluginNewInstanceOfClass", newInstanceOfClass);
  serve(table, "pluginObjectType", classReference);
  serve(table, "CreateInstance", createInstance);
  serve(table, "REALLoadObjectMethod", loadObjectMethod);
  serve(table, "REALLockObject", lockObject);
  serve(table, "REALUnlockObject", unlockObject);
  serve(table, "GetEventInstance", eventInstance);
  serve(table, "RuntimeRaiseException", raiseException);
  serve(table, "memoryBlockGetSize", memoryBlockGetSize);
  serve(table, "newMemoryBlock", newMemoryBlock);
  serve(table, "memoryBlockGetPtr", memoryBlockGetPtr);
  serve(table, "PtrToMemoryBlock", ptrToMemoryBlock);
}

}  // namespace xhost::detail
