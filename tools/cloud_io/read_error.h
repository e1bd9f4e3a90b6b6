// Internal to the cloud reader: the refusal that the format readers throw, which
// readCloud turns into the message it returns.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_READ_ERROR_H
#define LITTERPOSE_TOOLS_CLOUD_IO_READ_ERROR_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace litterpose_io::detail {

// What is wrong with a file, with its place ("line 12: ...", "byte 4096: ...").
class ReadError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "1 value", "3 values".
inline std::string counted(std::uint64_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// A size for a message, in decimal units with three significant digits: "120 B",
// "8.19 KB", "51.5 GB".
std::string byteCount(std::uint64_t bytes);

// Two sizes that a message compares, as byteCount has them, or exact ("65172 B") when
// they would read the same.
std::pair<std::string, std::string> byteCounts(std::uint64_t first, std::uint64_t second);

// A binary value for a message, in the fewest digits that give it back: "1e+300".
std::string shortest(double value);

}  // namespace litterpose_io::detail

#endif
