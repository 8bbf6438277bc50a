// The host's own classes: Object, RuntimeException, MemoryBlock, FolderItem
// and the object arrays. Their state lives in their data blocks like that of
// any plugin class, so plugin classes can inherit from them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "REALplugin.h"

namespace xhost::detail {

constexpr const char* kObjectArrayClass = "ObjectArray";

REALobjectStruct* makeFolderItem(const std::string& nativePath);  // one reference
REALobjectStruct* makeMemoryBlock(std::string_view bytes);        // one reference
REALobjectStruct* makeMemoryBlockOver(void* bytes);               // not owning them, size -1; one reference
REALobjectStruct* makeObjectArray();                              // empty; one reference

// Null (after recording a problem naming `context`) when the handle is not a
// live instance of the class.
std::vector<REALobjectStruct*>* arrayElements(const void* handle, const char* context);
// A size of -1 is unknown (a block made from a Ptr).
bool memoryBlockContents(const void* handle, const char* context, void** bytes, int64_t* size);
bool isMemoryBlock(const void* handle);
// Message and error number of a RuntimeException; false for other objects.
bool exceptionDetails(const void* handle, std::string* message, int64_t* errorNumber);

}  // namespace xhost::detail
