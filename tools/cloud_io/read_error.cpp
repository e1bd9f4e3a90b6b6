#include "read_error.h"

#include <charconv>
#include <cstdio>

namespace litterpose_io::detail {

std::string byteCount(std::uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 999.5 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  else
    std::snprintf(text, sizeof text, "%.3g %s", value, kUnits[unit]);
  return text;
}

std::pair<std::string, std::string> byteCounts(std::uint64_t first, std::uint64_t second) {
  std::string a = byteCount(first), b = byteCount(second);
  if (a == b && first != second) {
    a = std::to_string(first) + " B";
    b = std::to_string(second) + " B";
  }
  return {a, b};
}

std::string shortest(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace litterpose_io::detail
