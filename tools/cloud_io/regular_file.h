// Internal to the cloud reader: a file's whole content, read through one descriptor that
// is opened once and only kept when it is a regular file.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_REGULAR_FILE_H
#define LITTERPOSE_TOOLS_CLOUD_IO_REGULAR_FILE_H

#include <cstddef>
#include <memory>
#include <string>

namespace litterpose_io::detail {

struct FileBytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  const char* begin() const { return data.get(); }
  const char* end() const { return data.get() + size; }
};

// Throws ReadError when the path cannot be opened or read, or names a FIFO, a device, a
// directory or a socket (refused at once, without waiting for a writer), or the file
// changes size while it is read; std::bad_alloc when it does not fit in memory.
FileBytes readRegularFile(const std::string& path);

}  // namespace litterpose_io::detail

#endif
