// Finding and loading the Python library, with stub libraries standing in for
// the installed ones; each case in its own process, on a machine whose only
// Python libraries are the stubs the case puts in its library folder.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "LoadingTestSupport.h"

namespace {

// Every entry of the table, counted from its one list.
constexpr int kTableEntries = 0
#define PYTHON_FUNCTION(entry, ...) +1
#define PYTHON_DATA(entry, ...) +1
#include "PythonLibrary/PythonEntryPoints.def"
    ;

// The entries looked up only for a library chosen by path, counted the same way.
namespace lookups {
constexpr int WhenPathChosen = 1, AtLoad = 0, OnFirstListUse = 0, OnFirstDictionaryUse = 0;
}
constexpr int kHomeEntries = 0
#define PYTHON_FUNCTION(entry, symbol, result, parameters, missing, lookup) +lookups::lookup
#define PYTHON_DATA(entry, symbol, type, missing, lookup) +lookups::lookup
#include "PythonLibrary/PythonEntryPoints.def"
    ;

// The probe's summary of the table when `matching` of the `lookedUp` entries
// come from the stub.
std::string TableLine(int matching, int lookedUp) {
  return "table: " + std::to_string(matching) + " entries match the library, " + std::to_string(lookedUp - matching) +
         " symbols absent from it";
}

using loading_tests::ChildResult;
using loading_tests::OnlyPythonIn;
using loading_tests::RunProbe;
using loading_tests::ScratchFolder;
using loading_tests::Stub;

const std::string kNothingFound =
    "Could not load libpython3.4m.so, libpython3.5m.so, libpython3.6m.so, libpython3.7m.so, libpython3.8m.so, "
    "libpython3.9m.so, libpython3.10m.som, libpython3.11m.som, libpython3.12m.som  or libpython3.13m.so";

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class StubLibraries : public ::testing::Test {
 protected:
  StubLibraries() { folder.touch("libs/.keep"); }

  // A stub library named `name` in the searched folder.
  void install(const std::string& name, Stub stub = Stub::Complete) { folder.putStub(stub, "libs/" + name); }

  ChildResult run(const std::vector<std::string>& commands) {
    return RunProbe(commands, OnlyPythonIn(folder.path("libs")));
  }

  void expectOutput(const std::vector<std::string>& commands, const std::string& expected) {
    const ChildResult result = run(commands);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, expected);
  }

  ScratchFolder folder;
};

// ---------------------------------------------------------------------------

using LibrarySearch = StubLibraries;

TEST_F(LibrarySearch, NoPreferenceLoadsTheNewestVersion) {
  install("libpython3.12.so");
  install("libpython3.10.so");
  expectOutput({"found:0", "library", "mapped"},
               Lines({"PythonIsFound(0): True", "library: libpython3.12.so", "mapped: libpython3.12.so"}));
}

TEST_F(LibrarySearch, TheDefaultArgumentIsTheLatestKnownVersion) {
  install("libpython3.12.so");
  install("libpython3.10.so");
  expectOutput({"found", "library"}, Lines({"PythonIsFound(): True", "library: libpython3.12.so"}));
}

TEST_F(LibrarySearch, APreferredVersionIsLoadedFirst) {
  install("libpython3.12.so");
  install("libpython3.10.so");
  expectOutput({"found:7", "library", "mapped"},
               Lines({"PythonIsFound(7): True", "library: libpython3.10.so", "mapped: libpython3.10.so"}));
}

TEST_F(LibrarySearch, AMissingPreferredVersionFallsBackToTheWholeList) {
  install("libpython3.12.so");
  install("libpython3.10.so");
  expectOutput({"found:6", "library"}, Lines({"PythonIsFound(6): True", "library: libpython3.12.so"}));
}

TEST_F(LibrarySearch, APreferenceOutOfRangeActsAsLatestKnown) {
  install("libpython3.12.so");
  install("libpython3.10.so");
  for (const std::string preference : {"12", "-1", "1000"}) {
    expectOutput({"found:" + preference, "library"},
                 Lines({"PythonIsFound(" + preference + "): True", "library: libpython3.12.so"}));
  }
}

TEST_F(LibrarySearch, TheOldMNameIsFound) {
  install("libpython3.9m.so.1.0");
  expectOutput({"found:0", "library"}, Lines({"PythonIsFound(0): True", "library: libpython3.9m.so.1.0"}));
}

