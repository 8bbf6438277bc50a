# Python's standard streams inside the application. Embedded in the plugin at
# build time and run at every start of the interpreter in the namespace of the
# plugin's module `aview`, which gives write(stream, text) and flush(stream)
# (stream 0 is standard output, 1 standard error) and each stream's own
# write_stdout, write_stderr, flush_stdout and flush_stderr.
#
# Standard output and error become text files whose writes reach the
# application's Python3EngineConsoleOutput; standard input is one at its end,
# since an application has no terminal.
import io as _io
import sys as _sys
import builtins as _builtins
import codecs as _codecs

_deliver = write
_flush = flush


class ConsoleBytes(_io.RawIOBase):
    """The binary side of a console stream: UTF-8 bytes, decoded as they come."""

    def __init__(self, stream):
        self._stream = stream
        self._decoder = _codecs.getincrementaldecoder('utf-8')('backslashreplace')

    def writable(self):
        return True

    def write(self, data):
        if self.closed:
            raise ValueError('I/O operation on closed file.')
        data = memoryview(data).cast('B')
        _deliver(self._stream, self._decoder.decode(data.tobytes()))
        return len(data)


class ConsoleStream(_io.TextIOBase):
    """Python's standard output or error, delivered to the application's
    Python3EngineConsoleOutput."""

    def __init__(self, stream, name):
        self._stream = stream
        self._name = name
        self._buffer = ConsoleBytes(stream)
        # Until close(), write and flush go straight to the application, with
        # no Python frame per print.
        self.write = (write_stdout, write_stderr)[stream]
        self.flush = (flush_stdout, flush_stderr)[stream]

    def close(self):
        self.__dict__.pop('write', None)
        self.__dict__.pop('flush', None)
        super().close()

    name = property(lambda self: self._name)
    buffer = property(lambda self: self._buffer)
    encoding = property(lambda self: 'utf-8')
    errors = property(lambda self: 'backslashreplace')
    line_buffering = property(lambda self: False)
    newlines = property(lambda self: None)

    def readable(self):
        return False

    def writable(self):
        return True

    def seekable(self):
        return False

    def isatty(self):
        return False

    def fileno(self):
        raise _io.UnsupportedOperation('fileno')

    def write(self, text):
        if self.closed:
            raise ValueError('I/O operation on closed file.')
        return _deliver(self._stream, text)

    def flush(self):
        if self.closed:
            raise ValueError('I/O operation on closed file.')
        _flush(self._stream)


class NoBytes(_io.RawIOBase):
    """The binary side of standard input: at its end too."""

    name = property(lambda self: '<stdin>')

    def readable(self):
        return True

    def readinto(self, buffer):
        return 0


class NoInput(_io.TextIOBase):
    """The application's standard input: always at its end."""

    def __init__(self):
        self._buffer = _io.BufferedReader(NoBytes())

    name = property(lambda self: '<stdin>')
    buffer = property(lambda self: self._buffer)
    encoding = property(lambda self: 'utf-8')
    errors = property(lambda self: 'strict')

    def readable(self):
        return True

    def isatty(self):
        return False

    def fileno(self):
        raise _io.UnsupportedOperation('fileno')

    def read(self, size=-1):
        return ''

    def readline(self, size=-1):
        return ''


_no_input = NoInput()
_builtin_input = _builtins.input


def input(prompt=''):
    if _sys.stdin is _no_input:
        if prompt:
            _sys.stdout.write(str(prompt))
            _sys.stdout.flush()
        raise EOFError('input(): the application gives Python no standard input to read')
    return _builtin_input(prompt)


input.__doc__ = _builtin_input.__doc__
# The original streams are the application's too, so that restoring them
# (sys.stdout = sys.__stdout__) keeps the output with the application.
_sys.stdout = _sys.__stdout__ = ConsoleStream(0, '<stdout>')
_sys.stderr = _sys.__stderr__ = ConsoleStream(1, '<stderr>')
_sys.stdin = _sys.__stdin__ = _no_input
_builtins.input = input
del write, flush
