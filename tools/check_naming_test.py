#!/usr/bin/env python3
"""Plants names in a scratch translation unit and sees check_naming.py report
each one that breaks the naming rule, and none of those that follow it or
are listed as not the project's.

Usage: check_naming_test.py [repository root]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
CHECK = os.path.join(ROOT, "tools", "check_naming.py")

FOLLOWS_THE_RULE = """
namespace planted_names {
int gProcessWide = 0;
thread_local int tPerThread = 0;
constexpr int kLimit = 3;
const char* const kGreeting = "hello";
enum Flags : unsigned { kFirstFlag = 1, kSecondFlag = 2 };
enum class Stage { Before, After };
struct DataBlock {
  int itemCount;  // a struct's field
};
class Counter {
 public:
  int Count() const noexcept { return count_; }
  static Counter Make() noexcept { return Counter(); }

 private:
  int count_ = 0;
};
template <typename Value, int Size>
Value FirstOf(const Value (&values)[Size]) noexcept {
  const Value first = values[0];
  return first;
}
}  // namespace planted_names
// Fixed by the plugin's interface (tools/naming_fixed.txt), not by the rule.
void Python_Init() {}
int PythonListClass = 0;
// CPython's own spellings.
struct PyPlanted_Object {
  long ob_refcnt;
};
constexpr int METH_PLANTED = 1;
#define PLANTED_MACRO 1
"""

BREAKS_THE_RULE = {
    "int hasDeferredWork = 0;": "global variable 'hasDeferredWork'",
    "int tNotPerThread = 0;": "global variable 'tNotPerThread'",
    "constexpr int limit = 1;": "constexpr variable 'limit'",
    "void helper_function() {}": "function 'helper_function'",
    "void PythonList_Planted() {}": "function 'PythonList_Planted'",
    "struct planted_block { int count; };": "class 'planted_block'",
    "struct PlantedFields { int Bad_Field; };": "member 'Bad_Field'",
    "class PlantedMethods { public: int count() { return 0; } };": "method 'count'",
    "class PlantedPrivate { int count; public: int Count() { return count; } };": "private member 'count'",
    "enum PlantedEnum { Plain };": "enum constant 'Plain'",
    "namespace PlantedSpace { int gInside = 0; }": "namespace 'PlantedSpace'",
    "void PlantedLocals() { int Local_Value = 0; (void)Local_Value; }": "local variable 'Local_Value'",
    "void PlantedParameters(int Bad_Parameter) { (void)Bad_Parameter; }": "parameter 'Bad_Parameter'",
    "#define planted_macro 1": "macro definition 'planted_macro'",
}


class CheckNamingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not (shutil.which("clang-tidy") or shutil.which("clang-tidy-14")):
            raise unittest.SkipTest("clang-tidy not installed (scripts/setup.sh installs it)")

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="check_naming_test_")

    def tearDown(self):
        shutil.rmtree(self.scratch)

    def check(self, text, fixed=None):
        source = os.path.join(self.scratch, "Planted.cpp")
        with open(source, "w", encoding="utf-8") as planted:
            planted.write(text)
        with open(os.path.join(self.scratch, "compile_commands.json"), "w", encoding="utf-8") as database:
            json.dump([{"directory": self.scratch, "file": source,
                        "command": f"c++ -std=c++17 -c {source} -o Planted.o"}], database)
        extra = ["--fixed", fixed] if fixed else []
        run = subprocess.run([sys.executable, CHECK, self.scratch, source] + extra, capture_output=True, text=True)
        return run.returncode, run.stdout + run.stderr

    def test_names_by_the_rule_and_listed_names_pass(self):
        code, output = self.check(FOLLOWS_THE_RULE)
        self.assertEqual(code, 0, output)

    def test_each_name_against_the_rule_is_reported(self):
        code, output = self.check(FOLLOWS_THE_RULE + "\n".join(BREAKS_THE_RULE) + "\n")
        self.assertEqual(code, 1, output)
        for planted, finding in BREAKS_THE_RULE.items():
            self.assertIn("invalid case style for " + finding, output, planted)
        self.assertIn(f"{len(BREAKS_THE_RULE)} problem(s)", output)

    def test_a_listed_name_the_sources_no_longer_declare_is_reported(self):
        fixed = os.path.join(self.scratch, "naming_fixed.txt")
        shutil.copy(os.path.join(ROOT, "tools", "naming_fixed.txt"), fixed)
        with open(fixed, "a", encoding="utf-8") as listing:
            listing.write("Function PythonList_GoneLongAgo\nFunction PythonList_RenamedElsewhere pending\n")
        code, output = self.check(FOLLOWS_THE_RULE, fixed)
        self.assertEqual(code, 1, output)
        self.assertIn("naming_fixed.txt lists Function PythonList_GoneLongAgo, which the sources no longer declare",
                      output)
        self.assertNotIn("PythonList_RenamedElsewhere", output)


if __name__ == "__main__":
    unittest.main()
