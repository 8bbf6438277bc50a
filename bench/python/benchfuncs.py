"""Functions the benchmark calls through the plugin, the C API and pybind11."""


def f0():
    return 0


def f1(a):
    return a


def f3(a, b, c):
    return a


def echo(text):
    return text


def say():
    print("a short line")


counter = 0
label = "0123456789abcdef"


def call_add(module_name, calls):
    """Calls add(1, 2) of the named module `calls` times; the last sum."""
    import importlib
    add = importlib.import_module(module_name).add
    total = 0
    for _ in range(calls):
        total = add(1, 2)
    return total


_parked = []


def park():
    """Starts a thread that waits until unpark: a thread state besides the caller's."""
    import threading
    event = threading.Event()
    thread = threading.Thread(target=event.wait, daemon=True)
    thread.start()
    _parked.append((event, thread))


def unpark():
    while _parked:
        event, thread = _parked.pop()
        event.set()
        thread.join()
