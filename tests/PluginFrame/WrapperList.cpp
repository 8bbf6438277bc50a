#include "WrapperList.h"

#include <map>
#include <sstream>

namespace wrapperList {
namespace {

using xhost::NativeValue;

// The named wrappers by area, as the description lists them (the first area: those the plugin itself calls).
struct Named {
  const char* wrapper;
  const char* entry;
  const char* signature;
  NativeValue missing = {};
};
const std::vector<std::pair<const char*, std::vector<Named>>> kNamed = {
    {"Relied on",
     {
         {"REALRegisterClass", "PluginRegisterClass", "v(p)"},
         {"REALRegisterInterface", "PluginRegisterInterface", "v(p)"},
         {"REALRegisterModule", "PluginRegisterModule", "v(p)"},
         {"REALnewInstanceOfClass", "PluginNewInstanceOfClass", "p(p)"},
         {"REALGetClassRef", "pluginObjectType", "p(p)"},
         {"REALLoadObjectMethod", "REALLoadObjectMethod", "p(pp)"},
         {"REALLockObject", "REALLockObject", "v(p)"},
         {"REALUnlockObject", "REALUnlockObject", "v(p)"},
         {"REALLockString", "REALLockString", "v(p)"},
         {"REALUnlockString", "REALUnlockString", "v(p)"},
         {"REALBuildStringWithEncoding", "REALBuildStringWithEncoding", "p(piI)"},
         {"REALGetStringData", "PluginGetStringData", "b(pIp)"},
         {"REALDisposeStringData", "PluginDisposeStringData", "v(p)"},
         {"REALCompareStrings", "RuntimeStringCompare", "i(pp)"},
         {"REALRaiseException", "RuntimeRaiseException", "v(p)"},
         {"REALCreateArray", "RuntimeArrayCreateSingleDimBoundedArray", "p(il)"},
         {"REALGetArrayUBound", "RuntimeUBound", "l(p)"},
         {"REALMemoryBlockGetSize", "memoryBlockGetSize", "l(p)"},
     }},
    {"Strings and text",
     {
         {"REALAddStrings", "RuntimeAddString", "p(pp)"},
         {"REALGetSystemTextEncoding", "REALGetSystemTextEncoding", "I()", uint64_t{0x08000100}},
         {"REALBuildString", "REALBuildString", "p(pi)"},
         {"REALLockText", "PluginLockText", "v(p)"},
         {"REALUnlockText", "PluginUnlockText", "v(p)"},
         {"REALBuildText", "PluginBuildText", "p(pLp)"},
         {"REALCompareText", "PluginCompareText", "i(ppI)"},
         {"REALConcatenateText", "PluginConcatenateText", "p(pp)"},
         {"REALGetTextData", "PluginGetTextData", "p(ppp)"},
         {"REALDisposeTextData", "PluginDisposeTextData", "v(p)"},
         {"REALStripAmpersands", "REALStripAmpersands", "v(p)"},
         {"REALGetStringEncoding", "REALGetStringEncoding", "I(p)"},
         {"REALConvertString", "REALConvertString", "p(pI)"},
         {"REALSetStringEncoding", "REALSetStringEncoding", "v(pI)"},
         {"REALstringToOSType", "StringToOSType", "I(p)"},
         {"REALCString", "StringGetCString", "p(p)"},
         {"REALPString", "StringGetPString", "p(p)"},
     }},
    {"Objects, classes, methods and events",
     {
         {"REALGetPluginData", "PluginGetPluginData", "p(pp)"},
         {"REALObjectIsA", "RuntimeObjectIsa", "b(pp)"},
         {"REALCallFunctionWithExceptionHandler", "PluginCallFunctionWithExceptionHandler", "p(pp)"},
         {"REALGetDelegateInvoker", "PluginGetDelegateInvoker", "p(p)"},
         {"REALLoadSharedMethod", "PluginLoadSharedMethod", "p(pp)"},
         {"REALnewInstance", "PluginNewInstance", "p(p)"},
         {"REALInterfaceRoutine", "GetInterfaceRoutine", "p(ppp)"},
         {"REALAddEventHandler", "PluginAddEventHandler", "C(ppp)"},
         {"REALRemoveEventHandler", "PluginRemoveEventHandler", "C(ppp)"},
         {"REALIsEventHandled", "PluginIsEventHandled", "C(pp)"},
     }},
    {"Registration",
     {
         {"REALRegisterBackgroundTask", "PluginRegisterBackgroundTask", "i(pIp)", int64_t{-1}},
         {"REALRegisterStructure", "PluginRegisterStructure", "v(p)"},
         {"REALRegisterEnum", "PluginRegisterEnum", "v(p)"},
         {"REALRegisterMethod", "PluginRegisterMethod", "v(p)"},
         {"REALRegisterClassExtension", "PluginRegisterClassExtension", "v(p)"},
     }},
    {"Arrays",
     {
         {"REALGetArrayStructure", "RuntimeDirectReadStructureArray", "v(plp)"},
         {"REALGetArrayInt", "RuntimeDirectReadIntArray", "l(pl)"},
         {"REALGetArrayString", "RuntimeDirectReadStringArray", "p(pl)"},
         {"REALGetArrayObject", "RuntimeDirectReadObjectArray", "p(pl)"},
     }},
    {"Pictures and graphics",
     {
         {"REALBuildPictureFromPictureDescription", "REALBuildPictureFromPictureDescription", "p(pC)"},
         {"REALLockPictureDescriptionWithNativeType", "lockPictureDescription", "b(pp)"},
         {"REALUnlockPictureDescription", "unlockPictureDescription", "v(p)"},
         {"REALBuildPictureFromBuffer", "REALBuildPictureFromBuffer", "p(llpI)"},
         {"REALLockPictureDescription", "REALLockPictureDescription", "b(ppI)"},
         {"REALGetGraphicsOrigin", "REALGetGraphicsOrigin", "v(ppp)"},
         {"REALSetGraphicsOrigin", "REALSetGraphicsOrigin", "v(pii)"},
         {"REALGetControlGraphics", "REALGetControlGraphics", "p(p)"},
         {"REALPictureClearCache", "REALPictureClearCache", "v(p)"},
         {"REALGetPictureGraphics", "pluginPictureGraphicsGetter", "p(p)"},
         {"REALNewPicture", "newPicture", "p(lli)"},
         {"REALGetPictureMask", "REALGetPictureMask", "p(pC)"},
         {"REALGetGraphicsFontStyle", "REALGetGraphicsFontStyle", "v(pp)"},
         {"REALSetGraphicsStyle", "REALSetGraphicsStyle", "v(pp)"},
         {"REALGraphicsDC", "REALGraphicsDC", "p(p)"},
         {"REALDrawPicturePrimitive", "REALDrawPicturePrimitive", "v(pppi)"},
         {"REALGraphicsGdkDrawable", "REALGraphicsGdkDrawable", "p(p)"},
         {"REALGetPictureType", "PluginPictureGetType", "i(p)", int64_t{2}},
     }},
    {"Controls and windows",
     {
         {"REALRegisterControl", "PluginRegisterControl", "v(p)"},
         {"REALRegisterMobileControl", "PluginRegisterMobileControl", "v(p)"},
         {"REALDefaultControlFont", "PluginDefaultControlFont", "p()"},
         {"REALDefaultControlFontSize", "PluginDefaultControlFontSize", "d()"},
         {"REALSetAccelerator", "REALSetAccelerator", "v(pp)"},
         {"REALDefaultControlCaption", "PluginDefaultControlCaption", "p()"},
         {"REALGetControlBounds", "GetControlBounds", "v(pp)"},
         {"REALGetControlVisible", "GetControlVisible", "b(p)"},
         {"REALGetControlEnabled", "REALGetControlEnabled", "b(p)"},
         {"REALSetControlVisible", "SetControlVisible", "v(pC)"},
         {"REALInvalidateControl", "REALInvalidateControl", "v(p)"},
         {"REALInvalidateControlRect", "REALInvalidateControlRect", "v(piiii)"},
         {"REALGetControlWindow", "getControlWindow", "p(p)"},
         {"REALMessageBox", "RuntimeMsgBox", "v(p)"},
         {"REALSetControlEnabled", "controlEnabledSetter", "v(pC)"},
         {"REALGetControlPosition", "ctlPosGetter", "l(pl)"},
         {"REALSetControlPosition", "ctlPosSetter", "v(pll)"},
         {"REALGetTabPanelVisible", "GetTabPanelVisible", "b(p)"},
         {"REALGetControlFocus", "REALGetControlFocus", "b(p)"},
         {"REALSetControlFocus", "REALSetControlFocus", "v(pC)"},
         {"REALGetControlParent", "REALGetControlParent", "p(p)"},
         {"REALGetControlName", "REALGetControlName", "p(p)"},
         {"REALGetFontEncoding", "REALGetFontEncoding", "I(p)"},
         {"REALGetControlHandle", "REALGetControlHandle", "p(p)"},
         {"REALGetWindowHandle", "REALGetWindowHandle", "p(p)"},
         {"REALIsDarkMode", "IsDarkMode", "C()"},
     }},
    {"Database",
     {
         {"REALRegisterDBEngine", "PluginRegisterDBEngine", "v(p)"},
         {"REALRegisterDBTable", "PluginRegisterDBTable", "v(p)"},
         {"REALRegisterDBCursor", "PluginRegisterDBCursor", "v(p)"},
         {"REALdbCursorFromDBCursor", "REALdbCursorFromDBCursor", "p(pp)"},
         {"REALNewRowSetFromDBCursor", "NewRowSetFromDBCursor", "p(pp)"},
         {"REALdbDatabaseFromDBDatabase", "REALdbDatabaseFromDBDatabase", "p(pp)"},
         {"REALRegisterDataSourceInterface", "RegisterDataSourceInterface", "v(p)"},
         {"REALRegisterDataSource", "RegisterDataSource", "v(pp)"},
         {"REALRegisterDatabaseConnection", "RegisterDatabaseConnection", "v(p)"},
         {"REALDesignAddDataSource", "DesignAddDataSource", "v(ppl)"},
         {"REALGetDBHost", "REALGetDBHost", "p(p)"},
         {"REALGetDBDatabaseName", "REALGetDBDatabaseName", "p(p)"},
         {"REALGetDBPassword", "REALGetDBPassword", "p(p)"},
         {"REALGetDBUserName", "REALGetDBUserName", "p(p)"},
         {"REALGetDBFromREALdbDatabase", "REALGetDBFromREALdbDatabase", "p(p)"},
         {"REALConstructDBDatabase", "REALConstructDBDatabase", "v(ppp)"},
         {"REALDBConnectionDialogCreate", "REALDBConnectionDialogCreate", "p()"},
         {"REALDBConnectionDialogAddField", "REALDBConnectionDialogAddField", "v(pppC)"},
         {"REALDBConnectionDialogShow", "REALDBConnectionDialogShow", "p(pp)"},
         {"REALDBConnectionDialogDelete", "REALDBConnectionDialogDelete", "v(p)"},
         {"REALSetDBIsConnected", "REALSetDBIsConnected", "v(pC)"},
         {"REALGetCursorFromREALdbCursor", "REALGetCursorFromREALdbCursor", "p(p)"},
     }},
    {"Sockets",
     {
         {"REALMarkSocketUsage", "PluginMarkSocketUsage", "v()"},
         {"REALSocketConnect", "socketDirectConnect", "v(ppi)"},
         {"REALSocketClose", "socketClose", "v(p)"},
         {"REALSocketReadAll", "pluginSocketReadAll", "p(pI)"},
         {"REALSocketRead", "pluginSocketRead", "p(piI)"},
         {"REALSocketWrite", "SocketWrite", "v(pp)"},
         {"REALSocketLastErrorCode", "socketLastErrorCode", "i(p)"},
         {"REALSocketLookahead", "pluginSocketLookahead", "p(pI)"},
         {"REALSocketLocalAddressGetter", "socketLocalAddressGetter", "p(p)"},
         {"REALSocketPoll", "socketPoll", "v(p)"},
         {"REALSocketGetEvents", "socketGetEvents", "i(p)"},
         {"REALSocketListen", "pluginSocketListen", "v(p)"},
     }},
    {"Memory blocks",
     {
         {"REALNewMemoryBlock", "newMemoryBlock", "p(i)"},
         {"REALMemoryBlockGetPtr", "memoryBlockGetPtr", "p(p)"},
         {"REALPtrToMemoryBlock", "PtrToMemoryBlock", "p(p)"},
     }},
    {"Runtime and environment",
     {
         {"REALinRuntime", "REALinRuntime", "b()"},
         {"REALUnregisterBackgroundTask", "PluginUnregisterBackgroundTask", "v(i)"},
         {"REALGetRBVersion", "REALGetRBVersion", "d()", 0.0},
         {"REALYieldToRB", "REALYieldToRB", "v()"},
         {"REALInDebugMode", "REALInDebugMode", "b()"},
         {"REALGetProjectFolder", "REALGetProjectFolder", "p()"},
         {"REALFolderItemFromPath", "FolderItemFromPath", "p(pi)"},
         {"REALpathFromFolderItem", "REALpathFromFolderItem", "p(pi)"},
     }},
};

// The value types of the families and how their values travel.
const std::map<std::string, char> kLetterOf = {
    {"Int8", 'c'},   {"UInt8", 'C'},   {"Int16", 's'},   {"UInt16", 'S'},   {"Int32", 'i'},    {"UInt32", 'I'},
    {"Int64", 'l'},  {"UInt64", 'L'},  {"Integer", 'l'}, {"UInteger", 'L'}, {"Currency", 'l'}, {"Color", 'I'},
    {"OSType", 'I'}, {"Boolean", 'b'}, {"Single", 'f'},  {"Double", 'd'},   {"String", 'p'},   {"Object", 'p'},
    {"Ptr", 'p'},    {"CString", 'p'}, {"WString", 'p'}, {"PString", 'p'},  {"Text", 'p'}};

const char kPropertyTypes[] =
    "Int32, Int64, UInt64, UInt32, UInt16, Int16, Int8, UInt8, Boolean, Single, Double, Color, Currency, Integer, "
    "UInteger, String, Object, Ptr, CString, WString, PString, Text";
const std::map<std::string, std::string> kIrregularPropertyEntries = {
    {"REALGetPropValueInt32", "REALGetPropValueInt"},     {"REALGetPropValueBoolean", "REALGetPropValueBool"},
    {"REALGetPropValueText", "PluginGetPropValueText"},   {"REALSetPropValueInt32", "REALSetPropValueInt"},
    {"REALSetPropValueUInt8", "REALSetPropValueBoolean"}, {"REALSetPropValueText", "PluginSetPropValueText"}};
const char kArrayTypes[] =
    "Color, Integer, UInteger, Boolean, Currency, Int64, Int32, Int16, Int8, UInt64, UInt32, UInt16, UInt8, Single, "
    "Double, String, Text, Object";
const char kVariantTypes[] =
    "String, Ptr, CString, WString, PString, OSType, Int32, Integer, Double, Boolean, Color, UInt32, Int64, UInt64, "
    "Single, Currency";

// The C++ overloads: parameter type as nm prints it, and the value type it stands for.
struct Overload {
  const char* parameter;
  const char* type;
};
const Overload kPropertyGetterOverloads[] = {
    {"short*", "Int16"},  {"unsigned short*", "UInt16"},    {"double*", "Double"},
    {"float*", "Single"}, {"REALstringStruct**", "String"}, {"REALobjectStruct**", "Object"}};
const Overload kPropertySetterOverloads[] = {
    {"short", "Int16"},
    {"unsigned short", "UInt16"},
    {"double", "Double"},
    {"float", "Single"},
    {"REALstringStruct*", "String"},
    {"char const*", "CString"},
    {"wchar_t const*", "WString"},
    {"REALobjectStruct*", "Ptr"}};  // an object is set through "REALSetPropValuePtr"
const Overload kArrayInsertOverloads[] = {
    {"short", "Int16"},  {"unsigned short", "UInt16"},    {"double", "Double"},
    {"float", "Single"}, {"REALstringStruct*", "String"}, {"REALobjectStruct*", "Object"}};
const Overload kArrayGetOverloads[] = {{"short*", "Int16"},
                                       {"unsigned short*", "UInt16"},
                                       {"double*", "Double"},
                                       {"float*", "Single"},
                                       {"REALstringStruct**", "String"},
                                       {"RuntimeText const**", "Text"},
                                       {"REALobjectStruct**", "Object"}};
const Overload kArraySetOverloads[] = {{"short", "Int16"},
                                       {"unsigned short", "UInt16"},
                                       {"double", "Double"},
                                       {"float", "Single"},
                                       {"REALstringStruct*", "String"},
                                       {"RuntimeText const*", "Text"},
                                       {"REALobjectStruct*", "Object"}};

std::vector<std::string> typesOf(const std::string& list) {
  std::vector<std::string> types;
  std::stringstream stream(list);
  std::string type;
  while (std::getline(stream, type, ',')) types.push_back(type.substr(type.find_first_not_of(' ')));
  return types;
}

std::string propertyEntry(const std::string& wrapper) {
  auto irregular = kIrregularPropertyEntries.find(wrapper);
  return irregular == kIrregularPropertyEntries.end() ? wrapper : irregular->second;
}

std::string letters(char letter) { return std::string(1, letter); }

std::vector<Forwarding> build() {
  std::vector<Forwarding> rows;
  for (const auto& [area, named] : kNamed)
    for (const Named& row : named) rows.push_back({area, row.wrapper, row.entry, row.signature, row.missing});
  for (const std::string& type : typesOf(kPropertyTypes)) {
    std::string getter = "REALGetPropValue" + type, setter = "REALSetPropValue" + type;
    // The Boolean getter hands on a byte of its own (tested on its own).
    if (type != "Boolean") rows.push_back({"Properties", getter, propertyEntry(getter), "b(ppp)"});
    rows.push_back({"Properties", setter, propertyEntry(setter), "b(pp" + letters(kLetterOf.at(type)) + ")"});
  }
  for (const Overload& overload : kPropertyGetterOverloads)
    rows.push_back({"Property overloads",
                    std::string("REALGetPropValue(REALobjectStruct*, char const*, ") + overload.parameter + ")",
                    propertyEntry(std::string("REALGetPropValue") + overload.type), "b(ppp)"});
  for (const Overload& overload : kPropertySetterOverloads)
    rows.push_back({"Property overloads",
                    std::string("REALSetPropValue(REALobjectStruct*, char const*, ") + overload.parameter + ")",
                    propertyEntry(std::string("REALSetPropValue") + overload.type),
                    "b(pp" + letters(kLetterOf.at(overload.type)) + ")"});
  for (const std::string& type : typesOf(kVariantTypes))
    rows.push_back({"Variants", "REALNewVariant" + type, type + "ToVariant", "p(" + letters(kLetterOf.at(type)) + ")"});
  rows.push_back({"Variants", "REALNewVariantText", "PluginNewVariantText", "p(p)"});
  rows.push_back({"Variants", "REALNewVariantStructure", "PluginStructureToVariant", "p(pp)"});
  rows.push_back({"Variants", "REALGetVariantStructure", "PluginStructureFromVariant", "b(ppp)"});
  rows.push_back({"Shared-cache overloads", "REALBuildString(char const*, int, unsigned int)",
                  "REALBuildStringWithEncoding", "p(piI)"});
  rows.push_back({"Shared-cache overloads", "REALnewInstance(REALclassRefStruct*)", "CreateInstance", "p(p)"});
  rows.push_back({"Shared-cache overloads", "REALLockPictureDescription(REALobjectStruct*, REALpictureDescription*)",
                  "lockPictureDescription", "b(pp)"});
  return rows;
}

std::vector<ArrayAccess> buildArrayAccess() {
  std::vector<ArrayAccess> rows;
  auto add = [&](const std::string& wrapper, const std::string& type, char operation) {
    const char* suffix = operation == 'I' ? "ArrayInsertProc" : operation == 'G' ? "ArrayGetProc" : "ArraySetProc";
    rows.push_back({wrapper, "Plugin" + type + suffix, operation, kLetterOf.at(type)});
  };
  for (const std::string& type : typesOf(kArrayTypes)) {
    add("REALInsertArrayValue" + type, type, 'I');
    add("REALGetArrayValue" + type, type, 'G');
    add("REALSetArrayValue" + type, type, 'S');
  }
  for (const Overload& o : kArrayInsertOverloads)
    add(std::string("REALInsertArrayValue(REALarrayStruct*, long, ") + o.parameter + ")", o.type, 'I');
  for (const Overload& o : kArrayGetOverloads)
    add(std::string("REALGetArrayValue(REALarrayStruct*, long, ") + o.parameter + ")", o.type, 'G');
  for (const Overload& o : kArraySetOverloads)
    add(std::string("REALSetArrayValue(REALarrayStruct*, long, ") + o.parameter + ")", o.type, 'S');
  return rows;
}

}  // namespace

const std::vector<Forwarding>& forwarding() {
  static const std::vector<Forwarding> rows = build();
  return rows;
}

std::vector<std::string> areas() {
  std::vector<std::string> names;
  for (const Forwarding& row : forwarding())
    if (names.empty() || names.back() != row.area) names.push_back(row.area);
  return names;
}

const std::vector<ArrayAccess>& arrayAccess() {
  static const std::vector<ArrayAccess> rows = buildArrayAccess();
  return rows;
}

const std::vector<std::string>& others() {
  static const std::vector<std::string> names = {"REALPluginMain",           "HCallResolver",
                                                 "REALGetClassData",         "REALGetControlData",
                                                 "REALGetMobileControlData", "REALnewInstanceWithClass",
                                                 "REALGetEventInstance",     "REALGetStringContents",
                                                 "REALStringLength",         "REALLoadFrameworkMethod",
                                                 "REALLoadGlobalMethod",     "REALGetPropValueBoolean",
                                                 "SetClassConsoleSafe",      "SetClassWebOnly",
                                                 "GraphicsDrawLine",         "REALGraphicsDrawString",
                                                 "REALGraphicsStringWidth",  "REALGraphicsStringHeight",
                                                 "REALGraphicsTextHeight",   "REALGraphicsTextAscent",
                                                 "REALCountClassProperties", "REALGetClassProperty"};
  return names;
}

}  // namespace wrapperList
