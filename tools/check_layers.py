#!/usr/bin/env python3
"""Checks that the plugin's includes run one way, from the class folders down
to the Python library, and that no files include each other in a circle.

Layers, lowest first: the host glue (GlueCode/PluginMain), the Python library
(Sources/PythonLibrary), the running interpreter (Sources/PythonRuntime),
values and ownership (Sources/PythonValues), the class records
(Sources/Registration), the class folders (every other folder of Sources), and
the plugin's entry (Sources/Plugin). A file may include files of its own
layer or of a lower one. Prints each violation and exits 1 when there is one.

Usage: check_layers.py [repository root]
"""
import os
import re
import sys

LAYERS = [
    ("host glue", ["GlueCode/PluginMain"]),
    ("Python library", ["Sources/PythonLibrary"]),
    ("running interpreter", ["Sources/PythonRuntime"]),
    ("values and ownership", ["Sources/PythonValues"]),
    ("class records", ["Sources/Registration"]),
    ("class folders", ["Sources"]),  # every folder of Sources not named above
    ("plugin entry", ["Sources/Plugin"]),
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def layer_of(path):
    best, best_length = None, -1
    for index, (_, folders) in enumerate(LAYERS):
        for folder in folders:
            if (path + "/").startswith(folder + "/") and len(folder) > best_length:
                best, best_length = index, len(folder)
    return best


def resolve(root, including, name):
    for base in (os.path.dirname(including), "Sources", "GlueCode/PluginMain"):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    files = []
    for top in ("Sources", "GlueCode/PluginMain"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".h", ".cpp", ".def")):
                    files.append(os.path.relpath(os.path.join(folder, name), root))
    graph = {}
    problems = []
    for path in sorted(files):
        with open(os.path.join(root, path), encoding="utf-8") as source:
            text = source.read()
        graph[path] = []
        for name in INCLUDE.findall(text):
            target = resolve(root, path, name)
            if target is None:
                continue
            graph[path].append(target)
            if layer_of(target) > layer_of(path):
                problems.append("%s (%s) includes %s (%s)" % (
                    path, LAYERS[layer_of(path)][0], target, LAYERS[layer_of(target)][0]))

    # Circles between files, and between class folders.
    def circles(edges):
        found, state, stack = [], {}, []

        def visit(node):
            state[node] = 1
            stack.append(node)
            for nxt in edges.get(node, ()):
                if state.get(nxt) == 1:
                    found.append(stack[stack.index(nxt):] + [nxt])
                elif nxt not in state:
                    visit(nxt)
            stack.pop()
            state[node] = 2

        for node in sorted(edges):
            if node not in state:
                visit(node)
        return found

    for circle in circles(graph):
        problems.append("files include each other: " + " -> ".join(circle))
    folders = {}
    for path, targets in graph.items():
        if LAYERS[layer_of(path)][0] != "class folders":
            continue
        for target in targets:
            if LAYERS[layer_of(target)][0] == "class folders" and os.path.dirname(target) != os.path.dirname(path):
                folders.setdefault(os.path.dirname(path), set()).add(os.path.dirname(target))
    for circle in circles(folders):
        problems.append("folders include each other: " + " -> ".join(circle))

    for problem in problems:
        print(problem)
    print("%d files, %d includes, %d problems" % (len(graph), sum(len(t) for t in graph.values()), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
