// Reading the configuration file: a regular file, opened once, holding one YAML document.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/parser.h>
#include <yaml-cpp/yaml.h>

#include "litterpose_configuration.h"

namespace litterpose {
namespace {

// No configuration comes near this size (the bundled one, with its comments, is a few
// kilobytes); a larger file is something else, and parsing it would take long.
constexpr std::size_t kMaxConfigurationBytes = std::size_t{1} << 20;

// What a path names when it is not a regular file, and the errno value that says so best.
std::pair<const char*, int> kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return {"it is a directory", EISDIR};
  if (S_ISFIFO(mode)) return {"it is a FIFO (named pipe)", EINVAL};
  if (S_ISCHR(mode)) return {"it is a character device", EINVAL};
  if (S_ISBLK(mode)) return {"it is a block device", EINVAL};
  if (S_ISSOCK(mode)) return {"it is a socket", EINVAL};
  return {"it is not a regular file", EINVAL};
}

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

[[noreturn]] void refuse(const std::string& path, const std::string& reason, int number) {
  throw ConfigurationFileError(path, reason, number);
}

[[noreturn]] void refuseWithErrno(const std::string& path) {
  const int number = errno;
  refuse(path, std::strerror(number), number);
}

std::string contents(const std::string& path) {
  // The system would open the path up to the null byte: another file.
  if (path.find('\0') != std::string::npos) refuse(path, "the path holds a null byte", EINVAL);
  // Without O_NONBLOCK, opening a FIFO waits for a writer: the kind is told before any wait.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) refuseWithErrno(path);
  struct stat status;
  if (::fstat(file.get(), &status) != 0) refuseWithErrno(path);
  if (!S_ISREG(status.st_mode)) {
    const auto [kind, number] = kindOf(status.st_mode);
    refuse(path, kind, number);
  }
  const auto tooLarge = [&](const std::string& size) {
    refuse(path,
           "it is " + size + " bytes long; a configuration is at most " +
               std::to_string(kMaxConfigurationBytes) + " (1 MiB)",
           EFBIG);
  };
  if (static_cast<std::uintmax_t>(status.st_size) > kMaxConfigurationBytes)
    tooLarge(std::to_string(status.st_size));
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refuseWithErrno(path);
    if (n == 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
    // A file that grows while it is read.
    if (text.size() > kMaxConfigurationBytes)
      tooLarge("more than " + std::to_string(kMaxConfigurationBytes));
  }
}

// Follows the documents of a YAML stream: where each starts, and where the first that holds
// anything after the first document does.
class DocumentMarks : public YAML::EventHandler {
public:
  std::vector<YAML::Mark> starts;
  std::optional<YAML::Mark> second_content;

  void OnDocumentStart(const YAML::Mark& mark) override { starts.push_back(mark); }
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark& mark, YAML::anchor_t) override { content(mark); }
  void OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                const std::string&) override {
    content(mark);
  }
  void OnSequenceStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {
    content(mark);
  }
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {
    content(mark);
  }
  void OnMapEnd() override {}

private:
  void content(const YAML::Mark& mark) {
    if (starts.size() > 1 && !second_content) second_content = mark;
  }
};

// Whether a second document may follow the first: it starts after a document marker at
// the start of a line, or after a first document that is no block map (a block map runs to
// the end of the stream).
bool mayHoldASecondDocument(const std::string& text, const YAML::Node& first) {
  if (!first.IsMap() || first.Style() != YAML::EmitterStyle::Block) return true;
  for (std::size_t line = 0; line < text.size();) {
    if (text.compare(line, 3, "---") == 0 || text.compare(line, 3, "...") == 0) return true;
    const std::size_t end = text.find('\n', line);
    if (end == std::string::npos) break;
    line = end + 1;
  }
  return false;
}

}  // namespace

ConfigurationFileError::ConfigurationFileError(const std::string& path, std::string why,
                                               int number)
    : YAML::BadFile(path + ": " + why), reason(std::move(why)), error_number(number) {}

ConfigurationFileError::~ConfigurationFileError() noexcept = default;

YAML::Node loadConfigurationFile(const std::string& path) {
  const std::string text = contents(path);
  YAML::Node first = YAML::Load(text);
  if (!mayHoldASecondDocument(text, first)) return first;
  // The documents are followed one event at a time, not loaded. A token that starts no node
  // (a ',' outside brackets) is never consumed: every document after it would start at the
  // same place, and yaml-cpp's LoadAll collects them until memory runs out.
  std::istringstream stream(text);
  YAML::Parser parser(stream);
  DocumentMarks marks;
  while (!marks.second_content && parser.HandleNextDocument(marks)) {
    const std::size_t n = marks.starts.size();
    if (n > 1 && marks.starts[n - 1].pos <= marks.starts[n - 2].pos) {
      const YAML::Mark& mark = marks.starts.back();
      const auto at = static_cast<std::size_t>(mark.pos);
      throw ConfigurationError(mark, "",
                               at < text.size() ? "'" + std::string(1, text[at]) +
                                                      "' starts no YAML node here"
                                                : "no YAML node starts here");
    }
  }
  if (marks.second_content)
    throw ConfigurationError(*marks.second_content, "",
                             "the file holds a second YAML document, which would be "
                             "ignored; a configuration is one document");
  return first;
}

}  // namespace litterpose
