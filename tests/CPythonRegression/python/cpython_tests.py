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


# What differs from one run to the next in a test's id (a parametrized test's
# repr of an object, a temporary file's name, support.TESTFN with the
# process id): replaced, so that the same test has the same id on both sides.
_RUN_SPECIFIC = [
    (re.compile(r"0x[0-9a-fA-F]+"), "0x?"),
    (re.compile(r"(?<=/)tmp[a-z0-9_]{8}(?![a-z0-9_])"), "tmp?"),
    (re.compile(r"@test_\d+_tmp"), "@test_?_tmp"),
]


def _stable_id(test, folder):
    text = test.id().replace(folder, "<cwd>")
    for pattern, replacement in _RUN_SPECIFIC:
        text = pattern.sub(replacement, text)
    return text


class _TestMainRun:
    """Runs an older-style module's test_main as regrtest before 3.11 does,
    the suites it hands to support.run_unittest collected here: each runs
    into a result of its own (support's runner would raise TestFailed at the
    first one with a failure and say nothing of what ran), and the doctests
    run_doctest runs are counted."""

    def __init__(self, support):
        self.support = support
        self.results = []
        self.doctests = []  # (module name, failed, tried)
        self.doctest_errors = []  # (module name, traceback)
        self._depth = 0

    def _run_suite(self, suite):
        result = unittest.TestResult()
        suite(result)  # as support.BasicTestRunner
        self.results.append(result)
        return result

    def _run_doctest(self, module, verbosity=None, optionflags=0):
        import doctest
        import traceback

        try:
            return doctest.testmod(module, verbose=self.support.verbose if verbosity is None else None,
                                   optionflags=optionflags)
        except Exception:
            # Reported; the rest of test_main runs, as it does where the
            # doctests could run.
            self.doctest_errors.append((getattr(module, "__name__", "?"), traceback.format_exc()))
            return doctest.TestResults(1, 0)

    def _counting_testmod(self, testmod):
        def counted(module=None, *args, **kwargs):
            # doctest's own tests call testmod inside the examples: only the
            # outermost call is a run of test_main's.
            self._depth += 1
            try:
                outcome = testmod(module, *args, **kwargs)
            finally:
                self._depth -= 1
            if self._depth == 0:
                name = getattr(module, "__name__", None) or "__main__"
                self.doctests.append((name, outcome[0], outcome[1]))
            return outcome
        return counted

    def __call__(self, test_main):
        import doctest

        support = self.support
        saved = support._run_suite, support.run_doctest, doctest.testmod
        # run_doctest is patched as well as testmod for the modules that
        # imported it by name before this ran, whose failing doctests still
        # end test_main with TestFailed.
        support._run_suite = self._run_suite
        support.run_doctest = self._run_doctest
        doctest.testmod = self._counting_testmod(doctest.testmod)
        try:
            test_main()
        finally:
            support._run_suite, support.run_doctest, doctest.testmod = saved


def _run_module(name):
    from test import support

    if _test_package_needs_environment():
        # The test package's own answer for "this interpreter needs its
        # environment": children keep PYTHONPATH, tests that need -I skip.
        from test.support import script_helper

        setattr(script_helper, "__cached_interp_requires_environment", True)
    support.use_resources = []
    support.verbose = 0
    folder = os.getcwd()
    started = time.monotonic()
    try:
        module = __import__("test." + name, fromlist=["*"])
    except unittest.SkipTest as skipped:
        return ["%s skipped-module reason=%s" % (name, skipped)]
    except Exception as error:
        return ["%s import-error %s: %s" % (name, type(error).__name__, error)]
    results = []
    doctests = []
    problems = []  # (kind, id, traceback) of what failed outside any test
    # Until 3.11 regrtest runs a module's test_main when it has one (3.11 and
    # later refuse such a module, and their support has no _run_suite).
    if callable(getattr(module, "test_main", None)) and hasattr(support, "_run_suite"):
        runner = _TestMainRun(support)
        try:
            runner(module.test_main)
        except unittest.SkipTest as skipped:
            if not runner.results and not runner.doctests:
                return ["%s skipped-module reason=%s" % (name, skipped)]
            problems.append(("SKIP", "test.%s.test_main" % name, "SkipTest: %s" % skipped))
        except Exception:
            import traceback

            failed_doctest = runner.doctests and runner.doctests[-1][1]
            if not (failed_doctest and isinstance(sys.exc_info()[1], support.TestFailed)):
                problems.append(("ERROR", "test.%s.test_main" % name, traceback.format_exc()))
        results = runner.results
        doctests = runner.doctests
        for module_name, traceback_text in runner.doctest_errors:
            problems.append(("ERROR", "doctest " + module_name, traceback_text))
    else:
        try:
            suite = unittest.defaultTestLoader.loadTestsFromModule(module)
        except Exception as error:
            return ["%s import-error %s: %s" % (name, type(error).__name__, error)]
        results.append(unittest.TestResult())
        suite.run(results[-1])
    if hasattr(support, "reap_children"):
        support.reap_children()
    gc.collect()

    failures = [(test, text) for result in results for test, text in result.failures]
    errors = [(test, text) for result in results for test, text in result.errors]
    unexpected = [test for result in results for test in result.unexpectedSuccesses]
    failed_doctests = [entry for entry in doctests if entry[1]]
    lines = [
        "%s run=%d failures=%d errors=%d skipped=%d doctests=%d seconds=%.0f"
        % (name, sum(result.testsRun for result in results),
           len(failures) + len(unexpected) + len(failed_doctests),
           len(errors) + sum(kind == "ERROR" for kind, _, _ in problems),
           sum(len(result.skipped) for result in results) + sum(kind == "SKIP" for kind, _, _ in problems),
           sum(entry[2] for entry in doctests), time.monotonic() - started)
    ]
    # The id, a tab, what went wrong: ids may hold colons and spaces.
    for kind, entries in (("FAIL", failures), ("ERROR", errors)):
        for test, traceback_text in entries:
            lines.append("  %s %s\t%s" % (kind, _stable_id(test, folder), _error_line(traceback_text)))
    for test in unexpected:
        lines.append("  FAIL %s\tunexpected success" % _stable_id(test, folder))
    for module_name, failed, tried in failed_doctests:
        lines.append("  FAIL doctest %s\t%d of %d doctests failed" % (module_name, failed, tried))
    for kind, test_id, traceback_text in problems:
        if kind != "SKIP":
            lines.append("  %s %s\t%s" % (kind, test_id, _error_line(traceback_text)))
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
