// Internal to the cloud reader: a regular file, opened once through one descriptor, whose
// bytes are read on demand into one buffer of the file's size. The readers look at the
// header first and check the sizes it declares against the file's size before they read
// the rest, so that a huge file whose header cannot be right is refused without reading it.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_REGULAR_FILE_H
#define LITTERPOSE_TOOLS_CLOUD_IO_REGULAR_FILE_H

#include <cstddef>
#include <memory>
#include <string>

namespace litterpose_io::detail {

class RegularFile {
public:
  // Throws ReadError when the path cannot be opened, or names a FIFO, a device, a directory
  // or a socket (refused at once, without waiting for a writer); std::bad_alloc when the
  // file cannot have a buffer of its size.
  explicit RegularFile(const std::string& path);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  // The whole file's range; only [begin, begin + loaded) holds its bytes yet.
  const char* begin() const { return data_.get(); }
  const char* end() const { return data_.get() + size_; }
  std::size_t size() const { return size_; }
  std::size_t loaded() const { return loaded_; }

  // Reads until the first `bytes` of the file, or all of it, are in the buffer. Throws
  // ReadError when the file cannot be read or turns out shorter or longer than its size.
  void load(std::size_t bytes);
  void loadAll() { load(size_); }

private:
  // Reads what comes next, up to `until` bytes from the start (at most one past the size);
  // the count read.
  std::size_t readMore(std::size_t until);
  [[noreturn]] void changedSize() const;

  int fd_ = -1;
  std::size_t size_ = 0;
  std::size_t loaded_ = 0;
  bool complete_ = false;  // the end was found where the size says
  std::unique_ptr<char[]> data_;
};

}  // namespace litterpose_io::detail

#endif
