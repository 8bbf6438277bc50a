// Every host wrapper of the interface against recorded host entries, each in a
// fresh copy of the plugin: it asks for exactly its entry, forwards its
// arguments unchanged and in order, returns the entry's result, returns zero
// (or its special value) while the entry is missing and asks again on the
// next call, and uses an entry the host gains later, asking no more.
#include <gtest/gtest.h>

#include "FreshGlue.h"
#include "WrapperList.h"
#include "WrapperTestSupport.h"

namespace {

using namespace wrapperTests;
using xhost::callNative;
using xhost::Host;
using xhost::NativeRecorder;

class ForwardingWrappers : public ::testing::TestWithParam<std::string> {};

void checkFamilyRule(const wrapperList::Forwarding& row) {
  SCOPED_TRACE(row.wrapper + " -> \"" + row.entry + "\"");
  Host& host = Host::instance();
  FreshGlue glue(FreshGlue::AtEnd::Close);
  void* wrapper = glue.address(row.wrapper);
  std::string signature = hostForm(row.signature);
  char result = row.signature[0];
  std::vector<NativeValue> args = samplesFor(parametersOf(row.signature));
  NativeValue missing = std::holds_alternative<std::monostate>(row.missing) ? zeroOf(result) : row.missing;
  size_t asked = host.lookupCount(row.entry);
  {
    WithheldEntry withheld(row.entry);
    EXPECT_EQ(callNative(wrapper, signature, args), missing);
    EXPECT_EQ(callNative(wrapper, signature, args), missing);
    EXPECT_EQ(host.lookupCount(row.entry) - asked, 2u) << "a missing entry is asked for on every call";
  }
  NativeRecorder entry(signature, result == 'v' ? NativeValue{} : sample(hostForm(result), 20));
  ServedEntry served(row.entry, entry.function());
  EXPECT_EQ(callNative(wrapper, signature, args), asPluginSees(result, sample(hostForm(result), 20)));
  entry.setResult(zeroOf(hostForm(result)));
  EXPECT_EQ(callNative(wrapper, signature, args), zeroOf(result));
  EXPECT_EQ(host.lookupCount(row.entry) - asked, 3u) << "an entry found is kept";
  EXPECT_EQ(entry.calls(), (std::vector<std::vector<NativeValue>>{args, args}));
}

TEST_P(ForwardingWrappers, FollowTheFamilyRule) {
  size_t checked = 0;
  for (const wrapperList::Forwarding& row : wrapperList::forwarding()) {
    if (row.area != GetParam()) continue;
    checkFamilyRule(row);
    ++checked;
  }
  EXPECT_GT(checked, 0u);
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param)
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name;
}

INSTANTIATE_TEST_SUITE_P(ByArea, ForwardingWrappers, ::testing::ValuesIn(wrapperList::areas()), testName);

// Two steps: the entry gives the procedure for this array (never kept), which
// then inserts, reads or sets the element.
void checkArrayAccess(const wrapperList::ArrayAccess& row) {
  SCOPED_TRACE(row.wrapper + " -> \"" + row.entry + "\"");
  Host& host = Host::instance();
  FreshGlue glue(FreshGlue::AtEnd::Close);
  void* wrapper = glue.address(row.wrapper);
  bool get = row.operation == 'G';
  char element = hostForm(row.letter);
  NativeValue array = sample('p', 0), index = sample('l', 1), value = sample(row.letter, 2);
  constexpr uint64_t kUntouched = 0xCDCDCDCDCDCDCDCDull;
  uint64_t out[2] = {kUntouched, kUntouched};
  std::string signature = get ? "v(plp)" : std::string("v(pl") + element + ")";
  auto call = [&](const void* destination) {
    callNative(wrapper, signature, {array, index, get ? NativeValue{addressOf(destination)} : value});
  };
  size_t asked = host.lookupCount(row.entry);
  {
    WithheldEntry withheld(row.entry);
    call(out);
    call(out);
    EXPECT_EQ(host.lookupCount(row.entry) - asked, 2u);
    EXPECT_EQ(out[0], kUntouched);
  }
  NativeRecorder procedure(get ? std::string(1, element) + "(pl)" : std::string("v(pl") + element + ")",
                           get ? sample(element, 20) : NativeValue{});
  NativeRecorder procedureFor("p(p)", addressOf(procedure.function()));
  ServedEntry served(row.entry, procedureFor.function());
  call(out);
  EXPECT_EQ(procedureFor.calls(), (std::vector<std::vector<NativeValue>>{{array}}));
  if (get) {
    EXPECT_EQ(procedure.calls(), (std::vector<std::vector<NativeValue>>{{array, index}}));
    EXPECT_EQ(xhost::readNative(element, out), asPluginSees(row.letter, sample(element, 20)));
    EXPECT_EQ(out[1], kUntouched);
    call(nullptr);
    EXPECT_EQ(procedureFor.calls().size(), 2u) << "the procedure is asked for on every call";
    EXPECT_EQ(procedure.calls().size(), 1u) << "a null destination is never written";
  } else {
    EXPECT_EQ(procedure.calls(), (std::vector<std::vector<NativeValue>>{{array, index, value}}));
    call(nullptr);
    EXPECT_EQ(procedureFor.calls().size(), 2u) << "the procedure is asked for on every call";
    EXPECT_EQ(procedure.calls().size(), 2u);
  }
  size_t procedureCalls = procedure.calls().size();
  procedureFor.setResult(uint64_t{0});
  out[0] = kUntouched;
  call(out);
  EXPECT_EQ(procedure.calls().size(), procedureCalls) << "no procedure for this array: nothing happens";
  EXPECT_EQ(out[0], kUntouched);
  EXPECT_EQ(host.lookupCount(row.entry) - asked, 3u);
}

