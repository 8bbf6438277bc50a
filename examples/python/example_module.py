"""Functions the example application calls from its host code."""

import sys


def greet(name):
    print("Hello, %s, from Python %d.%d!" % (name, sys.version_info[0], sys.version_info[1]))
    return "greeted " + name


def add(a, b):
    return a + b


def describe(text, count, flag):
    return "%r repeated %d times is %r (flag %s)" % (text, count, text * count, flag)


def stats(values):
    return (min(values), max(values), sum(values) / len(values))


def fail(message):
    raise ValueError(message)
