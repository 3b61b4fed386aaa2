// Writing through a file descriptor, for the file operations that need the descriptor itself
// (modes, syncing, offsets).
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace platform {

// Writes every byte, going on after short writes and interruptions; false on any failure.
inline bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace platform
