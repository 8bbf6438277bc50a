/* An audit module for the dynamic loader (LD_AUDIT): Python libraries are
   found only in the folders of LD_LIBRARY_PATH, as on a machine whose only
   Python is the one a test put there. Names with a slash open as usual. */
#define _GNU_SOURCE
#include <link.h>
#include <string.h>

unsigned int la_version(unsigned int version) { return version < LAV_CURRENT ? version : LAV_CURRENT; }

char* la_objsearch(const char* name, uintptr_t* cookie, unsigned int flag) {
  (void)cookie;
  const char* file = strrchr(name, '/');
  file = file ? file + 1 : name;
  if (flag != LA_SER_ORIG && flag != LA_SER_LIBPATH && strncmp(file, "libpython", 9) == 0) return NULL;
  return (char*)name;
}
