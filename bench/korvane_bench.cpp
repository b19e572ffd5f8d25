// Kernel throughput: the plain loops against every available variant, per
// shape, plus the cost of merely filling the result. Pairwise rows report
// steps per ns (one step = one entry and coordinate); weighted rows report
// cycles per pair (at the TSC rate the library reads).
//
// The same run measures this core's limits with small synthetic loops and
// ends with a table of every kernel figure as a fraction of them:
//   add-port bound   independent vector adds: an exact step needs a subtract
//                    and an add, so steps/ns = add lanes per ns / 2;
//   all-pipes bound  adds and multiplies mixed: a step needs a subtract, a
//                    multiply and an add, so steps/ns = lanes per ns / 3;
//   add latency      one dependent chain of adds.
// A weighted pair's floor is the larger of one add latency (each c(k) takes
// one dependent add per pair) and 4 lane-operations per coordinate spread
// over all pipes; each weighted shape is also compared with merely reading
// b as often as its loops must, and Q in place. Small D is compared with
// filling the result.
//   build/bench/korvane_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KORVANE_BENCH_X86_LIMITS 1
#endif

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"

namespace {

using korvane::InstructionSet;
using korvane::MatrixView;

struct Shape {
  std::size_t dim, n_a, n_b;
};

const Shape kPairwiseShapes[] = {
    {2, 2000, 2000},  {3, 2000, 2000}, {16, 2000, 2000}, {64, 1000, 1000},  {256, 500, 500},
    {1024, 256, 256}, {3, 100000, 8},  {128, 20000, 16}, {512, 2000, 2000}, {1024, 2000, 2000}};
// Above this many steps the plain loops and the scalar variant take seconds
// per run and are left out.
constexpr double kSlowVariantSteps = 1e9;
// (16, 1024, 1000): Q's columns 8 KB apart, so that its rows share cache sets.
const Shape kWeightedShapes[] = {
    {3, 2000, 2000}, {16, 1000, 1000}, {64, 500, 500}, {256, 300, 300}, {16, 1024, 1000}};

std::vector<double> random_matrix(std::size_t n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> v(n);
  for (double& x : v) x = dist(gen);
  return v;
}

// The plain loops, in the fixed order.
void plain_pairwise(MatrixView a, MatrixView b, MatrixView C) {
  for (std::size_t i = 0; i < a.cols; ++i)
    for (std::size_t j = 0; j < b.cols; ++j) {
      double s = 0.0;
      for (std::size_t k = 0; k < a.rows; ++k) {
        const double t = a.data[k + a.rows * i] - b.data[k + a.rows * j];
        s = s + t * t;
      }
      C.data[i + C.rows * j] = s;
    }
}

void plain_weighted(MatrixView a, MatrixView b, MatrixView Q, MatrixView c) {
  for (std::size_t k = 0; k < a.rows; ++k) c.data[k] = 0.0;
  for (std::size_t i = 0; i < a.cols; ++i)
    for (std::size_t j = 0; j < b.cols; ++j) {
      const double w = Q.data[i + a.cols * j];
      for (std::size_t k = 0; k < a.rows; ++k) {
        const double t = a.data[k + a.rows * i] - b.data[k + a.rows * j];
        c.data[k] = c.data[k] + (w * t) * t;
      }
    }
}

// Where every array starts: 16 bytes past a 64-byte line, as glibc's malloc
// places large blocks (and so most of Octave's large arrays). Left to the
// heap, an array lands on a line or off it from one run to the next, and the
// weighted loop's speed moves with b's place: on AMD Zen 5, b on a line ran
// 6-13% slower at D = 32-96 with 300-700 columns and 1.2-1.3x faster at
// D = 256. The weighted shapes therefore run a second time with b on a line.
constexpr std::size_t kHostOffset = 16;
constexpr std::size_t kOnLine = 0;

// Doubles that start offset bytes past a 64-byte line.
class Placed {
 public:
  Placed(const std::vector<double>& values, std::size_t offset)
      : storage_(values.size() + 8), size_(values.size()) {
    data_ = storage_.data();  // aligned to at least 8 bytes
    while (reinterpret_cast<std::uintptr_t>(data_) % 64 != offset) ++data_;
    std::copy(values.begin(), values.end(), data_);
  }
  Placed(const Placed&) = delete;
  Placed& operator=(const Placed&) = delete;
  double* data() { return data_; }
  double* begin() { return data_; }
  double* end() { return data_ + size_; }

