// Internal to the cloud reader: the numeric types that PLY properties and PCD fields are
// stored as, and loading them from binary data.
#ifndef LITTERPOSE_TOOLS_CLOUD_IO_SCALAR_H
#define LITTERPOSE_TOOLS_CLOUD_IO_SCALAR_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

namespace litterpose_io::detail {

enum class Scalar : std::uint8_t {
  int8, uint8, int16, uint16, int32, uint32, int64, uint64, float32, float64
};

constexpr std::size_t sizeOf(Scalar type) {
  switch (type) {
    case Scalar::int8:
    case Scalar::uint8: return 1;
    case Scalar::int16:
    case Scalar::uint16: return 2;
    case Scalar::int32:
    case Scalar::uint32:
    case Scalar::float32: return 4;
    default: return 8;
  }
}

constexpr bool isReal(Scalar type) { return type == Scalar::float32 || type == Scalar::float64; }
constexpr bool isSigned(Scalar type) {
  return type == Scalar::int8 || type == Scalar::int16 || type == Scalar::int32 ||
         type == Scalar::int64 || isReal(type);
}

// "int32", "float", "double": the names the messages use.
const char* nameOf(Scalar type);

// Whether the machine stores numbers big end first; files of the other order are swapped.
constexpr bool kBigEndianMachine = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

template <typename T>
T load(const char* at, bool swap) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, at, sizeof(T));
  if (swap)
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
      const unsigned char b = bytes[i];
      bytes[i] = bytes[sizeof(T) - 1 - i];
      bytes[sizeof(T) - 1 - i] = b;
    }
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

// Whether a finite double rounds to a float's infinity: at or beyond the midpoint between
// the largest float and the next power of two.
inline bool beyondFloat(double value) {
  constexpr double kRoundsToInfinity = 0x1.ffffffp127;
  return std::isfinite(value) && std::fabs(value) >= kRoundsToInfinity;
}

// The float nearest a double; an infinity of its sign beyond a float's range (where the
// conversion itself is undefined).
inline float nearestFloat(double value) {
  if (beyondFloat(value))
    return value > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// One coordinate (float32 or float64): a float is copied bit for bit, a double rounded to
// the nearest float.
inline float loadCoordinate(const char* at, Scalar type, bool swap) {
  if (type == Scalar::float32) return load<float>(at, swap);
  return nearestFloat(load<double>(at, swap));
}

// Whether a stored coordinate is a finite double that a float cannot hold: the readers
// refuse it as they refuse such a number in text, rather than keep an infinity.
inline bool coordinateBeyondFloat(const char* at, Scalar type, bool swap) {
  return type == Scalar::float64 && beyondFloat(load<double>(at, swap));
}

// An integer value (a list's length, a viewport size) as a signed 64-bit number; an
// unsigned 64-bit value above its range saturates, which every caller then refuses as too
// large. Reals are not integers: the caller refuses them before.
std::int64_t loadInteger(const char* at, Scalar type, bool swap);

}  // namespace litterpose_io::detail

#endif