TEST_F(LibrarySearch, APreferredVersionFindsItsMName) {
  install("libpython3.12.so");
  install("libpython3.9m.so.1.0");
  expectOutput({"found:6", "library"}, Lines({"PythonIsFound(6): True", "library: libpython3.9m.so.1.0"}));
}

TEST_F(LibrarySearch, AfterALoadAnyPreferenceReturnsTrueAndLoadsNothing) {
  install("libpython3.12.so");
  install("libpython3.10.so");
  expectOutput({"found:0", "found:7", "found:-1", "library", "mapped"},
               Lines({"PythonIsFound(0): True", "PythonIsFound(7): True", "PythonIsFound(-1): True",
                      "library: libpython3.12.so", "mapped: libpython3.12.so"}));
}

// A runtime-only installation has libpython3.X.so.1.0 and none of the names
// of the list.
TEST_F(LibrarySearch, TheSonameIsFoundWhenNoListedNameOpens) {
  install("libpython3.8.so.1.0");
  expectOutput({"found:0", "library"}, Lines({"PythonIsFound(0): True", "library: libpython3.8.so.1.0"}));
}

TEST_F(LibrarySearch, ListedNamesComeBeforeAnySoname) {
  install("libpython3.13.so.1.0");
  install("libpython3.5.so");
  expectOutput({"found:0", "library"}, Lines({"PythonIsFound(0): True", "library: libpython3.5.so"}));
}

TEST_F(LibrarySearch, SonamesAreTriedNewestFirst) {
  install("libpython3.8.so.1.0");
  install("libpython3.13.so.1.0");
  expectOutput({"found:0", "library"}, Lines({"PythonIsFound(0): True", "library: libpython3.13.so.1.0"}));
}

TEST_F(LibrarySearch, APreferredSonameComesRightAfterItsTwoNames) {
  install("libpython3.12.so");
  install("libpython3.10.so.1.0");
  expectOutput({"found:7", "library"}, Lines({"PythonIsFound(7): True", "library: libpython3.10.so.1.0"}));
  expectOutput({"found:0", "library"}, Lines({"PythonIsFound(0): True", "library: libpython3.12.so"}));
}

// ---------------------------------------------------------------------------

using LoadFailures = StubLibraries;

TEST_F(LoadFailures, NothingFoundWritesTheListMessageOnEveryAttempt) {
  expectOutput({"found:0", "found:7", "ensure", "state", "mapped"},
               Lines({kNothingFound, "PythonIsFound(0): False", kNothingFound, "PythonIsFound(7): False", kNothingFound,
                      "EnsurePythonLoaded: False", "found=0 loaded=0 handle=null", "mapped: none"}));
}

TEST_F(LoadFailures, WithoutPyInitializeTheLibraryIsClosedButFound) {
  install("libpython3.12.so", Stub::NoInitialize);
  expectOutput({"found:0", "state", "mapped", "entries", "found:0"},
               Lines({"Coult not load symbol", "PythonIsFound(0): True", "found=1 loaded=0 handle=null", "mapped: none",
                      "entries: none set", "Coult not load symbol", "PythonIsFound(0): True"}));
}

TEST_F(LoadFailures, WithoutTrueTheLibraryIsClosedButFound) {
  install("libpython3.12.so", Stub::NoTrueStruct);
  expectOutput({"found:0", "state", "mapped", "entries"},
               Lines({"Coult not dlsym_errorload symbol _Py_TrueStruct", "PythonIsFound(0): True",
                      "found=1 loaded=0 handle=null", "mapped: none", "entries: none set"}));
}

TEST_F(LoadFailures, WithoutFalseTheLibraryIsClosedButFound) {
  install("libpython3.12.so", Stub::NoFalseStruct);
  expectOutput({"found:0", "state", "mapped", "entries", "ensure-entries"},
               Lines({"Coult not dlsym_errorload symbol _Py_FalseStruct", "PythonIsFound(0): True",
                      "found=1 loaded=0 handle=null", "mapped: none", "entries: none set",
                      "Coult not dlsym_errorload symbol _Py_FalseStruct",
                      "Coult not dlsym_errorload symbol _Py_FalseStruct", "EnsurePythonEntries: False, False"}));
}

TEST_F(LoadFailures, AFailedCheckAlsoForgetsTheHome) {
  const std::string library = folder.putStub(Stub::NoFalseStruct, "prefix/lib/libpython3.12.so");
  folder.touch("prefix/lib/python3.12/os.py");
  expectOutput({"choose:" + library, "found:0", "home", "entries", "mapped"},
               Lines({"chosen: this file", "Coult not dlsym_errorload symbol _Py_FalseStruct", "PythonIsFound(0): True",
                      "home: none", "entries: none set", "mapped: none"}));
}

