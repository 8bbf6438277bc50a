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


printing_cpu = 0.0


def print_lines(count):
    """A thread's work: `count` short lines printed to sys.stdout; the seconds
    its loop took (its CPU time in printing_cpu)."""
    global printing_cpu
    import time
    start = time.perf_counter()
    cpu = time.thread_time()
    for i in range(count):
        print(i)
    printing_cpu = time.thread_time() - cpu
    return time.perf_counter() - start


_printing = []


def start_printing(count, standalone):
    """Starts a thread running print_lines(count). With `standalone`, sys.stdout
    is a text file on /dev/null until join_printing, as standalone Python has it
    with its output thrown away."""
    import os
    import sys
    import threading
    seconds = []
    saved = stream = None
    if standalone:
        saved, stream = sys.stdout, open(os.devnull, 'w')
        sys.stdout = stream
    thread = threading.Thread(target=lambda: seconds.append(print_lines(count)))
    thread.start()
    _printing.append((thread, seconds, saved, stream))


def join_printing():
    """Waits for the thread of start_printing; the seconds its loop took."""
    import sys
    thread, seconds, saved, stream = _printing.pop()
    thread.join()
    if stream is not None:
        sys.stdout = saved
        stream.close()
    return seconds[0]


def busy(seconds):
    """Pure Python for about `seconds`: a task that keeps the interpreter lock busy."""
    import time
    end = time.perf_counter() + seconds
    total = 0
    while time.perf_counter() < end:
        for number in range(100):
            total += number
    return total


def nap(seconds):
    """Waits without the interpreter lock, as I/O does."""
    import time
    time.sleep(seconds)
    return seconds
