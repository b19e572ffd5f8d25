// What the fuzz targets share: reading the input bytes, extents that reach
// past the kernels' tiles and chunks, matrices of values that stress the
// rounding, and the failure report.
//
// Extents: a byte below 128 gives 0 .. 39 (every tile and single-group edge);
// from 128 up it and the next byte give 0 .. 2047 (many tiles, sums across
// several chunk edges, point sets wider than a cache block).
//
// Values: a style byte and two seed bytes fill the whole matrix from a
// generator, then a count byte and that many patches (two bytes of position,
// one choosing a special value, or with bit 7 set eight raw bytes) put chosen
// values at chosen places. Missing bytes read as 0.
#ifndef KORVANE_TESTS_FUZZ_FUZZ_INPUT_HPP
#define KORVANE_TESTS_FUZZ_FUZZ_INPUT_HPP

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace fuzz {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }
  double next_double() {
    std::uint8_t raw[8];
    for (std::uint8_t& byte : raw) byte = next();
    double value;
    std::memcpy(&value, raw, sizeof value);
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

constexpr std::size_t kMaxExtent = 2047;

inline std::size_t read_extent(ByteReader& in, std::uint8_t first) {
  if (first < 128) return first % 40;
  const std::size_t wide = static_cast<std::size_t>(first - 128) << 8 | in.next();
  return wide % (kMaxExtent + 1);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSpecial[] = {0.0,   -0.0,   1.0,    -1.0,     0.5,  3.0,   -7.25, 1e154,
                               1e308, -1e308, 1e-308, 4.9e-324, kInf, -kInf, kNaN,  123456789.0};

// splitmix64: small, and every seed gives a full-period stream.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // In [-1, 1), 53 random bits.
  double unit() { return static_cast<double>(static_cast<std::int64_t>(next()) >> 10) * 0x1p-53; }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

 private:
  std::uint64_t state_;
};

// One value of a style. Offsets make differences cancel; tiny and huge
// magnitudes reach subnormal differences and squares that overflow.
inline double styled_value(Generator& gen, std::uint8_t style) {
  constexpr double kOffsets[] = {0.0, 1.0, 1e4, -1e8};
  switch (style % 6) {
    case 0:
      return gen.below(17) - 8;
    case 1:
      return kOffsets[(style / 6) % 4] + gen.unit() * std::pow(10.0, gen.below(9) - 4);
    case 2:
      return std::ldexp(gen.unit(), gen.below(81) - 40);
    case 3:
      return std::ldexp(gen.unit(), -1000 - gen.below(75));
    case 4:
      return std::ldexp(gen.unit(), 480 + gen.below(60));
    default:
      return gen.below(32) == 0 ? kSpecial[gen.below(16)]
                                : kOffsets[(style / 6) % 4] + gen.unit() * 100.0;
  }
}

inline void fill_values(ByteReader& in, double* values, std::size_t count) {
  const std::uint8_t style = in.next();
  const std::uint64_t seed = static_cast<std::uint64_t>(in.next()) << 8 | in.next();
  Generator gen(seed * 0x100000001B3ULL + style);
  for (std::size_t n = 0; n < count; ++n) values[n] = styled_value(gen, style);
  const std::size_t patches = in.next();
  for (std::size_t p = 0; p < patches; ++p) {
    const std::size_t place = static_cast<std::size_t>(in.next()) << 8 | in.next();
    const std::uint8_t choice = in.next();
    const double value = (choice & 128) ? in.next_double() : kSpecial[choice % 16];
    // Spread over the whole matrix; every element is reachable up to 65536.
    if (count != 0) values[(place * count) >> 16] = value;
  }
}

[[noreturn]] inline void fail(const char* target, const char* what) {
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

}  // namespace fuzz

#endif
