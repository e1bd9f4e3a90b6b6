#include "scalar.h"

#include <limits>

namespace litterpose_io::detail {

const char* nameOf(Scalar type) {
  switch (type) {
    case Scalar::int8: return "int8";
    case Scalar::uint8: return "uint8";
    case Scalar::int16: return "int16";
    case Scalar::uint16: return "uint16";
    case Scalar::int32: return "int32";
    case Scalar::uint32: return "uint32";
    case Scalar::int64: return "int64";
    case Scalar::uint64: return "uint64";
    case Scalar::float32: return "float";
    case Scalar::float64: return "double";
  }
  return "an unknown type";
}

std::int64_t loadInteger(const char* at, Scalar type, bool swap) {
  switch (type) {
    case Scalar::int8: return load<std::int8_t>(at, swap);
    case Scalar::uint8: return load<std::uint8_t>(at, swap);
    case Scalar::int16: return load<std::int16_t>(at, swap);
    case Scalar::uint16: return load<std::uint16_t>(at, swap);
    case Scalar::int32: return load<std::int32_t>(at, swap);
    case Scalar::uint32: return load<std::uint32_t>(at, swap);
    case Scalar::int64: return load<std::int64_t>(at, swap);
    case Scalar::uint64: {
      const std::uint64_t value = load<std::uint64_t>(at, swap);
      constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
      return value > kMax ? std::numeric_limits<std::int64_t>::max()
                          : static_cast<std::int64_t>(value);
    }
    default: return 0;
  }
}

}  // namespace litterpose_io::detail