// The home of a library without Py_DecodeLocale is the plugin's own conversion.
TEST_F(LoadFailures, AFailedCheckAlsoForgetsAHomeThePluginConverted) {
  const std::string library = folder.putStub(Stub::NoDecodeLocaleNoFalseStruct, "prefix/lib/libpython3.4.so");
  folder.touch("prefix/lib/python3.4/os.py");
  expectOutput({"choose:" + library, "found:0", "home", "entries"},
               Lines({"chosen: this file", "Coult not dlsym_errorload symbol _Py_FalseStruct", "PythonIsFound(0): True",
                      "home: none", "entries: none set"}));
}

TEST_F(LoadFailures, AChosenFileThatDoesNotOpenWritesNothingAndSearchesNothing) {
  install("libpython3.12.so");
  const std::string notALibrary = folder.touch("other/libpython3.11.so");
  expectOutput({"choose:" + notALibrary, "found:0", "state", "mapped"},
               Lines({"chosen: this file", "PythonIsFound(0): False", "found=0 loaded=0 handle=null", "mapped: none"}));
}

// Only a complete ELF shared object for this machine is handed to the
// dynamic loader; anything else is a file that does not open.
TEST_F(LoadFailures, AChosenFileThatIsNoCompleteSharedObjectForThisMachineDoesNotOpen) {
  struct Row {
    const char* what;
    long offset;        // where the header is changed, or -1 for a file cut short
    std::string bytes;  // written there
  };
  const std::vector<Row> rows = {
      {"cut short inside a loadable segment", -1, ""},
      {"32-bit", EI_CLASS, std::string(1, ELFCLASS32)},
      {"big-endian", EI_DATA, std::string(1, ELFDATA2MSB)},
      {"for another machine", offsetof(Elf64_Ehdr, e_machine), std::string(1, EM_SPARCV9) + '\0'},
      {"an executable", offsetof(Elf64_Ehdr, e_type), std::string("\x02\x00", 2)},
      {"program headers past the end", offsetof(Elf64_Ehdr, e_phoff), std::string("\xFF\xFF\xFF\x00", 4)},
  };
  install("libpython3.12.so");
  for (const Row& row : rows) {
    const std::string name = std::string("other/") + row.what + "/libpython3.11.so";
    const std::string library = row.offset < 0 ? folder.putTruncatedCopy(loading_tests::StubFile(Stub::Complete), name)
                                               : folder.putStub(Stub::Complete, name);
    if (row.offset >= 0) loading_tests::Overwrite(library, row.offset, row.bytes);
    const ChildResult result = run({"choose:" + library, "found:0", "state", "mapped"});
    EXPECT_EQ(result.exitStatus, 0) << row.what << ": " << result.err;
    EXPECT_EQ(result.out,
              Lines({"chosen: this file", "PythonIsFound(0): False", "found=0 loaded=0 handle=null", "mapped: none"}))
        << row.what;
  }
}

TEST_F(LoadFailures, OperationsSeeMissingEntriesInsteadOfCallingThem) {
  install("libpython3.12.so");
  expectOutput({"ensure-entries", "python"}, Lines({"EnsurePythonEntries: True, False", "python: entries missing"}));
}

// ---------------------------------------------------------------------------

using ChosenLibrary = StubLibraries;

TEST_F(ChosenLibrary, TheChosenFileIsLoadedWhateverThePreference) {
  install("libpython3.12.so");
  const std::string library = folder.putStub(Stub::Complete, "other/libpython3.10.so");
  expectOutput({"choose:" + library, "found:9", "library"},
               Lines({"chosen: this file", "PythonIsFound(9): True", "library: libpython3.10.so"}));
}

TEST_F(ChosenLibrary, AFolderAMissingFileOrNilChooseNothing) {
  install("libpython3.12.so");
  folder.touch("other/readme");
  expectOutput(
      {"choose:" + folder.path("other"), "choose:" + folder.path("other/missing.so"), "choose-nil", "found:0",
       "library"},
      Lines({"chosen: none", "chosen: none", "chosen: none", "PythonIsFound(0): True", "library: libpython3.12.so"}));
}

TEST_F(ChosenLibrary, ANewChoiceReplacesTheOld) {
  const std::string first = folder.putStub(Stub::Complete, "first/libpython3.10.so");
  const std::string second = folder.putStub(Stub::Complete, "second/libpython3.9.so");
  expectOutput({"choose:" + first, "choose:" + second, "found:0", "library"},
               Lines({"chosen: this file", "chosen: this file", "PythonIsFound(0): True", "library: libpython3.9.so"}));
}

