"""Python side of the plugin fuzzer: functions that Xojo code calls with
hostile values and that call back into host functions, print, raise and
keep values alive; values whose every protocol calls the host back while a
member uses them; exceptions whose classes have odd names."""
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
    # Buffers: scattered, of doubles, two-dimensional, a scalar, and a hooked exporter (3.12 on).
    lambda: memoryview(b"abcdef")[::2], lambda: __import__("array").array("d", [1.5, 2.5]),
    lambda: memoryview(bytearray(8)).cast("i", [2, 1]), lambda: memoryview(bytes(8)).cast("q", []),
    lambda: Hooked(4),
]

# Buffers that stay for the process: a bytearray that views keep from being resized.
buffers = [bytearray(b"fuzz buffer"), memoryview(b"abcdef")[::2]]

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


def _number(value, otherwise=0):
    try:
        return int(value)
    except Exception:
        return otherwise


def hook(*args):
    """Calls the host function that re-enters the member running on the host
    side (or drops what it was given, or does anything else: the fuzzer's
    input decides). None when the fuzzer's module cannot be imported."""
    try:
        import fuzzreentry
    except ImportError:
        return None
    return fuzzreentry.reenter(*args)


def reenter(*args):
    return hook(*args)


class Hooked:
    """Every protocol a member may use on a value calls the host back.
    mode: 1 lets the host's failure through, 2 raises an odd exception after
    the call, 4 answers with what the host returned."""

    def __init__(self, n=0, mode=0):
        self.n = _number(n)
        self.mode = _number(mode)

    def _back(self, *args):
        try:
            result = hook(self, *args)
        except Exception:
            if self.mode & 1:
                raise
            result = None
        if self.mode & 2:
            raise odd_error(self.n)
        return result

    def _answer(self, value, *args):
        result = self._back(*args)
        return result if self.mode & 4 else value

    def __lt__(self, other):
        return self._answer(self.n < (other.n if isinstance(other, Hooked) else 0), other)

    def __eq__(self, other):
        return self._answer(isinstance(other, Hooked) and self.n == other.n, other)

    def __hash__(self):
        return self._answer(self.n)

    def __index__(self):
        return self._answer(self.n)

    __int__ = __index__

    def __float__(self):
        return self._answer(float(self.n))

    def __bool__(self):
        return self._answer(bool(self.n & 1))

    def __len__(self):
        return self._answer(abs(self.n) % 5)

    def __str__(self):
        return self._answer("hooked%d" % self.n)

    def __repr__(self):
        return self._answer("Hooked(%d)" % self.n)

    def __buffer__(self, flags):
        return self._answer(memoryview(bytearray(b"hooked %d" % self.n)), flags)

    def __release_buffer__(self, view):
        self._back(view)

    def __getattr__(self, name):
        if name.startswith("__") or name in ("n", "mode"):
            raise AttributeError(name)
        return self._answer(self.n, name)

    def __del__(self):
        try:
            hook(self)
        except BaseException:
            pass


class Colliding(Hooked):
    """Equal to nothing but itself, all in one hash bucket: every lookup
    compares with each key, calling the host each time."""

    def __eq__(self, other):
        return self._answer(self is other, other)

    def __hash__(self):
        return self._answer(7)


def _hooked_values():
    return [
        lambda m: Hooked(1, m),
        lambda m: [Hooked(3, m), Hooked(1, m), Hooked(2, m)],
        lambda m: [Colliding(2, m), Hooked(5, m), Colliding(1, m), Hooked(0, m)],
        lambda m: {Hooked(1, m): Hooked(2, m), Hooked(1, m ^ 1): 3, Colliding(3, m): Hooked(4, m)},
        lambda m: {"a": Hooked(1, m), "b": [Hooked(2, m)], "c": Colliding(3, m)},
        lambda m: (Hooked(1, m), Colliding(2, m), "x"),
        lambda m: Colliding(7, m),
        lambda m: [[Hooked(2, m)], [Hooked(1, m)]],
        lambda m: {Colliding(i, m): i for i in range(4)},
        lambda m: Hooked(2 ** 70, m),
        lambda m: [Hooked(i, m) for i in range(12)],
        lambda m: odd_error(m),
    ]


