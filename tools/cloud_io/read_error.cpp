#include "read_error.h"

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

}  // namespace litterpose_io::detail