TEST_F(ChosenLibrary, ARejectedChoiceDropsTheOld) {
  install("libpython3.12.so");
  const std::string first = folder.putStub(Stub::Complete, "first/libpython3.10.so");
  expectOutput({"choose:" + first, "choose:" + folder.path("first/missing.so"), "found:0", "library"},
               Lines({"chosen: this file", "chosen: none", "PythonIsFound(0): True", "library: libpython3.12.so"}));
}

TEST_F(ChosenLibrary, ChoosingAfterTheLoadHasNoEffect) {
  install("libpython3.12.so");
  const std::string first = folder.putStub(Stub::Complete, "first/libpython3.10.so");
  const std::string second = folder.putStub(Stub::Complete, "second/libpython3.9.so");
  expectOutput({"found:0", "choose:" + second, "library"},
               Lines({"PythonIsFound(0): True", "chosen: none", "library: libpython3.12.so"}));
  expectOutput({"choose:" + first, "found:0", "choose:" + second, "choose-nil", "library"},
               Lines({"chosen: this file", "PythonIsFound(0): True", "chosen: another file", "chosen: another file",
                      "library: libpython3.10.so"}));
}

// ---------------------------------------------------------------------------

using PythonHome = StubLibraries;

TEST_F(PythonHome, ALibraryInALibFolderGetsTheFolderAbove) {
  const std::string library = folder.putStub(Stub::Complete, "prefix/lib/libpython3.12.so");
  folder.touch("prefix/lib/python3.12/os.py");
  expectOutput({"choose:" + library, "found:0", "home", "library-home", "table"},
               Lines({"chosen: this file", "PythonIsFound(0): True", "home: " + folder.path("prefix"),
                      "library home: " + folder.path("prefix"), TableLine(12, kTableEntries)}));
}

TEST_F(PythonHome, TheLibFolderIsRecognisedWhateverItsCase) {
  const std::string library = folder.putStub(Stub::Complete, "prefix/LIB/libpython3.12.so");
  folder.touch("prefix/lib/python3.12/os.py");
  expectOutput({"choose:" + library, "found:0", "home"},
               Lines({"chosen: this file", "PythonIsFound(0): True", "home: " + folder.path("prefix")}));
}

TEST_F(PythonHome, ALibraryInAnyOtherFolderGetsThatFolder) {
  const std::string library = folder.putStub(Stub::Complete, "app/libpython3.12.so");
  folder.touch("app/lib/python3.12/os.py");
  expectOutput({"choose:" + library, "found:0", "home", "library-home"},
               Lines({"chosen: this file", "PythonIsFound(0): True", "home: " + folder.path("app"),
                      "library home: " + folder.path("app")}));
}

// Debian: <prefix>/lib/x86_64-linux-gnu/libpython3.X.so, standard library in
// <prefix>/lib/python3.X.
TEST_F(PythonHome, AMultiarchFolderGetsThePrefix) {
  const std::string library = folder.putStub(Stub::Complete, "prefix/lib/x86_64-linux-gnu/libpython3.12.so.1.0");
  folder.touch("prefix/lib/python3.12/os.py");
  expectOutput({"choose:" + library, "found:0", "home", "library-home"},
               Lines({"chosen: this file", "PythonIsFound(0): True", "home: " + folder.path("prefix"),
                      "library home: " + folder.path("prefix")}));
}

TEST_F(PythonHome, NoStandardLibraryOfThatVersionMeansNoHome) {
  const std::string library = folder.putStub(Stub::Complete, "prefix/lib/x86_64-linux-gnu/libpython3.12.so");
  folder.touch("prefix/lib/python3.11/os.py");
  expectOutput({"choose:" + library, "found:0", "home", "library-home", "state"},
               Lines({"chosen: this file", "PythonIsFound(0): True", "home: none", "library home: none",
                      "found=1 loaded=1 handle=set"}));
}

TEST_F(PythonHome, ALibraryWithoutTheHomeFunctionsLoadsWithoutAHome) {
  const std::string library = folder.putStub(Stub::NoHomeFunctions, "prefix/lib/libpython3.12.so");
  folder.touch("prefix/lib/python3.12/os.py");
  expectOutput({"choose:" + library, "found:0", "home", "state"},
               Lines({"chosen: this file", "PythonIsFound(0): True", "home: none", "found=1 loaded=1 handle=set"}));
}

