/* A stand-in for a Python library: just the symbols the loader looks for.
   Compiled once per variant; the tests copy it under the file names they
   need, and it takes its version from the name it was loaded under. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef struct {
  long refcnt;
  void* type;
} StubObject;

/* "3.N.0 (stub)", N taken from a loaded file name "libpython3.N..." */
const char* Py_GetVersion(void) {
  static char version[32];
  Dl_info info;
  int minor = 99;
  if (dladdr((void*)&Py_GetVersion, &info) && info.dli_fname) {
    const char* name = strrchr(info.dli_fname, '/');
    name = name ? name + 1 : info.dli_fname;
    if (sscanf(name, "libpython3.%d", &minor) != 1) minor = 99;
  }
  snprintf(version, sizeof version, "3.%d.0 (stub)", minor);
  return version;
}

static int initialized;
#ifndef STUB_NO_INITIALIZE
void Py_Initialize(void) { initialized = 1; }
#endif
int Py_IsInitialized(void) { return initialized; }

StubObject PyFloat_Type = {1, 0};
#ifndef STUB_NO_TRUE
StubObject _Py_TrueStruct = {1, 0};
#endif
#ifndef STUB_NO_FALSE
StubObject _Py_FalseStruct = {1, 0};
#endif

static StubObject typeErrorType = {1, 0};
void* PyExc_TypeError = &typeErrorType;

void* PyTuple_New(long size) {
  (void)size;
  return NULL;
}
int PyList_Sort(void* list) {
  (void)list;
  return 0;
}
void* PyDict_Copy(void* dict) { return dict; }

/* What Py_SetPythonHome received, for the tests. */
static const wchar_t* receivedHome;
const wchar_t* StubPythonHome(void) { return receivedHome; }

#ifndef STUB_NO_SET_HOME
void Py_SetPythonHome(const wchar_t* home) { receivedHome = home; }
#endif
#ifndef STUB_NO_DECODE_LOCALE
wchar_t* Py_DecodeLocale(const char* text, size_t* outLength) {
  size_t length = mbstowcs(NULL, text, 0);
  if (length == (size_t)-1) return NULL;
  wchar_t* wide = malloc((length + 1) * sizeof(wchar_t));
  if (wide) mbstowcs(wide, text, length + 1);
  if (outLength) *outLength = length;
  return wide;
}
#endif

void PyMem_RawFree(void* memory) { free(memory); }

#ifdef STUB_FREE_THREADED
void _Py_DecRefShared(void* object) { (void)object; }
#endif
#ifdef STUB_TRACE_REFS
void _Py_ForgetReference(void* object) { (void)object; }
#endif
