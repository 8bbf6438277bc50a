"""Runs modules of CPython's own regression tests (the library's `test`
package) with unittest and reports what ran, one line per module and one per
failing test. The same file runs inside the interpreter the plugin started
(imported by the host program) and as a script of the standalone interpreter
of the same version, so that the two reports compare line by line.

Set up as regrtest sets up a run without options: no optional resources
(network, cpu, ...), not verbose, each module in a fresh working folder."""
import faulthandler
import gc
import os
import re
import shutil
import sys
import tempfile
import time
import unittest

# A module still running after this many seconds has its threads' stacks
# dumped on standard error (whoever runs it ends it).
MODULE_TIMEOUT = 540


def _error_line(traceback_text):
    """The line that names the exception, or the last line."""
    lines = [line.strip() for line in traceback_text.strip().splitlines() if line.strip()]
    for line in reversed(lines):
        if re.match(r"[A-Za-z_][\w.]*(Error|Exception|Exit|Warning|Interrupt)\b", line):
            return line[:200]
    return lines[-1][:200] if lines else ""


def _test_package_needs_environment():
    """True when the `test` package was found through PYTHONPATH (Debian ships
    its test modules apart from the library). Child interpreters the tests
    start in isolated mode (-I) would not find them there, and a test whose
    child imports its own module then waits forever."""
    import test

    folder = os.path.dirname(os.path.dirname(os.path.abspath(test.__file__)))
    entries = os.environ.get("PYTHONPATH", "").split(os.pathsep)
    return any(entry and os.path.abspath(entry) == folder for entry in entries)


def _run_module(name):
    from test import support

    if _test_package_needs_environment():
        # The test package's own answer for "this interpreter needs its
        # environment": children keep PYTHONPATH, tests that need -I skip.
        from test.support import script_helper

        setattr(script_helper, "__cached_interp_requires_environment", True)
    support.use_resources = []
    support.verbose = 0
    started = time.monotonic()
    try:
        module = __import__("test." + name, fromlist=["*"])
        suite = unittest.defaultTestLoader.loadTestsFromModule(module)
    except unittest.SkipTest as skipped:
        return ["%s skipped-module reason=%s" % (name, skipped)]
    except Exception as error:
        return ["%s import-error %s: %s" % (name, type(error).__name__, error)]
    result = unittest.TestResult()
    suite.run(result)
    if hasattr(support, "reap_children"):
        support.reap_children()
    gc.collect()
    lines = [
        "%s run=%d failures=%d errors=%d skipped=%d seconds=%.0f"
        % (name, result.testsRun, len(result.failures) + len(result.unexpectedSuccesses),
           len(result.errors), len(result.skipped), time.monotonic() - started)
    ]
    for kind, entries in (("FAIL", result.failures), ("ERROR", result.errors)):
        for test, traceback_text in entries:
            lines.append("  %s %s: %s" % (kind, test.id(), _error_line(traceback_text)))
    for test in result.unexpectedSuccesses:
        lines.append("  FAIL %s: unexpected success" % test.id())
    return lines


def run(names):
    """Runs the test modules named, separated by spaces or commas; returns the
    report as text."""
    report = ["# Python %s, sys.executable %r, sys.argv %r"
              % (sys.version.split()[0], sys.executable, getattr(sys, "argv", None))]
    home = os.getcwd()
    for name in names.replace(",", " ").split():
        folder = tempfile.mkdtemp(prefix="cpython-tests-")
        faulthandler.dump_traceback_later(MODULE_TIMEOUT, file=sys.__stderr__)
        try:
            os.chdir(folder)
            report.extend(_run_module(name))
        finally:
            faulthandler.cancel_dump_traceback_later()
            os.chdir(home)
            shutil.rmtree(folder, ignore_errors=True)
    return "\n".join(report) + "\n"


if __name__ == "__main__":
    # Standard output carries the report alone: what the tests and their
    # children print goes to standard error, as inside the plugin.
    sys.stdout.flush()
    report = os.fdopen(os.dup(1), "w")
    os.dup2(2, 1)
    text = run(" ".join(sys.argv[1:]))
    sys.stdout.flush()
    report.write(text)
    report.close()
