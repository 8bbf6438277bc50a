"""What the plugin's tests ask of Python: run code, evaluate expressions and
report what Python itself sees (types, reference counts, raised exceptions).

Only modules that survive an interpreter restart are imported here."""
import builtins
import sys

# Modules written by the tests are rewritten and reloaded within one second.
sys.dont_write_bytecode = True

number = 42
made = 0


def run(code):
    exec(code, globals())


def evaluate(expression):
    return eval(expression, globals())


def echo(*arguments):
    return arguments


def type_names(*arguments):
    return ",".join(type(argument).__name__ for argument in arguments)


def kinds(items):
    return ",".join("%s:%r" % (type(item).__name__, item) for item in items)


def count(*arguments):
    return len(arguments)


def fail(kind, message):
    raise getattr(builtins, kind)(message)


def lookup_missing_key():
    return {}["k"]


def say(text):
    print(text)


class Made:
    """Counts its instances, so a test can see that a call created one."""

    def __init__(self):
        global made
        made += 1


class Unprintable(Exception):
    def __str__(self):
        raise RuntimeError("no text for this exception")


class NoTruth:
    def __bool__(self):
        raise ValueError("no truth value")


class IntSub(int):
    pass


class StrSub(str):
    pass


class FloatSub(float):
    pass


class TupleSub(tuple):
    pass


class ListSub(list):
    pass


class DictSub(dict):
    pass


class BytesSub(bytes):
    pass


class Unhashable:
    __hash__ = None


class Clashing:
    """Equal hashes whose comparison raises: a dict cannot take two of them."""

    def __hash__(self):
        return 1

    def __eq__(self, other):
        raise ValueError("no comparison")
class Convertible:
    """Converts to numbers and truth only by running Python code."""

    def __index__(self):
        return 7

    def __int__(self):
        return 7

    def __float__(self):
        return 2.5

    def __bool__(self):
        return True


class Unencodable:
    """Its text holds a lone surrogate, which UTF-8 cannot carry."""

    def __repr__(self):
        return "bad \udc80 value"


def square(number):
    """A worker for child processes, importable from this module: the
    square, and the process that computed it."""
    import os
    return number * number, os.getpid()
