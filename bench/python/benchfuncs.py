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
