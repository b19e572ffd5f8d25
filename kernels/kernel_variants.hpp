// The instruction-set variants behind the two kernels, and the choice among
// them. Each variant gives results bit-identical to the scalar one; the public
// functions run the best variant that this build contains and the running CPU
// and operating system support. Tests and benchmarks call variants directly.
#ifndef KORVANE_KERNELS_KERNEL_VARIANTS_HPP
#define KORVANE_KERNELS_KERNEL_VARIANTS_HPP

#include <array>
#include <cstddef>
#include <cstdint>

#include "distance_kernels.hpp"

namespace korvane {

// The x86 levels are ordered: a higher one can run everything a lower one
// can (avx2_fma is AVX2 with FMA3). neon stands apart: the 64-bit Arm level,
// the only one there besides scalar.
enum class InstructionSet { scalar = 0, avx2 = 1, avx2_fma = 2, avx512 = 3, neon = 4 };

const char* instruction_set_name(InstructionSet isa);

// True when this build contains the variant and the CPU and OS can run it.
bool instruction_set_available(InstructionSet isa);

// The variant the public functions use. On x86, CPUID and XGETBV are read
// once per process; concurrent first calls are safe.
InstructionSet active_instruction_set();

// What x86 detection reads: the registers (EAX, EBX, ECX, EDX) of CPUID
// leaves 0, 1 and 7 (subleaf 0), and XCR0 from XGETBV. Leaves beyond leaf 0's
// EAX, and XCR0 without OSXSAVE (leaf 1 ECX bit 27), are not read: all 0.
struct CpuidRecord {
  using Leaf = std::array<std::uint32_t, 4>;
  Leaf leaf0, leaf1, leaf7;
  std::uint64_t xcr0;
};

// The highest x86 level that a CPU reporting these values, under an
// operating system that saves the registers it uses, can run.
InstructionSet instruction_set_from(const CpuidRecord& cpu);

// The L2 cache per core and the L1 data cache in bytes, from CPUID, read once
// per process like the level; 256 KB and 32 KB where the CPU does not report
// them (and off x86).
std::size_t l2_cache_bytes();
std::size_t l1_data_cache_bytes();

namespace weighting {
// The stack buffer in which the weighted loops copy rows of Q (see
// WeightRows): 32 KB, whatever the input size.
constexpr std::size_t kStagedWeights = 4096;

// The constants of one level's weighted loop (see weighted_loop.hpp).
struct WeightedTable {
  std::size_t lanes;             // doubles per vector
  std::size_t sweep_vectors;     // vectors of sums in one sweep over the pairs
  std::size_t sum_registers;     // of those held in registers; the others are added to in L1
  std::size_t point_registers;   // vectors of point i held in registers; more are read from L1
  std::size_t ahead;             // pairs ahead at which Q's lines are asked for, read in place
  std::size_t fewest_rows;       // fewest rows of Q per copied group (0: copied where 2 KB apart)
  std::size_t fewest_rows_long;  // the same past 64 coordinates
};
inline constexpr WeightedTable kAvx2Weighted{
    4,  // a ymm
    8,  // half of the 16 ymm; point i and the temporaries take the rest
    8,  // all of them
    8,  // all of point i
    8,  // a fresh line of Q per pair: a few lines in flight
    0,  // short sums: a row's lines of Q stay in L1 or L2, copying only costs
    0};
inline constexpr WeightedTable kAvx512Weighted{
    8,   // a zmm
    33,  // 256 coordinates whatever their lead: b read end to end, in one sweep
    28,  // 4 of the 32 zmm hold w and the temporaries
    24,  // past 24 vectors an explicit copy in L1 beats GCC's own spills of point i
    8,   // a fresh line of Q per pair, as on the 256-bit loop; 16 ran slower
    2,   // a group saves each pair a line of Q from L2
    4};  // the copy costs more against a longer sum
inline constexpr WeightedTable kNeonWeighted{
    2,   // a q register
    12,  // 12 sums and 12 vectors of point i: 24 of the 32 q registers
    12,  // all of them
    12,  // all of point i
    8,   // a fresh line of Q per pair
    0,   // never copied
    0};
}  // namespace weighting

// Run one variant. Precondition: instruction_set_available(isa). The
// pairwise blocks are sized for an L2 cache of l2_bytes.
void pairwise_squared_distances(InstructionSet isa, MatrixView a, MatrixView b, MatrixView C,
                                std::size_t l2_bytes = l2_cache_bytes());
void weighted_coordinate_sums(InstructionSet isa, MatrixView a, MatrixView b, MatrixView Q,
                              MatrixView c);
void continue_weighted_coordinate_sums(InstructionSet isa, MatrixView a, MatrixView b, MatrixView Q,
                                       MatrixView c, std::size_t first, std::size_t end);

// The weighted variants continue c over the points first .. end - 1 of a
// (see continue_weighted_coordinate_sums); the dispatcher clears c for
// weighted_coordinate_sums.
namespace variants {
void pairwise_scalar(MatrixView a, MatrixView b, MatrixView C);
void weighted_scalar(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                     std::size_t end);
void pairwise_avx2(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes);
void weighted_avx2(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                   std::size_t end);
void pairwise_avx2_fma(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes);
void pairwise_avx512(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes);
void weighted_avx512(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                     std::size_t end);
void pairwise_neon(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes);
void weighted_neon(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                   std::size_t end);
}  // namespace variants

}  // namespace korvane

#endif
