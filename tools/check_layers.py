#!/usr/bin/env python3
"""Checks that the plugin's layers hold, for includes and for definitions.

Layers, lowest first: the host glue (GlueCode/PluginMain), the Python library
(Sources/PythonLibrary), the running interpreter (Sources/PythonRuntime),
values and ownership (Sources/PythonValues), the class records
(Sources/Registration), the class folders (every other folder of Sources), and
the plugin's entry (Sources/Plugin). A file may include files of its own
layer or of a lower one, and no files include each other in a circle.

The class folders stand on floors of their own (CLASS_FLOORS): a class folder
includes only folders on a lower floor; a folder missing from the list is
reported, so that a new one is given its floor.

Every out-of-line definition of a source file (a function, a member function,
a variable of namespace scope) sits in the folder of the header that declares
it, so that a body never ties a lower folder to a higher one. The exceptions
are named in DEFINED_ABOVE, with their reasons.

Prints each violation and exits 1 when there is one.

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
# The class folders, lowest floor first: each includes only folders of the
# floors below it.
CLASS_FLOORS = [
    ["Sources/EntryPoints", "Sources/PythonErrorTypes", "Sources/PythonFields", "Sources/PythonFunction",
     "Sources/PythonObject", "Sources/PythonTask"],
    ["Sources/Exceptions", "Sources/PythonInstance"],
    ["Sources/HostCode", "Sources/PythonClass", "Sources/PythonEntity"],
    ["Sources/PythonBytes", "Sources/PythonDictionary", "Sources/PythonList", "Sources/PythonModuleUnit",
     "Sources/PythonParameters", "Sources/PythonResult", "Sources/PythonXojoClass"],
    ["Sources/PythonXojoModule"],
    ["Sources/PythonEngine"],
]

# Headers whose declarations may be defined in a higher folder, and why.
DEFINED_ABOVE = {
    # The glue's REALPluginMain calls the plugin's registration by name.
    "GlueCode/PluginMain/HostGlue.h": ["PluginEntry"],
    # Every registered record is defined with its members in its class folder;
    # the wrappers name the class they make, and the entry registers them all.
    "Sources/PythonValues/RegisteredRecords.h": None,  # every name it declares
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)

# Reading C++ well enough to find the declarations and definitions of
# namespace scope: comments, texts and preprocessor lines are blanked out,
# then braces are matched.
COMMENT_OR_STRING = re.compile(r'//[^\n]*|/\*.*?\*/|R"(\w*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.DOTALL)
PREPROCESSOR = re.compile(r'^\s*#(?:[^\n]*\\\n)*[^\n]*', re.MULTILINE)
NAME_BEFORE_PAREN = re.compile(r'((?:\w+\s*::\s*)*~?\w+)\s*$')


def clean(text):
    text = COMMENT_OR_STRING.sub(lambda m: '""' if m.group(0).startswith(('"', 'R"')) else ' ', text)
    return PREPROCESSOR.sub(' ', text)


def top_level(text):
    """The statements at namespace scope (named namespaces and extern "C"
    blocks are looked through; anonymous namespaces are skipped), each as
    (head, has_body): the text before its body or its semicolon."""
    out, i, n = [], 0, len(text)
    depth_stack = []  # per open namespace brace: 'open' (looked through) or 'skip' (anonymous)
    skip_depth = 0  # 1 inside an anonymous namespace
    head_start = 0
    while i < n:
        c = text[i]
        if c == '{':
            head = text[head_start:i]
            opener = re.search(r'(namespace\s*(\w*)\s*|extern\s*""\s*)$', head)
            if skip_depth == 0 and opener and not re.search(r'[;()=]', head[:opener.start()].strip() or ''):
                anonymous = opener.group(0).startswith('namespace') and not opener.group(2)
                if anonymous:
                    skip_depth = 1
                    depth_stack.append('skip')
                else:
                    depth_stack.append('open')
                head_start = i + 1
                i += 1
                continue
            # a body: find its end
            level, j = 0, i
            while j < n:
                if text[j] == '{': level += 1
                elif text[j] == '}':
                    level -= 1
                    if level == 0: break
                j += 1
            if skip_depth == 0:
                out.append((head.strip(), True))
            # a braced initializer's semicolon follows as an empty statement
            k = j + 1
            head_start = k
            i = k
            continue
        if c == '}':
            kind = depth_stack.pop() if depth_stack else None
            if kind == 'skip': skip_depth = 0
            head_start = i + 1
        elif c == ';':
            if skip_depth == 0:
                out.append((text[head_start:i].strip(), False))
            head_start = i + 1
        i += 1
    return out


TEMPLATE = re.compile(r'^template\s*<')


def strip_template(head):
    while TEMPLATE.match(head):
        depth, i = 0, head.index('<')
        while i < len(head):
            if head[i] == '<': depth += 1
            elif head[i] == '>':
                depth -= 1
                if depth == 0: break
            i += 1
        head = head[i + 1:].strip()
    return head


def name_before_paren(head):
    match = NAME_BEFORE_PAREN.search(head[:head.index('(')])
    return re.sub(r'\s+', '', match.group(1)) if match else None


def names(path, text):
    """(declared, defined): what a header declares (functions, extern
    variables, types) and what a source file defines out of line."""
    declared, defined = set(), set()
    for head, has_body in top_level(clean(text)):
        head = strip_template(' '.join(head.split()))
        if not head or re.match(r'(using|typedef|static_assert|friend)\b', head):
            continue
        kind = re.match(r'(?:class|struct|union|enum(?:\s+class)?)\s+(?:\[\[[^\]]*\]\]\s*)?(\w+)', head)
        if kind:
            declared.add(kind.group(1))
            continue
        internal = re.match(r'(static|constexpr|inline|const)\b', head) or re.search(r'\bconst\s+\w+\s*(=|$)', head)
        before_assign = head.split('=')[0]
        if '(' in before_assign:
            name = name_before_paren(before_assign)
            if not name: continue
            if has_body and path.endswith('.cpp') and not internal:
                defined.add(name)
            elif not has_body and path.endswith('.h'):
                declared.add(name)
        else:
            match = re.search(r'(\w+)\s*(?:\[[^\]]*\])?\s*$', before_assign)
            if not match: continue
            if head.startswith('extern'):
                if path.endswith('.h'): declared.add(match.group(1))
            elif path.endswith('.cpp') and not internal:
                defined.add(match.group(1))
    return declared, defined


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


def floor_of(folder):
    for index, folders in enumerate(CLASS_FLOORS):
        if folder in folders:
            return index
    return None


def source_files(root):
    files = []
    for top in ("Sources", "GlueCode/PluginMain"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".h", ".cpp", ".def")):
                    files.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(files)


def include_problems(root, texts):
    graph, problems = {}, []
    for path, text in texts.items():
        graph[path] = []
        for name in INCLUDE.findall(text):
            target = resolve(root, path, name)
            if target is None:
                continue
            graph[path].append(target)
            if layer_of(target) > layer_of(path):
                problems.append("%s (%s) includes %s (%s)" % (
                    path, LAYERS[layer_of(path)][0], target, LAYERS[layer_of(target)][0]))

    # Circles between files.
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

    # The floors of the class folders.
    unlisted = set()
    for path, targets in sorted(graph.items()):
        if LAYERS[layer_of(path)][0] != "class folders":
            continue
        folder = os.path.dirname(path)
        if floor_of(folder) is None:
            unlisted.add(folder)
            continue
        for target in targets:
            other = os.path.dirname(target)
            if LAYERS[layer_of(target)][0] != "class folders" or other == folder or floor_of(other) is None:
                continue
            if floor_of(other) >= floor_of(folder):
                problems.append("%s (floor %d) includes %s (floor %d)" % (
                    path, floor_of(folder), target, floor_of(other)))
    for folder in sorted(unlisted):
        problems.append("%s has no floor in CLASS_FLOORS" % folder)
    return graph, problems


def definition_problems(texts):
    declarers, defined = {}, {}
    for path, text in texts.items():
        if path.endswith(".def"):
            continue
        declared, definitions = names(path, text)
        for name in declared:
            declarers.setdefault(name, set()).add(path)
        defined[path] = definitions
    problems = []
    for path in sorted(defined):
        for name in sorted(defined[path]):
            parts = name.split("::")
            # A member is declared by its class; a namespace's function by its own name.
            key = parts[0] if len(parts) > 1 and parts[0] in declarers else parts[-1]
            headers = declarers.get(key, set())
            if not headers or any(os.path.dirname(header) == os.path.dirname(path) for header in headers):
                continue
            if any(header in DEFINED_ABOVE and (DEFINED_ABOVE[header] is None or key in DEFINED_ABOVE[header])
                   for header in headers):
                continue
            problems.append("%s defines %s, declared in %s" % (path, name, ", ".join(sorted(headers))))
    return sum(len(names) for names in defined.values()), problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    texts = {}
    for path in source_files(root):
        with open(os.path.join(root, path), encoding="utf-8") as source:
            texts[path] = source.read()
    graph, problems = include_problems(root, texts)
    definitions, more = definition_problems(texts)
    problems += more
    for problem in problems:
        print(problem)
    print("%d files, %d includes, %d definitions, %d problems" % (
        len(graph), sum(len(t) for t in graph.values()), definitions, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