 private:
  std::vector<double> storage_;
  std::size_t size_;
  double* data_;
};

struct Problem {
  explicit Problem(const Shape& s, std::size_t b_offset = kHostOffset)
      : shape(s),
        a(random_matrix(s.dim * s.n_a, 1), kHostOffset),
        b(random_matrix(s.dim * s.n_b, 2), b_offset),
        q(random_matrix(s.n_a * s.n_b, 3), kHostOffset),
        result(std::vector<double>(std::max(s.n_a * s.n_b, s.dim)), kHostOffset) {}
  MatrixView av() { return {shape.dim, shape.n_a, a.data()}; }
  MatrixView bv() { return {shape.dim, shape.n_b, b.data()}; }
  MatrixView qv() { return {shape.n_a, shape.n_b, q.data()}; }
  Shape shape;
  Placed a, b, q, result;
};

// The names of the weighted runs that only read b, and only Q.
constexpr const char* kReadsOfB = "b_reads";
constexpr const char* kReadsOfQ = "q_reads";

// The name of a weighted run of how with b at b_offset.
std::string placed_name(const std::string& how, std::size_t b_offset) {
  return b_offset == kOnLine ? "b_on_line/" + how : how;
}

std::string shape_name(const char* kind, const Shape& s, const char* how) {
  return std::string(kind) + "/D=" + std::to_string(s.dim) + "/" + std::to_string(s.n_a) + "x" +
         std::to_string(s.n_b) + "/" + how;
}

std::string shape_label(const Shape& s) {
  return "D=" + std::to_string(s.dim) + " " + std::to_string(s.n_a) + "x" + std::to_string(s.n_b);
}

void set_pairwise_counters(benchmark::State& state, const Shape& s) {
  const double steps = static_cast<double>(s.dim) * static_cast<double>(s.n_a * s.n_b);
  state.counters["steps/ns"] =
      benchmark::Counter(steps * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
}

void set_weighted_counters(benchmark::State& state, const Shape& s) {
  const double pairs = static_cast<double>(s.n_a * s.n_b);
  const double cycles_per_second = benchmark::CPUInfo::Get().cycles_per_second;
  state.counters["cycles/pair"] =
      benchmark::Counter(pairs / cycles_per_second, benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void read_passes(const double* data, std::size_t count, int passes);
void read_weights_by_rows(const double* q, std::size_t n_a, std::size_t n_b);

void register_all() {
  std::vector<std::pair<InstructionSet, std::string>> variants;
  for (InstructionSet isa : {InstructionSet::scalar, InstructionSet::avx2, InstructionSet::avx2_fma,
                             InstructionSet::avx512, InstructionSet::neon}) {
    if (korvane::instruction_set_available(isa)) {
      variants.emplace_back(isa, korvane::instruction_set_name(isa));
    }
  }
  for (const Shape& s : kPairwiseShapes) {
    benchmark::RegisterBenchmark(
        shape_name("pairwise", s, "fill").c_str(), [s](benchmark::State& st) {
          Problem p(s);
          for (auto _ : st) {
            std::fill(p.result.begin(),
                      p.result.begin() + static_cast<std::ptrdiff_t>(s.n_a * s.n_b), 1.0);
            benchmark::ClobberMemory();
          }
          set_pairwise_counters(st, s);
        });
    const bool slow =
        static_cast<double>(s.dim) * static_cast<double>(s.n_a * s.n_b) > kSlowVariantSteps;
    if (!slow)
      benchmark::RegisterBenchmark(
          shape_name("pairwise", s, "plain_loops").c_str(), [s](benchmark::State& st) {
            Problem p(s);
            for (auto _ : st) {
              plain_pairwise(p.av(), p.bv(), {s.n_a, s.n_b, p.result.data()});
              benchmark::ClobberMemory();
            }
            set_pairwise_counters(st, s);
          });
    for (const auto& [isa, name] : variants) {
      if (slow && isa == InstructionSet::scalar) continue;
      benchmark::RegisterBenchmark(shape_name("pairwise", s, name.c_str()).c_str(),
                                   [s, isa = isa](benchmark::State& st) {
                                     Problem p(s);
                                     for (auto _ : st) {
                                       korvane::pairwise_squared_distances(
                                           isa, p.av(), p.bv(), {s.n_a, s.n_b, p.result.data()});
                                       benchmark::ClobberMemory();
                                     }
                                     set_pairwise_counters(st, s);
                                   });
    }
  }
  for (const Shape& s : kWeightedShapes) {
    // A weighted run named how, that calls run(p) on a problem with b at
    // b_offset.
    const auto weighted_run = [&s](const std::string& how, std::size_t b_offset, auto run) {
      benchmark::RegisterBenchmark(
          shape_name("weighted", s, placed_name(how, b_offset).c_str()).c_str(),
          [s, b_offset, run](benchmark::State& st) {
            Problem p(s, b_offset);
            for (auto _ : st) {
              run(p);
              benchmark::ClobberMemory();
            }
            set_weighted_counters(st, s);
          });
    };
    weighted_run("plain_loops", kHostOffset, [s](Problem& p) {
      plain_weighted(p.av(), p.bv(), p.qv(), {s.dim, 1, p.result.data()});
    });
    // b alone, read end to end once per column of a, as the fixed order of
    // terms makes every weighted loop read it: what reading b costs by
    // itself, at this size and place. Not quite a bound: with b 16 bytes past
    // a line, a loop whose arithmetic spaces out its loads took up to 5% less
    // on AMD Zen 5 (D = 64).
    for (const std::size_t b_offset : {kHostOffset, kOnLine}) {
      weighted_run(kReadsOfB, b_offset, [s](Problem& p) {
        read_passes(p.b.data(), s.dim * s.n_b, static_cast<int>(s.n_a));
      });
    }
    weighted_run(kReadsOfQ, kHostOffset,
                 [s](Problem& p) { read_weights_by_rows(p.q.data(), s.n_a, s.n_b); });
    for (const auto& [isa, name] : variants) {
      for (const std::size_t b_offset : {kHostOffset, kOnLine}) {
        weighted_run(name, b_offset, [s, isa = isa](Problem& p) {
          korvane::weighted_coordinate_sums(isa, p.av(), p.bv(), p.qv(),
                                            {s.dim, 1, p.result.data()});
        });
      }
    }
  }
}

// ---- This core's limits, measured with small synthetic loops ----
//
// Each loop is plain vector adds or multiplies on independent registers, so
// nothing can be contracted or folded; the counts per trip are chosen so
// that more chains are in flight than the pipes' latency needs.

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Values the compiler cannot see through: a multiply by them is not x * 1.0.
volatile double g_step = 1e-9;
volatile double g_factor = 1.0;
volatile double g_sink = 0.0;

// GCC's vectors of doubles, Bytes wide.
template <int Bytes>
struct Vector {
  typedef double type __attribute__((vector_size(Bytes)));
};

#if defined(KORVANE_BENCH_X86_LIMITS)
// The same loops in 256-bit and, where the CPU has AVX-512, 512-bit vectors:
// the wider ones are the limit when the core runs them at full width (AMD
// Zen 5), and give the same lanes per ns when it splits them (Zen 4).
//
// Adds independent add chains beside Muls multiply chains: Adds + Muls
// vector operations per trip. The mixed loops need more chains in flight on
// a core that runs zmm at full width: seven of each fill the 16 ymm
// registers, and on AMD Zen 5 7 + 7 zmm chains reach about 0.85 of 12 + 12.
template <int Bytes, int Adds, int Muls>
inline __attribute__((always_inline)) void chains_of(long trips) {
  using V = typename Vector<Bytes>::type;
  const V y = V{} + g_step;
  const V m = V{} + g_factor;
  V x[Adds + Muls];
  for (int q = 0; q < Adds + Muls; ++q) x[q] = V{} + (q + 1);
  for (long r = 0; r < trips; ++r) {
#pragma GCC unroll 12
    for (int q = 0; q < Adds; ++q) x[q] = x[q] + y;
#pragma GCC unroll 12
    for (int q = Adds; q < Adds + Muls; ++q) x[q] = x[q] * m;
  }
  V s = x[0];
  for (int q = 1; q < Adds + Muls; ++q) s = s + x[q];
  g_sink = s[0];
}
__attribute__((target("avx2"), noinline)) void add_chains_256(long trips) {
  chains_of<32, 12, 0>(trips);
}
__attribute__((target("avx2"), noinline)) void mixed_chains_256(long trips) {
  chains_of<32, 7, 7>(trips);
}
__attribute__((target("avx512f"), noinline)) void add_chains_512(long trips) {
  chains_of<64, 12, 0>(trips);
}
__attribute__((target("avx512f"), noinline)) void mixed_chains_512(long trips) {
  chains_of<64, 12, 12>(trips);
}
const bool kWide = korvane::instruction_set_available(korvane::InstructionSet::avx512);
const double kLanesPerVector = kWide ? 8.0 : 4.0;
void add_chains(long trips) {
  kWide ? add_chains_512(trips) : add_chains_256(trips);
}
void mixed_chains(long trips) {
  kWide ? mixed_chains_512(trips) : mixed_chains_256(trips);
}
constexpr double kAddsPerTrip = 12.0;
const double kMixedPerTrip = kWide ? 24.0 : 14.0;
#else
constexpr double kLanesPerVector = 1.0;
__attribute__((noinline)) void add_chains(long trips) {
  const double y = g_step;
  double x0 = 0, x1 = 1, x2 = 2, x3 = 3, x4 = 4, x5 = 5, x6 = 6, x7 = 7;
  for (long r = 0; r < trips; ++r) {
    x0 += y, x1 += y, x2 += y, x3 += y, x4 += y, x5 += y, x6 += y, x7 += y;
  }
  g_sink = x0 + x1 + x2 + x3 + x4 + x5 + x6 + x7;
}
__attribute__((noinline)) void mixed_chains(long trips) {
  const double y = g_step;
  const double m = g_factor;
  double x0 = 1, x1 = 2, x2 = 3, x3 = 4, x4 = 5, x5 = 6, x6 = 7, x7 = 8;
  for (long r = 0; r < trips; ++r) {
    x0 += y, x1 += y, x2 += y, x3 += y, x4 *= m, x5 *= m, x6 *= m, x7 *= m;
  }
  g_sink = x0 + x1 + x2 + x3 + x4 + x5 + x6 + x7;
}
constexpr double kAddsPerTrip = 8.0;
constexpr double kMixedPerTrip = 8.0;
#endif

__attribute__((noinline)) void add_chain(long adds) {
  double x = 1.0;
  const double y = g_step;
  for (long r = 0; r < adds; ++r) x = x + y;
  g_sink = x;
}

// Reads count doubles passes times over, in vectors of Bytes with eight
// independent sums, so that add latency cannot bound it (four 256-bit sums
// with a 3-cycle add, as on AMD Zen 4, would take at most 43 bytes per
// cycle). The rest past whole vectors is read one double at a time.
template <int Bytes>
inline __attribute__((always_inline)) void read_passes_of(const double* data, std::size_t count,
                                                          int passes) {
  using V = typename Vector<Bytes>::type;
  constexpr std::size_t kLanes = Bytes / sizeof(double);
  constexpr std::size_t kSums = 8;
  V s[kSums] = {};
  double rest = 0.0;
  for (int p = 0; p < passes; ++p) {
    std::size_t e = 0;
    for (; e + kLanes * kSums <= count; e += kLanes * kSums) {
#pragma GCC unroll 8
      for (std::size_t q = 0; q < kSums; ++q) {
        V v;
        std::memcpy(&v, data + e + kLanes * q, sizeof v);
        s[q] = s[q] + v;
      }
    }
    for (; e + kLanes <= count; e += kLanes) {
      V v;
      std::memcpy(&v, data + e, sizeof v);
      s[0] = s[0] + v;
    }
    for (; e < count; ++e) rest = rest + data[e];
  }
  V total = s[0];
  for (std::size_t q = 1; q < kSums; ++q) total = total + s[q];
  g_sink = total[0] + rest;
}

// The same in the widest vectors the variants use.
#if defined(KORVANE_BENCH_X86_LIMITS)
__attribute__((target("avx2"), noinline)) void read_passes_256(const double* data,
                                                               std::size_t count, int passes) {
  read_passes_of<32>(data, count, passes);
}
__attribute__((target("avx512f"), noinline)) void read_passes_512(const double* data,
                                                                  std::size_t count, int passes) {
  read_passes_of<64>(data, count, passes);
}
void read_passes(const double* data, std::size_t count, int passes) {
  kWide ? read_passes_512(data, count, passes) : read_passes_256(data, count, passes);
}
#else
__attribute__((noinline)) void read_passes(const double* data, std::size_t count, int passes) {
  read_passes_of<32>(data, count, passes);
}
#endif

// Q alone, one weight per pair in the fixed order (along each row of Q,
// whose columns lie n_a doubles apart), each line asked for 16 pairs ahead
// as the 512-bit loop asks for it, with eight independent sums: what reading
// Q in place costs by itself. Where a row's lines outgrow L1, each pair
// brings a line from L2 or beyond for the 8 bytes it uses.
__attribute__((noinline)) void read_weights_by_rows(const double* q, std::size_t n_a,
                                                    std::size_t n_b) {
  constexpr std::size_t kAhead = 16;
  double s[8] = {};
  for (std::size_t i = 0; i < n_a; ++i) {
    const double* row = q + i;
    std::size_t j = 0;
    for (; j + kAhead + 8 <= n_b; j += 8) {
#pragma GCC unroll 8
      for (std::size_t u = 0; u < 8; ++u) {
        __builtin_prefetch(row + (j + u + kAhead) * n_a);
        s[u] = s[u] + row[(j + u) * n_a];
      }
    }
    for (; j + 8 <= n_b; j += 8) {
#pragma GCC unroll 8
      for (std::size_t u = 0; u < 8; ++u) s[u] = s[u] + row[(j + u) * n_a];
    }
    for (; j < n_b; ++j) s[0] = s[0] + row[j * n_a];
  }
  double total = 0.0;
  for (const double x : s) total = total + x;
  g_sink = total;
}

struct Limits {
  double add_lanes_per_ns = 0;    // independent vector adds
  double mixed_lanes_per_ns = 0;  // adds and multiplies mixed
  double add_latency_ns = 0;      // one dependent add
  double l2_bytes_per_ns = 0;     // reads served by L2
  double add_port_steps_per_ns() const { return add_lanes_per_ns / 2.0; }
  double all_pipes_steps_per_ns() const { return mixed_lanes_per_ns / 3.0; }
};

// Median of 5 runs of about 0.1 s each, in CPU time.
template <class F>
double median_seconds(F&& run) {
  std::vector<double> t;
  for (int r = 0; r < 5; ++r) {
    const double start = cpu_seconds();
    run();
    t.push_back(cpu_seconds() - start);
  }
  std::sort(t.begin(), t.end());
  return t[2];
}

Limits measure_limits() {
  constexpr long kTrips = 30000000;
  Limits l;
  l.add_lanes_per_ns = kAddsPerTrip * kLanesPerVector * static_cast<double>(kTrips) * 1e-9 /
                       median_seconds([] { add_chains(kTrips); });
  l.mixed_lanes_per_ns = kMixedPerTrip * kLanesPerVector * static_cast<double>(kTrips) * 1e-9 /
                         median_seconds([] { mixed_chains(kTrips); });
  l.add_latency_ns =
      median_seconds([] { add_chain(kTrips * 4); }) * 1e9 / static_cast<double>(kTrips * 4);
  // Half the L2 cache (several times L1), read over and over: the rate at
  // which L2 feeds the core at its best. Smaller sets came slower on AMD
  // Zen 5 (1 MB L2): 208-216 bytes/ns at 128-400 KB, the sizes of b in the
  // weighted shapes at D = 16 and 64, against 230-280 at 512-600 KB (by
  // where the buffer lay) and 163 at 1 MB. So the L2 bound in the table is
  // this best rate; the b reads column gives the rate at b's own size.
  const std::vector<double> buffer(korvane::l2_cache_bytes() / 2 / sizeof(double), 1.0);
  const double bytes = static_cast<double>(buffer.size() * sizeof(double));
  const int passes = static_cast<int>(4e9 / bytes);
  l.l2_bytes_per_ns = bytes * passes * 1e-9 / median_seconds([&buffer, passes] {
                        read_passes(buffer.data(), buffer.size(), passes);
                      });
  return l;
}

// ---- The closing table ----

// Keeps each benchmark's CPU time per iteration while the console shows the
// usual report.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        seconds_[run.benchmark_name()] =
            run.cpu_accumulated_time / static_cast<double>(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const std::map<std::string, double>& seconds() const { return seconds_; }

 private:
  std::map<std::string, double> seconds_;
};

void print_table(const Limits& l, const std::map<std::string, double>& seconds) {
  std::printf(
      "\nThis core, %d-bit vectors: %.1f add lanes/ns, %.1f lanes/ns with adds and multiplies "
      "mixed, add latency %.3f ns\n",
      static_cast<int>(64 * kLanesPerVector), l.add_lanes_per_ns, l.mixed_lanes_per_ns,
      l.add_latency_ns);
  std::printf("Bounds: add-port %.2f steps/ns, all-pipes %.2f steps/ns; L2 reads %.1f bytes/ns\n\n",
              l.add_port_steps_per_ns(), l.all_pipes_steps_per_ns(), l.l2_bytes_per_ns);
  const char* variants[] = {"scalar", "avx2", "avx2_fma", "avx512", "neon"};
  // Each table's heading stands only above rows that the filter ran.
  bool pairwise_rows = false;
  for (const Shape& s : kPairwiseShapes) {
    const double steps = static_cast<double>(s.dim) * static_cast<double>(s.n_a * s.n_b);
    const auto fill = seconds.find(shape_name("pairwise", s, "fill"));
    for (const char* v : variants) {
      const auto it = seconds.find(shape_name("pairwise", s, v));
      if (it == seconds.end()) continue;
      if (!pairwise_rows)
        std::printf("%-30s %-8s %9s %9s %10s %9s\n", "pairwise", "variant", "steps/ns", "add-port",
                    "all-pipes", "x fill");
      pairwise_rows = true;
      const double rate = steps * 1e-9 / it->second;
      std::printf("%-30s %-8s %9.2f %9.2f %10.2f", shape_label(s).c_str(), v, rate,
                  rate / l.add_port_steps_per_ns(), rate / l.all_pipes_steps_per_ns());
      if (s.dim <= 3 && fill != seconds.end()) std::printf(" %9.2f", it->second / fill->second);
      std::printf("\n");
    }
  }
  // floor: one dependent add per pair, or 4 lane-operations per coordinate
  // on all pipes. L2 bound: the least each pair must bring from L2 or beyond
  // at the measured rate, since the fixed order reads all of b again for
  // every i: b's D coordinates and Q's 8-byte weight (read in place, Q in
  // fact brings a whole line per pair; copied side by side, a line per 8).
  // b reads, Q reads: the time to read b alone as often, at the same place,
  // and Q alone in place; x reads is against the slower of the two.
  const auto weighted_time = [&](const Shape& s, const std::string& how, std::size_t b_offset) {
    const auto it = seconds.find(shape_name("weighted", s, placed_name(how, b_offset).c_str()));
    return it == seconds.end() ? 0.0 : it->second;
  };
  const std::size_t offsets[] = {kHostOffset, kOnLine};
  // The reads columns stand in the heading only if some shape has both.
  bool reads_rows = false;
  for (const Shape& s : kWeightedShapes)
    for (const std::size_t b_offset : offsets)
      reads_rows = reads_rows || (weighted_time(s, kReadsOfB, b_offset) > 0 &&
                                  weighted_time(s, kReadsOfQ, kHostOffset) > 0);
  bool weighted_rows = false;
  for (const Shape& s : kWeightedShapes) {
    const double pairs = static_cast<double>(s.n_a * s.n_b);
    const double floor_ns =
        std::max(l.add_latency_ns, 4.0 * static_cast<double>(s.dim) / l.mixed_lanes_per_ns);
    const double l2_ns = (8.0 * static_cast<double>(s.dim) + 8.0) / l.l2_bytes_per_ns;
    const double q_ns = weighted_time(s, kReadsOfQ, kHostOffset) * 1e9 / pairs;
    double b_ns[2];
    for (int o = 0; o < 2; ++o) b_ns[o] = weighted_time(s, kReadsOfB, offsets[o]) * 1e9 / pairs;
    for (const char* v : variants) {
      for (int o = 0; o < 2; ++o) {
        const std::size_t b_offset = offsets[o];
        const double ns = weighted_time(s, v, b_offset) * 1e9 / pairs;
        if (ns == 0) continue;
        if (!weighted_rows) {
          std::printf("%s%-30s %-9s %9s %9s %10s %9s %9s", pairwise_rows ? "\n" : "", "weighted",
                      "variant", "ns/pair", "floor", "x floor", "L2 bound", "x L2");
          std::printf(reads_rows ? " %9s %9s %9s\n" : "\n", "b reads", "Q reads", "x reads");
        }
        weighted_rows = true;
        std::printf("%-30s %-9s %9.2f %9.2f %10.2f %9.2f %9.2f", shape_label(s).c_str(),
                    (std::string(v) + (b_offset == kOnLine ? "*" : "")).c_str(), ns, floor_ns,
                    ns / floor_ns, l2_ns, ns / l2_ns);
        if (b_ns[o] > 0 && q_ns > 0)
          std::printf(" %9.2f %9.2f %9.2f", b_ns[o], q_ns, ns / std::max(b_ns[o], q_ns));
        std::printf("\n");
      }
    }
  }
  if (weighted_rows)
    std::printf("* b on a 64-byte line; every other array, and b elsewhere, 16 bytes past one\n");
  if (reads_rows)
    std::printf(
        "x reads: against the slower of b reads and Q reads (Q read in place; below 1 where the\n"
        "loop copies rows of Q instead)\n");
}

// Whether the command line only asks for the benchmarks' names, as
// --benchmark_list_tests does with no value or one that Google Benchmark
// reads as true: then nothing is measured.
bool only_lists_names(int argc, char** argv) {
  const std::string flag = "--benchmark_list_tests";
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == flag) listing = true;
    if (arg.rfind(flag + "=", 0) != 0) continue;
    std::string value = arg.substr(flag.size() + 1);
    for (char& ch : value) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    listing = !value.empty() && value != "0" && value != "f" && value != "n" && value != "false" &&
              value != "no" && value != "off";
  }
  return listing;
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  const bool listing = only_lists_names(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (listing) {
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  }
  const Limits before = measure_limits();
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Limits measured on both sides of the run: the better of each is the one
  // that the load on a shared machine disturbed least.
  const Limits after = measure_limits();
  Limits best;
  best.add_lanes_per_ns = std::max(before.add_lanes_per_ns, after.add_lanes_per_ns);
  best.mixed_lanes_per_ns = std::max(before.mixed_lanes_per_ns, after.mixed_lanes_per_ns);
  best.add_latency_ns = std::min(before.add_latency_ns, after.add_latency_ns);
  best.l2_bytes_per_ns = std::max(before.l2_bytes_per_ns, after.l2_bytes_per_ns);
  print_table(best, reporter.seconds());
  benchmark::Shutdown();
  return 0;
}
