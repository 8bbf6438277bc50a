#include "Builtins.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Core.h"

namespace xhost::detail {
namespace {

struct ExceptionBlock {
  REALstringStruct* message;  // one reference held; null is the empty string
  int64_t errorNumber;
};
struct MemoryBlockBlock {
  unsigned char* bytes;  // owned (calloc) unless `borrowed`; never null once initialized
  int64_t size;          // -1 when unknown: a block made from a Ptr
  bool borrowed;         // made from a Ptr: the memory is someone else's and is never freed here
};
struct FolderItemBlock {
  std::string* nativePath;  // owned; absolute and normalized
};
struct ArrayBlock {
  std::vector<REALobjectStruct*>* elements;  // owned; each element holds one reference, Nil allowed
};

REALclassDefinition gObjectClass{}, gExceptionClass{}, gMemoryBlockClass{}, gFolderItemClass{}, gArrayClass{};

// The block of `record` inside a live instance of that class, else null after recording why.
template <typename Block>
Block* blockOf(const void* handle, REALclassDefinition& record, const char* context) {
  ObjectRecord* object = core().objects.live(handle, context);
  if (!object) return nullptr;
  const ClassInfo* cls = core().classes.findByRecord(&record);
  if (!cls || !object->cls->isA(*cls)) {
    reportProblem(std::string(context) + ": " + object->cls->name + " is not a " + record.name);
    return nullptr;
  }
  return reinterpret_cast<Block*>(object->memory + record.forSystemUse);
}

template <typename T>
REALproc proc(T function) {
  return reinterpret_cast<REALproc>(function);
}

// --- RuntimeException

void exceptionDestructor(REALobjectStruct* self) noexcept {
  shieldedVoid("RuntimeException destructor", [&] {
    if (auto* block = blockOf<ExceptionBlock>(self, gExceptionClass, "RuntimeException destructor"))
      core().strings.unlock(block->message, "RuntimeException destructor");
  });
}

void exceptionConstructor(REALobjectStruct* self, REALstringStruct* message, int64_t errorNumber) noexcept {
  shieldedVoid("RuntimeException.Constructor", [&] {
    auto* block = blockOf<ExceptionBlock>(self, gExceptionClass, "RuntimeException.Constructor");
    if (!block) return;
    core().strings.lock(message, "RuntimeException.Constructor");
    core().strings.unlock(block->message, "RuntimeException.Constructor");
    block->message = message;
    block->errorNumber = errorNumber;
  });
}

void exceptionDefaultConstructor(REALobjectStruct*) noexcept {}

REALstringStruct* exceptionMessage(REALobjectStruct* self, intptr_t) noexcept {
  return shielded("RuntimeException.Message", static_cast<REALstringStruct*>(nullptr), [&]() -> REALstringStruct* {
    auto* block = blockOf<ExceptionBlock>(self, gExceptionClass, "RuntimeException.Message");
    if (!block) return nullptr;
    core().strings.lock(block->message, "RuntimeException.Message");
    return block->message;
  });
}

int64_t exceptionErrorNumber(REALobjectStruct* self, intptr_t) noexcept {
  auto* block = shielded("RuntimeException.ErrorNumber", static_cast<ExceptionBlock*>(nullptr), [&] {
    return blockOf<ExceptionBlock>(self, gExceptionClass, "RuntimeException.ErrorNumber");
  });
  return block ? block->errorNumber : 0;
}

// --- MemoryBlock

void memoryBlockInitializer(REALobjectStruct* self) noexcept {
  shieldedVoid("MemoryBlock initializer", [&] {
    if (auto* block = blockOf<MemoryBlockBlock>(self, gMemoryBlockClass, "MemoryBlock initializer"))
      block->bytes = static_cast<unsigned char*>(std::calloc(1, 1));
  });
}

void memoryBlockDestructor(REALobjectStruct* self) noexcept {
  shieldedVoid("MemoryBlock destructor", [&] {
    if (auto* block = blockOf<MemoryBlockBlock>(self, gMemoryBlockClass, "MemoryBlock destructor")) {
      if (!block->borrowed) std::free(block->bytes);
      block->bytes = nullptr;
    }
  });
}

void memoryBlockConstructor(REALobjectStruct* self, int64_t size) noexcept {
  shieldedVoid("MemoryBlock.Constructor", [&] {
    auto* block = blockOf<MemoryBlockBlock>(self, gMemoryBlockClass, "MemoryBlock.Constructor");
    if (!block) return;
    if (size < 0) {
      reportProblem("MemoryBlock.Constructor: negative size " + std::to_string(size));
      return;
    }
    auto* bytes = static_cast<unsigned char*>(std::calloc(1, static_cast<size_t>(size) + 1));
    if (!bytes) {
      reportProblem("MemoryBlock.Constructor: cannot allocate " + std::to_string(size) + " bytes");
      return;
    }
    if (!block->borrowed) std::free(block->bytes);
    block->bytes = bytes;
    block->size = size;
    block->borrowed = false;
  });
}

void* memoryBlockAddress(REALobjectStruct* self) noexcept {
  auto* block = shielded("MemoryBlock.Operator_Convert", static_cast<MemoryBlockBlock*>(nullptr), [&] {
    return blockOf<MemoryBlockBlock>(self, gMemoryBlockClass, "MemoryBlock.Operator_Convert");
  });
  return block ? block->bytes : nullptr;
}

int64_t memoryBlockSize(REALobjectStruct* self, intptr_t) noexcept {
  auto* block = shielded("MemoryBlock.Size", static_cast<MemoryBlockBlock*>(nullptr),
                         [&] { return blockOf<MemoryBlockBlock>(self, gMemoryBlockClass, "MemoryBlock.Size"); });
  return block ? block->size : 0;
}

// --- FolderItem

std::string normalizedPath(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    char* cwd = getcwd(nullptr, 0);
    absolute = std::string(cwd ? cwd : "") + "/" + absolute;
    std::free(cwd);
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t slash = absolute.find('/', start);
    if (slash == std::string::npos) slash = absolute.size();
    std::string part = absolute.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  return result.empty() ? "/" : result;
}

void folderItemInitializer(REALobjectStruct* self) noexcept {
  shieldedVoid("FolderItem initializer", [&] {
    if (auto* block = blockOf<FolderItemBlock>(self, gFolderItemClass, "FolderItem initializer"))
      block->nativePath = new std::string("/");
  });
}

void folderItemDestructor(REALobjectStruct* self) noexcept {
  shieldedVoid("FolderItem destructor", [&] {
    if (auto* block = blockOf<FolderItemBlock>(self, gFolderItemClass, "FolderItem destructor")) {
      delete block->nativePath;
      block->nativePath = nullptr;
    }
  });
}

void folderItemConstructor(REALobjectStruct* self, REALstringStruct* path) noexcept {
  shieldedVoid("FolderItem.Constructor", [&] {
    auto* block = blockOf<FolderItemBlock>(self, gFolderItemClass, "FolderItem.Constructor");
    StringRecord* text = path ? core().strings.live(path, "FolderItem.Constructor") : nullptr;
    if (block && (text || !path)) *block->nativePath = normalizedPath(text ? std::string(text->bytes()) : "");
  });
}

const std::string* folderPath(REALobjectStruct* self, const char* context) {
  auto* block = blockOf<FolderItemBlock>(self, gFolderItemClass, context);
  return block ? block->nativePath : nullptr;
}

REALstringStruct* folderNativePath(REALobjectStruct* self, intptr_t) noexcept {
  return shielded("FolderItem.NativePath", static_cast<REALstringStruct*>(nullptr), [&]() -> REALstringStruct* {
    const std::string* path = folderPath(self, "FolderItem.NativePath");
    return path ? core().strings.make(*path, kREALTextEncodingUTF8) : nullptr;
  });
}

REALstringStruct* folderName(REALobjectStruct* self, intptr_t) noexcept {
  return shielded("FolderItem.Name", static_cast<REALstringStruct*>(nullptr), [&]() -> REALstringStruct* {
    const std::string* path = folderPath(self, "FolderItem.Name");
    if (!path) return nullptr;
    return core().strings.make(*path == "/" ? "/" : path->substr(path->rfind('/') + 1), kREALTextEncodingUTF8);
  });
}

REALobjectStruct* folderParent(REALobjectStruct* self, intptr_t) noexcept {
  return shielded("FolderItem.Parent", static_cast<REALobjectStruct*>(nullptr), [&]() -> REALobjectStruct* {
    const std::string* path = folderPath(self, "FolderItem.Parent");
    if (!path || *path == "/") return nullptr;
    size_t slash = path->rfind('/');
    return makeFolderItem(slash == 0 ? "/" : path->substr(0, slash));
  });
}

signed char folderStat(REALobjectStruct* self, const char* context, bool wantDirectory) noexcept {
  return shielded(context, static_cast<signed char>(0), [&]() -> signed char {
    const std::string* path = folderPath(self, context);
    struct stat info;
    if (!path || stat(path->c_str(), &info) != 0) return 0;
    return !wantDirectory || S_ISDIR(info.st_mode);
  });
}

signed char folderExists(REALobjectStruct* self, intptr_t) noexcept {
  return folderStat(self, "FolderItem.Exists", false);
}
signed char folderDirectory(REALobjectStruct* self, intptr_t) noexcept {
  return folderStat(self, "FolderItem.Directory", true);
}

// --- Object arrays

void arrayInitializer(REALobjectStruct* self) noexcept {
  shieldedVoid("array initializer", [&] {
    if (auto* block = blockOf<ArrayBlock>(self, gArrayClass, "array initializer"))
      block->elements = new std::vector<REALobjectStruct*>();
  });
}

void arrayDestructor(REALobjectStruct* self) noexcept {
  shieldedVoid("array destructor", [&] {
    auto* block = blockOf<ArrayBlock>(self, gArrayClass, "array destructor");
    if (!block || !block->elements) return;
    std::vector<REALobjectStruct*> elements = std::move(*block->elements);
    delete block->elements;
    block->elements = nullptr;
    for (REALobjectStruct* element : elements) core().objects.unlock(element, "array release");
  });
}

// --- Records

REALmethodDefinition gExceptionMethods[] = {
    {proc(exceptionConstructor),
     nullptr,
     "Constructor(message as String, errorCode as Integer)",
     REALmemberFlags,
     0,
     {}},
    {proc(exceptionDefaultConstructor), nullptr, "Constructor()", REALdefaultConstructorFlags, 0, {}},
};
REALproperty gExceptionProperties[] = {
    {nullptr, "Message", "String", REALmemberFlags, 0, proc(exceptionMessage), nullptr, 0, {}},
    {nullptr, "ErrorNumber", "Integer", REALmemberFlags, 0, proc(exceptionErrorNumber), nullptr, 0, {}},
};
REALmethodDefinition gMemoryBlockMethods[] = {
    {proc(memoryBlockConstructor), nullptr, "Constructor(bytes as Integer)", REALmemberFlags, 0, {}},
    {proc(memoryBlockAddress), nullptr, "Operator_Convert() As Ptr", REALmemberFlags, 0, {}},
};
REALproperty gMemoryBlockProperties[] = {
    {nullptr, "Size", "Integer", REALmemberFlags, 0, proc(memoryBlockSize), nullptr, 0, {}},
};
REALmethodDefinition gFolderItemMethods[] = {
    {proc(folderItemConstructor), nullptr, "Constructor(path as String)", REALmemberFlags, 0, {}},
};
REALproperty gFolderItemProperties[] = {
    {nullptr, "NativePath", "String", REALmemberFlags, 0, proc(folderNativePath), nullptr, 0, {}},
    {nullptr, "Name", "String", REALmemberFlags, 0, proc(folderName), nullptr, 0, {}},
    {nullptr, "Parent", "FolderItem", REALmemberFlags, 0, proc(folderParent), nullptr, 0, {}},
    {nullptr, "Exists", "Boolean", REALmemberFlags, 0, proc(folderExists), nullptr, 0, {}},
    {nullptr, "Directory", "Boolean", REALmemberFlags, 0, proc(folderDirectory), nullptr, 0, {}},
};

void describe(REALclassDefinition& record, const char* name, const char* superName, uintptr_t dataSize,
              void (*initializer)(REALobjectStruct*), void (*destructor)(REALobjectStruct*)) {
  record.version = kPluginInterfaceVersion;
  record.name = name;
  record.superName = superName;
  record.dataSize = dataSize;
  record.constructor = initializer;
  record.destructor = destructor;
  record.interfaces = "";
  record.mFlags = REALconsoleSafe;
}

template <size_t N>
void withMethods(REALclassDefinition& record, REALmethodDefinition (&methods)[N]) {
  record.methods = methods;
  record.methodCount = N;
}

template <size_t N>
void withProperties(REALclassDefinition& record, REALproperty (&properties)[N]) {
  record.properties = properties;
  record.propertyCount = N;
}

REALobjectStruct* instanceOf(REALclassDefinition& record) {
  return core().objects.create(*core().classes.findByRecord(&record));
}

}  // namespace

void registerBuiltinClasses(ClassRegistry& registry) {
  describe(gObjectClass, "Object", nullptr, 0, nullptr, nullptr);
  describe(gExceptionClass, "RuntimeException", nullptr, sizeof(ExceptionBlock), nullptr, exceptionDestructor);
  withMethods(gExceptionClass, gExceptionMethods);
  withProperties(gExceptionClass, gExceptionProperties);
  describe(gMemoryBlockClass, "MemoryBlock", nullptr, sizeof(MemoryBlockBlock), memoryBlockInitializer,
           memoryBlockDestructor);
  withMethods(gMemoryBlockClass, gMemoryBlockMethods);
  withProperties(gMemoryBlockClass, gMemoryBlockProperties);
  describe(gFolderItemClass, "FolderItem", nullptr, sizeof(FolderItemBlock), folderItemInitializer,
           folderItemDestructor);
  withMethods(gFolderItemClass, gFolderItemMethods);
  withProperties(gFolderItemClass, gFolderItemProperties);
  describe(gArrayClass, kObjectArrayClass, nullptr, sizeof(ArrayBlock), arrayInitializer, arrayDestructor);
  for (REALclassDefinition* record :
       {&gObjectClass, &gExceptionClass, &gMemoryBlockClass, &gFolderItemClass, &gArrayClass}) {
    std::vector<std::string> problems = registry.registerClass(record, ClassKind::Builtin);
    for (const std::string& problem : problems)
      std::fprintf(stderr, "xhost: host class rejected: %s\n", problem.c_str());
    if (!problems.empty()) std::abort();
    ClassInfo* info = registry.findByRecord(record);
    for (const std::string& problem : registry.checkTypes(*info))
      std::fprintf(stderr, "xhost: host class: %s\n", problem.c_str());
  }
}

REALobjectStruct* makeFolderItem(const std::string& nativePath) {
  REALobjectStruct* item = instanceOf(gFolderItemClass);
  *blockOf<FolderItemBlock>(item, gFolderItemClass, "FolderItem")->nativePath = normalizedPath(nativePath);
  return item;
}

REALobjectStruct* makeMemoryBlock(std::string_view bytes) {
  REALobjectStruct* block = instanceOf(gMemoryBlockClass);
  memoryBlockConstructor(block, static_cast<int64_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(memoryBlockAddress(block), bytes.data(), bytes.size());
  return block;
}

// As Xojo converts a Ptr to a MemoryBlock: the block points at the memory
// without owning it, and its size is unknown; Nil for a null pointer.
REALobjectStruct* makeMemoryBlockOver(void* bytes) {
  if (!bytes) return nullptr;
  REALobjectStruct* block = instanceOf(gMemoryBlockClass);
  auto* data = blockOf<MemoryBlockBlock>(block, gMemoryBlockClass, "PtrToMemoryBlock");
  std::free(data->bytes);
  data->bytes = static_cast<unsigned char*>(bytes);
  data->size = -1;
  data->borrowed = true;
  return block;
}

REALobjectStruct* makeObjectArray() { return instanceOf(gArrayClass); }

std::vector<REALobjectStruct*>* arrayElements(const void* handle, const char* context) {
  auto* block = blockOf<ArrayBlock>(handle, gArrayClass, context);
  return block ? block->elements : nullptr;
}

bool memoryBlockContents(const void* handle, const char* context, void** bytes, int64_t* size) {
  auto* block = blockOf<MemoryBlockBlock>(handle, gMemoryBlockClass, context);
  if (!block) return false;
  *bytes = block->bytes;
  *size = block->size;
  return true;
}

bool isMemoryBlock(const void* handle) {
  ObjectRecord* object = core().objects.find(handle);
  const ClassInfo* cls = core().classes.findByRecord(&gMemoryBlockClass);
  return object && object->life != ObjectRecord::Life::Dead && object->cls->isA(*cls);
}

bool exceptionDetails(const void* handle, std::string* message, int64_t* errorNumber) {
  ObjectRecord* object = core().objects.find(handle);
  const ClassInfo* cls = core().classes.findByRecord(&gExceptionClass);
  if (!object || object->life == ObjectRecord::Life::Dead || !object->cls->isA(*cls)) return false;
  auto* block = reinterpret_cast<ExceptionBlock*>(object->memory + gExceptionClass.forSystemUse);
  StringRecord* text = block->message ? core().strings.find(block->message) : nullptr;
  *message = text && text->alive ? std::string(text->bytes()) : "";
  *errorNumber = block->errorNumber;
  return true;
}

}  // namespace xhost::detail
