// Which instruction set runs: what this build contains, capped on x86 by
// what the CPU reports (CPUID) and the operating system saves (XGETBV); and
// the cache sizes that the loops block for, read once per process. A 64-bit
// Arm build with NEON always runs it.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define KORVANE_X86 1
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace korvane {

namespace {

#if defined(KORVANE_X86)
// EAX, EBX, ECX, EDX of one CPUID leaf.
CpuidRecord::Leaf cpuid(std::uint32_t leaf, std::uint32_t subleaf = 0) {
  CpuidRecord::Leaf r{};
#if defined(_MSC_VER) && !defined(__clang__)
  int regs[4];
  __cpuidex(regs, static_cast<int>(leaf), static_cast<int>(subleaf));
  for (int n = 0; n < 4; ++n) r[n] = static_cast<std::uint32_t>(regs[n]);
#else
  __cpuid_count(leaf, subleaf, r[0], r[1], r[2], r[3]);
#endif
  return r;
}

// XCR0: the register states the operating system preserves. Only called
// after CPUID has reported OSXSAVE, so the instruction exists.
std::uint64_t read_xcr0() {
#if defined(_MSC_VER) && !defined(__clang__)
  return _xgetbv(0);
#else
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<std::uint64_t>(hi) << 32) | lo;
#endif
}

InstructionSet detect_cpu() {
  CpuidRecord record{};
  record.leaf0 = cpuid(0);
  if (record.leaf0[0] >= 1) record.leaf1 = cpuid(1);
  if (record.leaf0[0] >= 7) record.leaf7 = cpuid(7);
  if ((record.leaf1[2] >> 27) & 1U) record.xcr0 = read_xcr0();
  return instruction_set_from(record);
}

// CPUID leaf 0x80000006 gives the L2 size per core in KB (ECX bits 31-16),
// on AMD and Intel alike; 0 where it is not reported.
std::size_t detect_l2_bytes() {
  if (cpuid(0x80000000U)[0] < 0x80000006U) return 0;
  return static_cast<std::size_t>(cpuid(0x80000006U)[2] >> 16) * 1024;
}

// The L1 data cache: Intel describes each cache in leaf 4 (ways, partitions,
// line size and sets, each minus one), AMD in leaf 0x80000005 (ECX bits
// 31-24, in KB; its leaf 4 reports no caches). 0 where neither does.
std::size_t detect_l1d_bytes() {
  for (std::uint32_t index = 0; cpuid(0)[0] >= 4 && index < 16; ++index) {
    const CpuidRecord::Leaf r = cpuid(4, index);
    const std::uint32_t type = r[0] & 0x1F;
    if (type == 0) break;
    if (type == 1 && ((r[0] >> 5) & 0x7) == 1) {
      return std::size_t{(r[1] >> 22) + 1} * (((r[1] >> 12) & 0x3FF) + 1) * ((r[1] & 0xFFF) + 1) *
             (std::size_t{r[2]} + 1);
    }
  }
  if (cpuid(0x80000000U)[0] < 0x80000005U) return 0;
  return static_cast<std::size_t>(cpuid(0x80000005U)[2] >> 24) * 1024;
}
#else
InstructionSet detect_cpu() {
  return InstructionSet::scalar;
}
std::size_t detect_l2_bytes() {
  return 0;
}
std::size_t detect_l1d_bytes() {
  return 0;
}
#endif

constexpr InstructionSet best_compiled_in() {
#if defined(KORVANE_HAVE_AVX512)
  return InstructionSet::avx512;
#elif defined(KORVANE_HAVE_AVX2_FMA)
  return InstructionSet::avx2_fma;
#elif defined(KORVANE_HAVE_AVX2)
  return InstructionSet::avx2;
#else
  return InstructionSet::scalar;
#endif
}

#if defined(KORVANE_HAVE_NEON)
constexpr bool neon_compiled_in = true;
#else
constexpr bool neon_compiled_in = false;
#endif

// The one piece of process-wide state: the level and the cache sizes, each
// read the first time it is asked for; 0 means not yet read. Racing first
// calls all compute the same value, so a relaxed atomic is enough.
template <class Read>
std::size_t read_once(std::atomic<std::size_t>& value, Read read) {
  std::size_t v = value.load(std::memory_order_relaxed);
  if (v == 0) value.store(v = read(), std::memory_order_relaxed);
  return v;
}
std::atomic<std::size_t> detected_level{0}, detected_l2_bytes{0}, detected_l1d_bytes{0};

int cpu_level() {  // stored plus 1
  const auto read = [] { return static_cast<std::size_t>(detect_cpu()) + 1; };
  return static_cast<int>(read_once(detected_level, read)) - 1;
}

}  // namespace

InstructionSet instruction_set_from(const CpuidRecord& cpu) {
  const auto bit = [](std::uint32_t value, int n) { return ((value >> n) & 1U) != 0; };
  const std::uint32_t ecx1 = cpu.leaf1[2];
  const std::uint32_t ebx7 = cpu.leaf7[1];
  constexpr std::uint64_t kSseAvxState = 0x6;   // XMM and YMM upper halves
  constexpr std::uint64_t kAvx512State = 0xE6;  // plus opmask, ZMM0-15 upper, ZMM16-31
  // OSXSAVE, AVX with its state saved, and AVX2.
  if (cpu.leaf0[0] < 7 || !bit(ecx1, 27) || !bit(ecx1, 28) ||
      (cpu.xcr0 & kSseAvxState) != kSseAvxState || !bit(ebx7, 5))
    return InstructionSet::scalar;
  // Levels are ordered, so a CPU at the AVX-512 level may be given the AVX2 +
  // FMA3 variant too: it must have FMA3.
  if (!bit(ecx1, 12)) return InstructionSet::avx2;
  if (bit(ebx7, 16) && (cpu.xcr0 & kAvx512State) == kAvx512State) return InstructionSet::avx512;
  return InstructionSet::avx2_fma;
}

// Not reported (and never read on other than x86): 256 KB of L2 and 32 KB of
// L1, the smallest of the cores the vector variants run on (Intel's client
// cores from Haswell on); a smaller block only costs a little more streaming.
std::size_t l2_cache_bytes() {
  return read_once(detected_l2_bytes, [] {
    const std::size_t bytes = detect_l2_bytes();
    return bytes > 0 ? bytes : std::size_t{256} * 1024;
  });
}

std::size_t l1_data_cache_bytes() {
  return read_once(detected_l1d_bytes, [] {
    const std::size_t bytes = detect_l1d_bytes();
    return bytes > 0 ? bytes : std::size_t{32} * 1024;
  });
}

const char* instruction_set_name(InstructionSet isa) {
  static constexpr const char* kNames[] = {"scalar", "avx2", "avx2_fma", "avx512", "neon"};
  const auto n = static_cast<std::size_t>(isa);
  return n < std::size(kNames) ? kNames[n] : "scalar";
}

bool instruction_set_available(InstructionSet isa) {
  if (isa == InstructionSet::neon) return neon_compiled_in;
  const int level = static_cast<int>(isa);
  return level <= static_cast<int>(best_compiled_in()) && level <= cpu_level();
}

InstructionSet active_instruction_set() {
  if constexpr (neon_compiled_in) return InstructionSet::neon;
  const int level = cpu_level();
  const int compiled = static_cast<int>(best_compiled_in());
  return static_cast<InstructionSet>(level < compiled ? level : compiled);
}

}  // namespace korvane
