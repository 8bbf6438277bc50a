#!/usr/bin/env python3
"""Plants violations in a temporary copy of the sources and sees
check_layers.py report each of them, and nothing in the untouched copy.

Usage: check_layers_test.py [repository root]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
CHECK = os.path.join(ROOT, "tools", "check_layers.py")


class CheckLayersTest(unittest.TestCase):
    def setUp(self):
        self.copy = tempfile.mkdtemp(prefix="check_layers_")
        for folder in ("Sources", "GlueCode/PluginMain"):
            shutil.copytree(os.path.join(ROOT, folder), os.path.join(self.copy, folder))

    def tearDown(self):
        shutil.rmtree(self.copy)

    def append(self, path, text):
        with open(os.path.join(self.copy, path), "a", encoding="utf-8") as source:
            source.write(text)

    def check(self):
        run = subprocess.run([sys.executable, CHECK, self.copy], capture_output=True, text=True)
        return run.returncode, run.stdout

    def assertReported(self, line):
        code, output = self.check()
        self.assertEqual(code, 1, output)
        self.assertIn(line, output)

    def test_untouched_copy_passes(self):
        code, output = self.check()
        self.assertEqual(code, 0, output)

    def test_function_defined_above_its_header(self):
        self.append("Sources/PythonValues/PythonReferences.h", "\nvoid PlantedFunction();\n")
        self.append("Sources/PythonList/PythonList.cpp", "\nvoid PlantedFunction() {}\n")
        self.assertReported("Sources/PythonList/PythonList.cpp defines PlantedFunction, "
                            "declared in Sources/PythonValues/PythonReferences.h")

    def test_member_defined_above_its_class(self):
        self.append("Sources/PythonEngine/PythonErrors.cpp",
                    "\nnamespace planted {\nbool ReferenceFieldTable::Grow() noexcept { return false; }\n}\n")
        self.assertReported("Sources/PythonEngine/PythonErrors.cpp defines ReferenceFieldTable::Grow, "
                            "declared in Sources/PythonValues/ReferenceFieldTable.h")

    def test_definition_in_an_anonymous_namespace_is_its_own(self):
        self.append("Sources/PythonValues/PythonReferences.h", "\nvoid PlantedFunction();\n")
        self.append("Sources/PythonList/PythonList.cpp", "\nnamespace {\nvoid PlantedFunction() {}\n}\n")
        code, output = self.check()
        self.assertEqual(code, 0, output)

    def test_include_up_a_floor(self):
        self.append("Sources/PythonEntity/PythonEntity.h", '\n#include "PythonList/PythonList.h"\n')
        self.assertReported("Sources/PythonEntity/PythonEntity.h (floor 2) includes "
                            "Sources/PythonList/PythonList.h (floor 3)")

    def test_include_up_a_layer(self):
        self.append("Sources/PythonValues/PythonWrappers.cpp", '\n#include "Registration/ClassRecords.h"\n')
        self.assertReported("Sources/PythonValues/PythonWrappers.cpp (values and ownership) includes "
                            "Sources/Registration/ClassRecords.h (class records)")

    def test_folder_without_a_floor(self):
        os.mkdir(os.path.join(self.copy, "Sources/PlantedFolder"))
        self.append("Sources/PlantedFolder/Planted.cpp", '#include "PythonList/PythonList.h"\n')
        self.assertReported("Sources/PlantedFolder has no floor in CLASS_FLOORS")


if __name__ == "__main__":
    unittest.main()
