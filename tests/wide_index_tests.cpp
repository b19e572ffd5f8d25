// Counts past 2^32 without the memory: one small memory file mapped again and
// again over a long address range stands in for a matrix of more than 2^32
// elements. Its length, 3 * 2^19 doubles, does not divide 2^32, so an index
// that wraps at 31 or 32 bits lands on another offset in the file, reads
// another value, and the sum comes out wrong (or the read leaves the mapping
// and the test crashes). The values are small integers: every sum is exact,
// and the expected result follows from the pattern's period.
//
// The weighted form with D = 1 and n_a = 1: b and Q (1 x n_b each) are the
// same mapping, so each of its pages is faulted in once per pass. Huge pages
// are used when the system has some reserved (vm.nr_hugepages >= 6): a pass
// then takes about a second instead of half a minute.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel_variants.hpp"
#include "stand_in_host.hpp"

namespace {

using korvane::InstructionSet;
using korvane::MatrixView;

constexpr std::size_t kPeriod = 3 * (std::size_t{1} << 19);  // doubles in the file
constexpr std::size_t kFileBytes = kPeriod * sizeof(double);
constexpr std::size_t kPoints = (std::size_t{1} << 32) + 12345;  // n_b

double pattern(std::size_t offset) {
  return static_cast<double>((offset % kPeriod) % 5);
}

// The file mapped repeatedly over at least `bytes` of address space.
class RepeatedMapping {
 public:
  RepeatedMapping() = default;
  RepeatedMapping(int file, std::size_t bytes) {
    length_ = (bytes + kFileBytes - 1) / kFileBytes * kFileBytes;
    void* base =
        mmap(nullptr, length_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return;
    base_ = static_cast<char*>(base);
    for (std::size_t offset = 0; offset < length_; offset += kFileBytes) {
      if (mmap(base_ + offset, kFileBytes, PROT_READ, MAP_SHARED | MAP_FIXED, file, 0) ==
          MAP_FAILED) {
        munmap(base_, length_);
        base_ = nullptr;
        return;
      }
    }
  }
  ~RepeatedMapping() {
    if (base_ != nullptr) munmap(base_, length_);
  }
  RepeatedMapping(const RepeatedMapping&) = delete;
  RepeatedMapping& operator=(const RepeatedMapping&) = delete;
  double* data() const { return reinterpret_cast<double*>(base_); }

 private:
  char* base_ = nullptr;
  std::size_t length_ = 0;
};

class WideWeightedSums : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    file_ = memfd_create("korvane-wide-index", MFD_HUGETLB);
    if (file_ < 0 || ftruncate(file_, static_cast<off_t>(kFileBytes)) != 0 || !fill_file()) {
      if (file_ >= 0) close(file_);
      file_ = memfd_create("korvane-wide-index", 0);
      ASSERT_GE(file_, 0);
      ASSERT_EQ(ftruncate(file_, static_cast<off_t>(kFileBytes)), 0);
      ASSERT_TRUE(fill_file());
    }
    points_ = new RepeatedMapping(file_, kPoints * sizeof(double));
  }
  static void TearDownTestSuite() {
    delete points_;
    close(file_);
  }

  static bool fill_file() {
    void* writable = mmap(nullptr, kFileBytes, PROT_READ | PROT_WRITE, MAP_SHARED, file_, 0);
    if (writable == MAP_FAILED) return false;
    double* values = static_cast<double*>(writable);
    for (std::size_t e = 0; e < kPeriod; ++e) values[e] = pattern(e);
    munmap(writable, kFileBytes);
    return true;
  }

  void SetUp() override { ASSERT_NE(points_->data(), nullptr) << "could not map b and Q"; }

  // a is the one number 1; b(0, j) = Q(0, j) = v, the pattern at j, so the
  // terms v * (1 - v)^2 repeat with period kPeriod in j.
  static double expected() {
    std::uint64_t one_period = 0;
    std::uint64_t tail = 0;
    for (std::size_t j = 0; j < kPeriod; ++j) {
      const auto v = static_cast<std::int64_t>(pattern(j));
      const auto term = static_cast<std::uint64_t>(v * (1 - v) * (1 - v));
      one_period += term;
      if (j < kPoints % kPeriod) tail += term;
    }
    return static_cast<double>(one_period * (kPoints / kPeriod) + tail);
  }

  static MatrixView points() { return MatrixView{1, kPoints, points_->data()}; }

  static int file_;
  static RepeatedMapping* points_;
};

int WideWeightedSums::file_ = -1;
RepeatedMapping* WideWeightedSums::points_ = nullptr;

TEST_F(WideWeightedSums, EveryVariantReadsPastTwoToThe32) {
  const double want = expected();
  double a_value = 1.0;
  for (InstructionSet isa : {InstructionSet::scalar, InstructionSet::avx2, InstructionSet::avx2_fma,
                             InstructionSet::avx512}) {
    if (!korvane::instruction_set_available(isa)) continue;
    double c = -1.0;
    korvane::weighted_coordinate_sums(isa, MatrixView{1, 1, &a_value}, points(), points(),
                                      MatrixView{1, 1, &c});
    EXPECT_EQ(c, want) << korvane::instruction_set_name(isa);
  }
}

TEST_F(WideWeightedSums, GatewayPassesFullCounts) {
  const auto a = stand_in::make_double(1, 1, {1.0});
  const auto b_and_Q = stand_in::make_view(1, kPoints, points_->data());
  const stand_in::CallOutcome outcome = stand_in::call(1, {a.get(), b_and_Q.get(), b_and_Q.get()});
  ASSERT_FALSE(outcome.failed) << outcome.message;
  EXPECT_EQ(outcome.values(), std::vector<double>{expected()});
}

}  // namespace