HOOKED = _hooked_values()


def hooked(kind=0, mode=0, *args):
    return HOOKED[_number(kind) % len(HOOKED)](_number(mode))


# Values that stand for a type's __module__ or __qualname__, none a plain str.
class OddStr(str):
    def __eq__(self, other):
        hook(self)
        return str.__eq__(self, other)

    def __hash__(self):
        return str.__hash__(self)

    def __str__(self):
        hook(self)
        return "odd"


ODD_NAMES = [5, None, b"fuzzmod", "", "\udcff", "a\x00b", 2 ** 100, ("t",), OddStr("builtins"),
             OddStr("__main__"), Hooked(4), 1.5]


class OddMeta(type):
    """Answers the names an error reader looks up on a class from the class's
    `odd` (and `how`: 0 answers it, 1 raises, 2 calls the host first)."""

    def __getattribute__(cls, name):
        if name in ("__module__", "__qualname__", "__name__"):
            how = type.__getattribute__(cls, "how")
            if how == 1:
                raise RuntimeError("no " + name)
            if how == 2:
                hook(cls, name)
            return type.__getattribute__(cls, "odd")
        return type.__getattribute__(cls, name)


def _with_module(value, base=Exception):
    cls = type("OddModule", (base,), {})
    cls.__module__ = value
    return cls


def _with_meta(value, how=0, base=Exception):
    return OddMeta("OddMeta", (base,), {"odd": value, "how": how})


def _without_module():
    # A class made where no module name is known has no __module__ at all.
    space = {"__builtins__": {"type": type, "Exception": Exception}}
    exec("cls = type('Nameless', (Exception,), {})", space)
    return space["cls"]


class HookedStrError(Exception):
    def __str__(self):
        hook(self)
        raise ValueError("no text")


class NoTextError(Exception):
    def __str__(self):
        return 42


class HookedAttributesError(Exception):
    """Reading its cause, context or traceback calls the host."""

    def __getattribute__(self, name):
        if name in ("__cause__", "__context__", "__suppress_context__", "__traceback__", "args"):
            hook(self, name)
        return Exception.__getattribute__(self, name)


def _odd_classes():
    classes = [_with_module(value) for value in ODD_NAMES]
    classes += [_with_meta(value, how) for value in ODD_NAMES[:5] + [OddStr("x"), Hooked(3)] for how in (0, 2)]
    classes += [_with_meta("x", 1), _without_module(), _with_module(None, OSError), _with_module(7, KeyError),
                _with_meta(b"m", 0, UnicodeError), HookedStrError, NoTextError, HookedAttributesError]
    return classes


ODD_CLASSES = _odd_classes()


def odd_error(kind=0):
    kind = _number(kind)
    cls = ODD_CLASSES[kind % len(ODD_CLASSES)]
    error = cls("odd %d" % kind)
    if kind // len(ODD_CLASSES) % 2:
        # Chained to another odd one, as a raise inside an except block chains it.
        error.__context__ = ODD_CLASSES[(kind + 1) % len(ODD_CLASSES)]("context")
    return error


def odd(kind=0, *args):
    raise odd_error(kind)


def __getattr__(name):
    # Module attributes that do not exist call the host (Python 3.7 on).
    if name.startswith("__"):
        raise AttributeError(name)
    if name.startswith("hooked"):
        return Hooked(len(name))
    hook(name)
    raise AttributeError(name)


hooked_value = Hooked(3)
hooked_list = [Hooked(2), Hooked(1), Colliding(0)]
# Made without hashing a hooked key: importing calls nothing back.
hooked_dict = {"a": Hooked(1), "b": Colliding(3)}
