#include "regular_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "read_error.h"

namespace litterpose_io::detail {
namespace {

class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

[[noreturn]] void systemError() { throw ReadError(std::strerror(errno)); }

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// read(2) until `size` bytes are in or the file ends; the count read.
std::size_t readFully(int fd, char* to, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, to + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) systemError();
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

}  // namespace

FileBytes readRegularFile(const std::string& path) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer: the kind is told before any wait.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) systemError();
  struct stat status;
  if (::fstat(fd.get(), &status) != 0) systemError();
  if (!S_ISREG(status.st_mode))
    throw ReadError(std::string("it is ") + kindOf(status.st_mode) + ", not a regular file");
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) systemError();

  FileBytes bytes;
  bytes.size = static_cast<std::size_t>(status.st_size);
  bytes.data.reset(new char[bytes.size + 1]);
  // One byte more than its size tells a file that grows while it is read.
  const std::size_t got = readFully(fd.get(), bytes.data.get(), bytes.size + 1);
  if (got != bytes.size)
    throw ReadError("the file changed size while it was read (" + std::to_string(bytes.size) +
                    " bytes, then " + (got > bytes.size ? "more" : std::to_string(got)) + ")");
  return bytes;
}

}  // namespace litterpose_io::detail
