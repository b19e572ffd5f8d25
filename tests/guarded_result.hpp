// A result view between guards full of garbage, for the kernel tests and the
// kernel fuzzer: a kernel must overwrite every entry and nothing beside them.
#ifndef KORVANE_TESTS_GUARDED_RESULT_HPP
#define KORVANE_TESTS_GUARDED_RESULT_HPP

#include <cstddef>
#include <vector>

#include "distance_kernels.hpp"
#include "double_bits.hpp"

class GuardedResult {
 public:
  GuardedResult(std::size_t rows, std::size_t cols)
      : rows_(rows), cols_(cols), storage_(rows * cols + 2 * kGuard, kGarbage) {}

  // The result's view, its storage refilled with garbage first; a result
  // with no elements gets a null data pointer.
  korvane::MatrixView fresh_view() {
    for (double& x : storage_) x = kGarbage;
    return korvane::MatrixView{rows_, cols_, rows_ * cols_ == 0 ? nullptr : values()};
  }
  double* values() { return storage_.data() + kGuard; }
  const double* values() const { return storage_.data() + kGuard; }

  bool equals(const std::vector<double>& expected) const {
    for (std::size_t n = 0; n < expected.size(); ++n) {
      if (!same_double(values()[n], expected[n])) return false;
    }
    return true;
  }
  bool guards_intact() const {
    for (std::size_t g = 0; g < kGuard; ++g) {
      if (bits_of(storage_[g]) != bits_of(kGarbage)) return false;
      if (bits_of(storage_[storage_.size() - 1 - g]) != bits_of(kGarbage)) return false;
    }
    return true;
  }

 private:
  static constexpr std::size_t kGuard = 16;
  static constexpr double kGarbage = -1.2345e300;
  std::size_t rows_, cols_;
  std::vector<double> storage_;
};

#endif
