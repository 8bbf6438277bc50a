"""Python side of the plugin fuzzer: functions that Xojo code calls with
hostile values and that call back into host functions, print, raise and
keep values alive."""
import sys

kept = []


class Thing:
    value = 1

    def __init__(self, *args):
        self.args = args

    def method(self, *args):
        return args

    def __repr__(self):
        return "Thing%r" % (self.args,)


class Bad:
    """Fails every protocol the plugin may use on a value."""

    def _fail(self, *args):
        raise ValueError("bad")

    __str__ = __repr__ = __hash__ = __eq__ = __lt__ = __len__ = __iter__ = _fail
    __index__ = __int__ = __float__ = __bool__ = __getitem__ = __contains__ = _fail
    __getattr__ = _fail


class BadText(str):
    def __str__(self):
        return 42


VALUES = [
    lambda: None, lambda: (), lambda: (1, "a", None), lambda: [1, [2], {}], lambda: {"a": 1, 2: b"x"},
    lambda: b"\x00\xff", lambda: bytearray(b"ab"), lambda: "\udcff lone surrogate", lambda: "\x00nul",
    lambda: 2 ** 200, lambda: -2 ** 63, lambda: 2 ** 64 - 1, lambda: float("nan"), lambda: float("inf"),
    lambda: True, lambda: Thing(1), lambda: Bad(), lambda: BadText("x"), lambda: {1, 2},
    lambda: (i for i in range(3)), lambda: Thing, lambda: sys, lambda: print, lambda: kept,
    lambda: {Bad: 1}, lambda: [Bad()], lambda: (Bad(),), lambda: 1.5, lambda: "text",
]

ERRORS = [ValueError("v"), TypeError(), KeyError(Bad()), RuntimeError("\udcff"), SystemExit(3),
          KeyboardInterrupt(), StopIteration(1), RecursionError(), MemoryError(), ValueError(Bad()),
          OSError(2, "no such"), UnicodeDecodeError("utf-8", b"\xff", 0, 1, "bad")]


def echo(*args):
    return args[0] if args else None


def args(*args):
    return args


def say(*args):
    print(*args)
    return len(args)


def shout(*args):
    sys.stdout.write("".join(map(repr, args)))
    sys.stdout.flush()


def make(kind=0, *args):
    return VALUES[int(kind) % len(VALUES)]()


def fail(kind=0, *args):
    raise ERRORS[int(kind) % len(ERRORS)]


def keep(*args):
    kept.extend(args)
    return len(kept)


def drop(*args):
    kept.clear()


def call(function=None, *args):
    return function(*args)


def host(module="fuzzhost0", name="f0", *args):
    """Calls a function of a host module, or creates an instance of a host class
    and uses its slots (initializer, str, hash, properties, methods)."""
    target = getattr(__import__(str(module)), str(name))
    result = target(*args)
    if isinstance(target, type):
        for use in (str, hash, repr, dir):
            try:
                use(result)
            except Exception:
                pass
        for attribute in dir(target):
            if not attribute.startswith("__"):
                try:
                    value = getattr(result, attribute)
                    setattr(result, attribute, value if not callable(value) else value(*args))
                    delattr(result, attribute)
                except Exception:
                    pass
    return result


def loop(count=3, *args):
    for i in range(min(int(count), 50)):
        print(i, *args)
    return count
