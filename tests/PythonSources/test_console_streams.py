"""Sources/PythonEngine/console_streams.py, run as Python: the streams it
installs behave as text files over the functions the plugin's module gives.

The plugin's write and flush functions are stood in for by functions that
note each call, so the streams are tested apart from the plugin; the tests
of the plugin (Console.*, ThreadOutput.*) run the same code inside it.

Usage: test_console_streams.py path/to/console_streams.py
"""
import builtins
import io
import sys
import unittest

SOURCE_PATH = None


class Recorder:
    """The module's functions: each call noted as (function, arguments)."""

    def __init__(self):
        self.calls = []

    def namespace(self):
        def write(stream, text):
            self.calls.append(("write", stream, text))
            return len(text)

        def flush(stream):
            self.calls.append(("flush", stream))

        def stream_write(stream):
            def write_stream(text):
                self.calls.append(("write", stream, text))
                return len(text)
            return write_stream

        def stream_flush(stream):
            def flush_stream():
                self.calls.append(("flush", stream))
            return flush_stream

        return {"__name__": "aview", "write": write, "flush": flush,
                "write_stdout": stream_write(0), "write_stderr": stream_write(1),
                "flush_stdout": stream_flush(0), "flush_stderr": stream_flush(1)}

    def written(self, stream):
        return "".join(call[2] for call in self.calls if call[0] == "write" and call[1] == stream)