// Python 3.4 has Py_SetPythonHome but not Py_DecodeLocale.
TEST_F(PythonHome, ALibraryWithoutDecodeLocaleStillGetsItsHome) {
  const std::string library = folder.putStub(Stub::NoDecodeLocale, "prefix/lib/libpython3.4.so");
  folder.touch("prefix/lib/python3.4/os.py");
  expectOutput({"choose:" + library, "found:0", "home", "library-home"},
               Lines({"chosen: this file", "PythonIsFound(0): True", "home: " + folder.path("prefix"),
                      "library home: " + folder.path("prefix")}));
}

TEST_F(PythonHome, ASearchedLibraryGetsNoHome) {
  install("libpython3.12.so");
  expectOutput({"found:0", "home", "library-home"},
               Lines({"PythonIsFound(0): True", "home: none", "library home: none"}));
}

// ---------------------------------------------------------------------------

using RefusedBuilds = StubLibraries;

TEST_F(RefusedBuilds, AFreeThreadedBuildIsRefused) {
  const std::string library = folder.putStub(Stub::FreeThreaded, "other/libpython3.13t.so");
  expectOutput({"choose:" + library, "found:0", "state", "mapped"},
               Lines({"chosen: this file",
                      "Refused " + library +
                          ": a free-threaded Python build, whose object header differs from the one this plugin uses",
                      "PythonIsFound(0): False", "found=0 loaded=0 handle=null", "mapped: none"}));
}

TEST_F(RefusedBuilds, ABuildWithReferenceTracingIsRefused) {
  const std::string library = folder.putStub(Stub::TraceRefs, "other/libpython3.12d.so");
  expectOutput({"choose:" + library, "found:0", "state", "mapped"},
               Lines({"chosen: this file",
                      "Refused " + library +
                          ": a Python build with reference tracing (Py_TRACE_REFS), whose reference counting must go "
                          "through the library",
                      "PythonIsFound(0): False", "found=0 loaded=0 handle=null", "mapped: none"}));
}

TEST_F(RefusedBuilds, TheSearchGoesOnPastARefusedLibrary) {
  install("libpython3.12.so", Stub::TraceRefs);
  install("libpython3.10.so");
  expectOutput({"found:0", "library", "mapped"},
               Lines({"Refused libpython3.12.so: a Python build with reference tracing (Py_TRACE_REFS), whose "
                      "reference counting must go through the library",
                      "PythonIsFound(0): True", "library: libpython3.10.so", "mapped: libpython3.10.so"}));
}

// ---------------------------------------------------------------------------

using EntryTable = StubLibraries;

TEST_F(EntryTable, LoadingThePluginMapsNoPython) {
  const ChildResult result = RunProbe({"mapped", "state", "entries"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, Lines({"mapped: none", "found=0 loaded=0 handle=null", "entries: none set"}));
}

TEST_F(EntryTable, EveryEntryHoldsWhatTheLibraryExports) {
  install("libpython3.12.so");
  expectOutput({"found:0", "table"}, Lines({"PythonIsFound(0): True", TableLine(10, kTableEntries - kHomeEntries)}));
}

TEST_F(EntryTable, FirstUseEntriesAreLookedUpOnDemandAndClearedByRegistration) {
  install("libpython3.12.so");
  expectOutput({"lookup:PyList_Sort", "found:0", "entry:PyList_Sort", "lookup:PyList_Sort", "entry:PyList_Sort",
                "lookup:PyList_Reverse", "lookup:PyDict_Copy", "reset-list", "entry:PyList_Sort", "entry:PyDict_Copy",
                "reset-dictionary", "entry:PyDict_Copy"},
               Lines({"lookup PyList_Sort: False", "PythonIsFound(0): True", "PyList_Sort: null",
                      "lookup PyList_Sort: True", "PyList_Sort: set", "lookup PyList_Reverse: False",
                      "lookup PyDict_Copy: True", "PyList_Sort: null", "PyDict_Copy: set", "PyDict_Copy: null"}));
}

TEST_F(EntryTable, ExceptionEntriesFollowTheErrorTypeConstants) {
  install("libpython3.12.so");
  expectOutput({"found:0", "exception:19", "exception:1", "exception:0", "exception:23"},
               Lines({"PythonIsFound(0): True", "exception 19: PyExc_TypeError", "exception 1: none",
                      "exception 0: none", "exception 23: none"}));
}

}  // namespace
