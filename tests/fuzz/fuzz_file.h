// The file that a fuzz target's reader gets: the input's bytes in a memory
// file, read through the normal file API from offset 0.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace fuzz_file {

// One memory file per target, refilled for each input; -1 when the system
// has none.
inline int fill(const uint8_t *data, size_t size)
{
  static const int fd = memfd_create("fuzz-file", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size) || lseek(fd, 0, SEEK_SET) != 0)
    return -1;
  return fd;
}

}  // namespace fuzz_file
