// A look at a library file before the dynamic loader maps it: a file cut
// short makes the loader die (SIGBUS) on the pages past its end.
#pragma once

// True when `path` is a complete ELF shared object for this machine: its
// header, class, byte order, machine and type, and every loadable segment
// within the file's size.
bool IsCompleteSharedObject(const char* path) noexcept;
