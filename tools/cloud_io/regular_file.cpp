#include "regular_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "read_error.h"

namespace litterpose_io::detail {
namespace {

[[noreturn]] void systemError() { throw ReadError(std::strerror(errno)); }

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

void refuseIrregular(mode_t mode) {
  if (!S_ISREG(mode)) throw ReadError(std::string("it is ") + kindOf(mode) + ", not a regular file");
}

}  // namespace

RegularFile::RegularFile(const std::string& path) {
  // The kind is told before the open, which a socket fails with an unhelpful "No such device
  // or address". A path replaced between the two is caught by the check of what was opened.
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) systemError();
  refuseIrregular(status.st_mode);
  // Without O_NONBLOCK, opening a FIFO waits for a writer: the kind is told before any wait.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) systemError();
  try {
    if (::fstat(fd_, &status) != 0) systemError();
    refuseIrregular(status.st_mode);
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) systemError();
    size_ = static_cast<std::size_t>(status.st_size);
    // One byte more than the size, for the read that must find the file's end there. The
    // pages are only touched as the file is read.
    data_.reset(new char[size_ + 1]);
  } catch (...) {
    ::close(fd_);
    throw;
  }
}

RegularFile::~RegularFile() { ::close(fd_); }

void RegularFile::load(std::size_t bytes) {
  const bool all = bytes >= size_;
  while (loaded_ < (all ? size_ : bytes)) readMore(all ? size_ + 1 : bytes);
  if (all && !complete_) {
    if (readMore(size_ + 1) != 0) changedSize();
    complete_ = true;
  }
}

std::size_t RegularFile::readMore(std::size_t until) {
  for (;;) {
    const ssize_t n = ::read(fd_, data_.get() + loaded_, until - loaded_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) systemError();
    if (n == 0 && loaded_ < size_) changedSize();
    loaded_ += static_cast<std::size_t>(n);
    if (loaded_ > size_) changedSize();
    return static_cast<std::size_t>(n);
  }
}

void RegularFile::changedSize() const {
  throw ReadError("the file changed size while it was read (it had " + std::to_string(size_) +
                  " bytes when opened)");
}

}  // namespace litterpose_io::detail