class ConsoleStreamsTest(unittest.TestCase):
    """Runs the source afresh for each test, and puts sys and builtins back."""

    STREAMS = ("stdout", "stderr", "stdin", "__stdout__", "__stderr__", "__stdin__")

    def setUp(self):
        saved = {name: getattr(sys, name) for name in self.STREAMS}
        saved_input = builtins.input

        def restore():
            for name, value in saved.items():
                setattr(sys, name, value)
            builtins.input = saved_input
        self.addCleanup(restore)
        self.recorder = Recorder()
        self.namespace = self.recorder.namespace()
        with open(SOURCE_PATH, encoding="utf-8") as source:
            code = compile(source.read(), SOURCE_PATH, "exec")
        try:
            exec(code, self.namespace)
        finally:
            self.installed = {name: getattr(sys, name) for name in self.STREAMS}
            self.input = builtins.input
            restore()
        self.stdout, self.stderr, self.stdin = (self.installed[name] for name in ("stdout", "stderr", "stdin"))

    def test_installs_text_files_as_the_original_streams_too(self):
        for name in ("stdout", "stderr", "stdin"):
            with self.subTest(name=name):
                self.assertIsInstance(self.installed[name], io.TextIOBase)
                self.assertIs(self.installed["__%s__" % name], self.installed[name])
        self.assertIsNot(self.stdout, self.stderr)
        self.assertIs(self.input, self.namespace["input"])

    def test_takes_the_general_functions_out_of_the_namespace(self):
        self.assertNotIn("write", self.namespace)
        self.assertNotIn("flush", self.namespace)

    def test_write_goes_to_the_stream_and_returns_the_characters_written(self):
        self.assertEqual(self.stdout.write("héllo\n"), 6)
        self.assertEqual(self.stderr.write("oops"), 4)
        self.assertEqual(self.recorder.calls, [("write", 0, "héllo\n"), ("write", 1, "oops")])

    def test_print_writes_and_flushes_the_stream_it_is_given(self):
        print("a", 1, file=self.stdout, flush=True)
        print("warning", file=self.stderr)
        self.assertEqual(self.recorder.written(0), "a 1\n")
        self.assertEqual(self.recorder.written(1), "warning\n")
        self.assertIn(("flush", 0), self.recorder.calls)

    def test_flush_reaches_the_stream(self):
        self.stdout.flush()
        self.stderr.flush()
        self.assertEqual(self.recorder.calls, [("flush", 0), ("flush", 1)])

    def test_describes_itself_as_a_text_file_that_is_no_terminal(self):
        for stream, name in ((self.stdout, "<stdout>"), (self.stderr, "<stderr>")):
            with self.subTest(name=name):
                self.assertEqual(stream.name, name)
                self.assertEqual(stream.encoding, "utf-8")
                self.assertEqual(stream.errors, "backslashreplace")
                self.assertFalse(stream.line_buffering)
                self.assertIsNone(stream.newlines)
                self.assertTrue(stream.writable())
                self.assertFalse(stream.readable())
                self.assertFalse(stream.seekable())
                self.assertFalse(stream.isatty())
                self.assertFalse(stream.closed)
                with self.assertRaises(io.UnsupportedOperation):
                    stream.fileno()

    def test_closed_stream_raises_value_error(self):
        self.stdout.close()
        self.assertTrue(self.stdout.closed)
        with self.assertRaises(ValueError):
            self.stdout.write("late")
        with self.assertRaises(ValueError):
            self.stdout.flush()
        with self.assertRaises(ValueError):
            print("late", file=self.stdout)
        self.assertEqual(self.recorder.written(0), "")
        self.assertEqual(self.stderr.write("still open"), 10)

    def test_binary_side_decodes_utf8_as_it_comes(self):
        buffer = self.stdout.buffer
        self.assertIs(buffer, self.stdout.buffer)
        self.assertTrue(buffer.writable())
        # A character split over two writes arrives whole with the second.
        self.assertEqual(buffer.write(b"h\xc3"), 2)
        self.assertEqual(buffer.write(b"\xa9!\xff"), 3)
        self.assertEqual(self.recorder.written(0), "hé!\\xff")
        # Any buffer counts in bytes.
        self.assertEqual(self.stderr.buffer.write(memoryview(b"abcd").cast("H")), 4)
        self.assertEqual(self.recorder.written(1), "abcd")

    def test_closed_binary_side_raises_value_error(self):
        self.stdout.buffer.close()
        with self.assertRaises(ValueError):
            self.stdout.buffer.write(b"late")
        self.assertEqual(self.recorder.calls, [])

    def test_stdin_is_at_its_end(self):
        self.assertEqual(self.stdin.name, "<stdin>")
        self.assertEqual(self.stdin.encoding, "utf-8")
        self.assertEqual(self.stdin.errors, "strict")
        self.assertTrue(self.stdin.readable())
        self.assertFalse(self.stdin.isatty())
        self.assertEqual(self.stdin.read(), "")
        self.assertEqual(self.stdin.read(5), "")
        self.assertEqual(self.stdin.readline(), "")
        self.assertEqual(list(self.stdin), [])
        with self.assertRaises(io.UnsupportedOperation):
            self.stdin.fileno()

    def test_stdin_binary_side_is_empty(self):
        buffer = self.stdin.buffer
        self.assertIsInstance(buffer, io.BufferedReader)
        self.assertEqual(buffer.raw.name, "<stdin>")
        self.assertEqual(buffer.read(), b"")
        self.assertEqual(buffer.readline(), b"")

    def test_input_without_standard_input_shows_the_prompt_and_raises_eof(self):
        sys.stdout, sys.stdin = self.stdout, self.stdin
        try:
            with self.assertRaises(EOFError):
                self.input("name? ")
        finally:
            sys.stdout, sys.stdin = sys.__stdout__, sys.__stdin__
        self.assertEqual(self.recorder.calls, [("write", 0, "name? "), ("flush", 0)])
        self.assertEqual(self.input.__doc__, builtins.input.__doc__)

    def test_input_reads_a_standard_input_the_program_sets(self):
        saved = sys.stdout, sys.stdin
        sys.stdout, sys.stdin = self.stdout, io.StringIO("Ada\n")
        try:
            self.assertEqual(self.input("name? "), "Ada")
        finally:
            sys.stdout, sys.stdin = saved
        self.assertEqual(self.recorder.written(0), "name? ")


if __name__ == "__main__":
    SOURCE_PATH = sys.argv.pop(1)
    unittest.main()
