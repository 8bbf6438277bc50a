// The check of a library file's ELF header and loadable segments against its size, read before the
// dynamic loader sees the file.

#include "PythonLibrary/SharedObjectFile.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

// The plugin is built for 64-bit little-endian Linux only (the Python
// object layouts it reads say so).
#if defined(__x86_64__)
constexpr uint16_t kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kMachine = EM_AARCH64;
#else
#error "the ELF machine of this platform is not known"
#endif

bool ReadAt(int fd, void* buffer, size_t size, uint64_t offset) {
  auto* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

// `offset` + `size` within `fileSize`, without overflow.
bool Within(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

bool HasCompleteSegments(int fd, const Elf64_Ehdr& header, uint64_t fileSize) {
  if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0) return false;
  if (!Within(header.e_phoff, uint64_t{header.e_phnum} * sizeof(Elf64_Phdr), fileSize)) return false;
  for (uint16_t i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    if (!ReadAt(fd, &segment, sizeof segment, header.e_phoff + uint64_t{i} * sizeof segment)) return false;
    if (segment.p_type == PT_LOAD && !Within(segment.p_offset, segment.p_filesz, fileSize)) return false;
  }
  return true;
}

}  // namespace

bool IsCompleteSharedObject(const char* path) noexcept {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  Elf64_Ehdr header{};
  const bool complete = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ReadAt(fd, &header, sizeof header, 0) &&
                        std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64 &&
                        header.e_ident[EI_DATA] == ELFDATA2LSB && header.e_machine == kMachine &&
                        header.e_type == ET_DYN && HasCompleteSegments(fd, header, static_cast<uint64_t>(info.st_size));
  close(fd);
  return complete;
}