TEST(ArrayElementWrappers, AccessTheElementInTwoSteps) {
  for (const wrapperList::ArrayAccess& row : wrapperList::arrayAccess()) checkArrayAccess(row);
}

RBBoolean gHostByte = 0;
RBBoolean gHostResult = 0;
RBBoolean hostBooleanProperty(REALobjectStruct*, const char*, RBBoolean* outValue) {
  *outValue = gHostByte;
  return gHostResult;
}

TEST(PropertyWrappers, BooleanGetterHandsOnTheHostsByteWhateverItReturned) {
  FreshGlue glue(FreshGlue::AtEnd::Close);
  auto getBoolean = glue.symbol<bool (*)(REALobjectStruct*, const char*, bool*)>("REALGetPropValueBoolean");
  auto* object = reinterpret_cast<REALobjectStruct*>(0x1000);
  struct Case {
    RBBoolean hostByte, hostResult;
    bool read, value;
  };
  {
    WithheldEntry withheld("REALGetPropValueBool");
    bool value = true;
    EXPECT_FALSE(getBoolean(object, "Visible", &value));
    EXPECT_TRUE(value) << "left as it was";
  }
  ServedEntry served("REALGetPropValueBool", reinterpret_cast<void*>(hostBooleanProperty));
  for (Case c : {Case{0x5A, 0, false, true}, Case{0, 1, true, false}, Case{1, 0x80, true, true}}) {
    gHostByte = c.hostByte;
    gHostResult = c.hostResult;
    bool value = !c.value;
    EXPECT_EQ(getBoolean(object, "Visible", &value), c.read);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(getBoolean(object, "Visible", nullptr), c.read);
  }
}

// Overloads and members that share one cache: once either has found the
// entry, the other asks no more.
TEST(SharedCaches, OverloadsUseTheirMembersCache) {
  struct Pair {
    const char* first;
    const char* second;
    const char* entry;
    const char* signature;       // of both wrappers
    const char* entrySignature;  // of the host entry
  };
  const Pair pairs[] = {
      {"REALBuildStringWithEncoding", "REALBuildString(char const*, int, unsigned int)", "REALBuildStringWithEncoding",
       "p(piI)", "p(piI)"},
      {"REALnewInstanceWithClass", "REALnewInstance(REALclassRefStruct*)", "CreateInstance", "p(p)", "p(p)"},
      {"REALLockPictureDescriptionWithNativeType",
       "REALLockPictureDescription(REALobjectStruct*, REALpictureDescription*)", "lockPictureDescription", "C(pp)",
       "C(pp)"},
      {"REALGetPropValueInt16", "REALGetPropValue(REALobjectStruct*, char const*, short*)", "REALGetPropValueInt16",
       "C(ppp)", "C(ppp)"},
      {"REALSetPropValuePtr", "REALSetPropValue(REALobjectStruct*, char const*, REALobjectStruct*)",
       "REALSetPropValuePtr", "C(ppp)", "C(ppp)"},
      {"REALSetPropValueString", "REALSetPropValue(REALobjectStruct*, char const*, REALstringStruct*)",
       "REALSetPropValueString", "C(ppp)", "C(ppp)"},
      // Array procedures: the entry answers null, so only the first step runs.
      {"REALInsertArrayValueDouble", "REALInsertArrayValue(REALarrayStruct*, long, double)",
       "PluginDoubleArrayInsertProc", "v(pld)", "p(p)"},
      {"REALGetArrayValueText", "REALGetArrayValue(REALarrayStruct*, long, RuntimeText const**)",
       "PluginTextArrayGetProc", "v(plp)", "p(p)"},
      {"REALSetArrayValueObject", "REALSetArrayValue(REALarrayStruct*, long, REALobjectStruct*)",
       "PluginObjectArraySetProc", "v(plp)", "p(p)"},
      {"REALLoadGlobalMethod", "REALLoadFrameworkMethod", "REALLoadGlobalMethod", "p(pp)", "p(pp)"},
  };
  Host& host = Host::instance();
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(std::string(pair.first) + " / " + pair.second);
    FreshGlue glue(FreshGlue::AtEnd::Close);
    NativeRecorder entry(pair.entrySignature);
    ServedEntry served(pair.entry, entry.function());
    size_t asked = host.lookupCount(pair.entry);
    std::string parameters = parametersOf(pair.signature);
    std::vector<NativeValue> args = samplesFor(parameters);
    callNative(glue.address(pair.first), pair.signature, args);
    std::string secondSignature = pair.signature;
    if (std::string(pair.second) == "REALLoadFrameworkMethod") {
      // The framework method is the global method without a module.
      secondSignature = "p(p)";
      args.erase(args.begin());
    }
    callNative(glue.address(pair.second), secondSignature, args);
    EXPECT_EQ(host.lookupCount(pair.entry) - asked, 1u);
    EXPECT_EQ(entry.calls().size(), 2u);
  }
}

TEST(FrameworkMethods, AreLookedUpWithoutAModule) {
  FreshGlue glue(FreshGlue::AtEnd::Close);
  NativeRecorder entry("p(pp)", sample('p', 20));
  ServedEntry served("REALLoadGlobalMethod", entry.function());
  NativeValue module = sample('p', 0), declaration = sample('p', 1);
  EXPECT_EQ(callNative(glue.address("REALLoadGlobalMethod"), "p(pp)", {module, declaration}), sample('p', 20));
  EXPECT_EQ(callNative(glue.address("REALLoadFrameworkMethod"), "p(p)", {declaration}), sample('p', 20));
  EXPECT_EQ(entry.calls(),
            (std::vector<std::vector<NativeValue>>{{uint64_t{0}, declaration}, {uint64_t{0}, declaration}}));
}

}  // namespace
