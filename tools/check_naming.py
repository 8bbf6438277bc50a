#!/usr/bin/env python3
"""Checks the names of Sources and GlueCode against the project's naming rule
(README.md, Layout) with clang-tidy's readability-identifier-naming check.

The rule is tools/naming_rule.yaml; the names that are not the project's to
choose are listed in tools/naming_fixed.txt. Every translation unit of Sources
and GlueCode in the build's compile_commands.json is checked, in parallel;
each finding is printed once (a header's appear in every unit that includes
it). Exits 1 on any finding, on a listed name that is no longer declared, or
when clang-tidy cannot read a unit.

Usage: check_naming.py [build dir] [--jobs N] [--fixed LIST] [--fix] [file ...]
  file ...  check only these units (of the build's database); used by
            check_naming_test.py
  --fixed   the list of names that are not the project's (default
            tools/naming_fixed.txt)
  --fix     rename what clang-tidy can (clang-apply-replacements) and review
            the result: names used inside macros and in calls that depend on a
            template's parameters are left as they are, and thread_local
            t… names are given a g wrongly
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
RULE = os.path.join(ROOT, "tools", "naming_rule.yaml")
FIXED = os.path.join(ROOT, "tools", "naming_fixed.txt")
CHECKED_FOLDERS = ("Sources", "GlueCode")
FINDING = re.compile(r"^(/[^:]+):(\d+):(\d+): (warning|error): (.*?)(?: \[([\w.-]+)\])?$")
# A namespace-scope variable named t + CamelCase is the rule's thread_local
# form; clang-tidy cannot tell thread_local apart, so the line is read here.
THREAD_LOCAL_NAME = re.compile(r"invalid case style for global (?:variable|pointer) '(t[A-Z][A-Za-z0-9]*)'")


def find_clang_tidy():
    for name in ("clang-tidy", "clang-tidy-14", "clang-tidy-15", "clang-tidy-16"):
        path = shutil.which(name)
        if path:
            return path
    sys.exit("check_naming: clang-tidy not found (scripts/setup.sh installs it)")


def read_fixed(path):
    """(kind -> [regex]), [(kind, name)] of exact names, the names marked pending."""
    patterns, exact, pending = {}, [], set()
    with open(path, encoding="utf-8") as listing:
        for number, line in enumerate(listing, 1):
            line = line.split("#", 1)[0].split()
            if not line:
                continue
            if len(line) not in (2, 3) or (len(line) == 3 and line[2] != "pending"):
                sys.exit(f"{path}:{number}: expected '<kind> <name> [pending]' or '<kind> /<regex>/'")
            kind, name = line[0], line[1]
            if name.startswith("/") and name.endswith("/") and len(name) > 2:
                regex = name[1:-1]
            else:
                regex = "^" + re.escape(name) + "$"
                exact.append((kind, name))
                if len(line) == 3:
                    pending.add(name)
            patterns.setdefault(kind, []).append(regex)
    return patterns, exact, pending


def write_config(patterns, directory):
    with open(RULE, encoding="utf-8") as rule:
        text = rule.read().rstrip("\n") + "\n"
    for kind, regexes in sorted(patterns.items()):
        # llvm::Regex is POSIX extended: plain groups.
        joined = "|".join("(%s)" % regex for regex in regexes).replace("'", "''")
        text += f"  - {{ key: readability-identifier-naming.{kind}IgnoredRegexp, value: '{joined}' }}\n"
    path = os.path.join(directory, "naming.clang-tidy")
    with open(path, "w", encoding="utf-8") as config:
        config.write(text)
    return path


def units(build_dir, chosen):
    with open(os.path.join(build_dir, "compile_commands.json"), encoding="utf-8") as database:
        files = {os.path.realpath(entry["file"]) for entry in json.load(database)}
    if chosen:
        wanted = {os.path.realpath(path) for path in chosen}
        missing = wanted - files
        if missing:
            sys.exit("check_naming: not in compile_commands.json: " + ", ".join(sorted(missing)))
        return sorted(wanted)
    prefixes = tuple(os.path.join(ROOT, folder) + os.sep for folder in CHECKED_FOLDERS)
    return sorted(path for path in files if path.startswith(prefixes))


def run_one(clang_tidy, build_dir, config, path, fixes):
    header_filter = "^" + re.escape(ROOT) + "/(" + "|".join(CHECKED_FOLDERS) + ")/"
    command = [clang_tidy, "-p", build_dir, "--config-file=" + config, "--header-filter=" + header_filter,
               "--quiet", "--extra-arg=-Wno-ignored-optimization-argument", "--extra-arg=-Wno-unknown-warning-option"]
    if fixes:
        command.append("--export-fixes=" + os.path.join(fixes, hashlib.sha1(path.encode()).hexdigest() + ".yaml"))
    command.append(path)
    run = subprocess.run(command, capture_output=True, text=True)
    return path, run.returncode, run.stdout, run.stderr


def is_thread_local(path, line, message):
    if not THREAD_LOCAL_NAME.search(message):
        return False
    try:
        with open(path, encoding="utf-8") as source:
            declaration = source.read().splitlines()[line - 1]
            return "thread_local" in declaration or "__thread" in declaration
    except (OSError, IndexError):
        return False


def declared_names():
    words = set()
    for folder in CHECKED_FOLDERS:
        for directory, _, files in os.walk(os.path.join(ROOT, folder)):
            for name in files:
                if name.endswith((".h", ".cpp", ".c", ".def")):
                    with open(os.path.join(directory, name), encoding="utf-8", errors="replace") as source:
                        words.update(re.findall(r"[A-Za-z_][A-Za-z0-9_]*", source.read()))
    return words


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir", nargs="?", default=os.path.join(ROOT, "build"))
    parser.add_argument("files", nargs="*")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--fixed", default=FIXED)
    parser.add_argument("--fix", action="store_true")
    arguments = parser.parse_args()
    build_dir = os.path.abspath(arguments.build_dir)
    if not os.path.exists(os.path.join(build_dir, "compile_commands.json")):
        sys.exit(f"check_naming: {build_dir}/compile_commands.json missing: configure the build first")

    started = time.monotonic()
    clang_tidy = find_clang_tidy()
    patterns, exact, pending = read_fixed(arguments.fixed)
    problems = []
    with tempfile.TemporaryDirectory(prefix="check_naming_") as scratch:
        config = write_config(patterns, scratch)
        paths = units(build_dir, arguments.files)
        findings = {}
        # Fixes are collected per unit and applied once at the end, so that a
        # header's rename is applied once for all the units that include it.
        fixes = os.path.join(scratch, "fixes") if arguments.fix else None
        if fixes:
            os.mkdir(fixes)
        jobs = max(1, arguments.jobs)
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            for path, code, output, errors in pool.map(
                    lambda path: run_one(clang_tidy, build_dir, config, path, fixes), paths):
                reported = False
                for line in output.splitlines():
                    match = FINDING.match(line)
                    if not match:
                        continue
                    file, row, column, severity, message, check = match.groups()
                    if severity == "warning" and check != "readability-identifier-naming":
                        continue
                    if is_thread_local(file, int(row), message):
                        continue
                    findings[(os.path.relpath(file, ROOT), int(row), int(column))] = f"{severity}: {message}"
                    reported = True
                if code != 0 and not reported:
                    problems.append(f"{os.path.relpath(path, ROOT)}: clang-tidy failed ({code}): "
                                    + (errors.strip().splitlines() or ["no message"])[-1])

        if fixes:
            apply = shutil.which("clang-apply-replacements") or shutil.which("clang-apply-replacements-14")
            subprocess.run([apply, fixes], check=True)

    for (file, row, column), message in sorted(findings.items()):
        problems.append(f"{file}:{row}:{column}: {message}")
    words = declared_names()
    for kind, name in exact:
        if name not in words and name not in pending:
            problems.append(f"{os.path.basename(arguments.fixed)} lists {kind} {name}, "
                            "which the sources no longer declare")
    for problem in problems:
        print(problem)
    elapsed = time.monotonic() - started
    print(f"check_naming: {len(paths)} units, {jobs} at a time, {elapsed:.0f} s: "
          + (f"{len(problems)} problem(s)" if problems else "every name follows the rule"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
