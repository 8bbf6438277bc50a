/* Python's own program, run on the shared library it is given, so that the
 * standalone side of scripts/run-cpython-tests.sh uses the very library the
 * plugin loads (Debian's /usr/bin/python3.X, for one, is linked statically: a
 * build apart from libpython3.X.so).
 *
 *   standalone_python LIBRARY PROGRAM [ARGUMENT...]
 *
 * PROGRAM becomes argv[0]: Python derives sys.executable and its prefix from
 * it, as when started as PROGRAM (the interpreter next to the library, which
 * is also what the plugin sets as sys.executable). */
#include <dlfcn.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef int (*BytesMain)(int, char**);
typedef int (*WideMain)(int, wchar_t**);
typedef wchar_t* (*DecodeLocale)(const char*, size_t*);

static void* Symbol(void* library, const char* name) { return dlsym(library, name); }

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s path/to/libpython3.X.so path/to/python3.X [argument...]\n", argv[0]);
    return 2;
  }
  /* Global: extension modules find Python's symbols in the process, as they
   * do in python3.X itself. */
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
  if (!library) {
    fprintf(stderr, "%s: %s\n", argv[0], dlerror());
    return 2;
  }
  int count = argc - 2;
  char** arguments = argv + 2;

  /* 3.8 and later; 3.7 has the same entry under a private name. Both decode
   * the arguments and coerce the locale as python3.X does. */
  BytesMain bytesMain = (BytesMain)Symbol(library, "Py_BytesMain");
  if (!bytesMain) bytesMain = (BytesMain)Symbol(library, "_Py_UnixMain");
  if (bytesMain) return bytesMain(count, arguments);

  /* 3.6: decode in the user's locale and hand Py_Main the C locale again, as
   * its python.c does. */
  WideMain wideMain = (WideMain)Symbol(library, "Py_Main");
  DecodeLocale decode = (DecodeLocale)Symbol(library, "Py_DecodeLocale");
  if (!wideMain || !decode) {
    fprintf(stderr, "%s: %s has neither Py_BytesMain nor Py_Main with Py_DecodeLocale\n", argv[0], argv[1]);
    return 2;
  }
  const char* current = setlocale(LC_ALL, NULL);
  char* previous = current ? strdup(current) : NULL;
  setlocale(LC_ALL, "");
  wchar_t** wide = calloc((size_t)count + 1, sizeof *wide);
  if (!wide) return 1;
  for (int i = 0; i < count; ++i) {
    wide[i] = decode(arguments[i], NULL);
    if (!wide[i]) {
      fprintf(stderr, "%s: cannot decode argument %d\n", argv[0], i + 2);
      return 1;
    }
  }
  setlocale(LC_ALL, previous ? previous : "C");
  free(previous);
  return wideMain(count, wide);
}
