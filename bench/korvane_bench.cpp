// Kernel throughput per shape: the plain loops, every variant this build and
// CPU run, and merely filling the result; pairwise in steps per ns (a step is
// one entry and coordinate), weighted in cycles per pair (TSC rate). Shapes:
// the README's and those docs/tuning.md cites. Besides the variants:
//   pairwise .../l2=1G       the active variant, blocks sized for a 1 GB L2;
//   weighted .../avx512_loop the 512-bit loop where D <= 16 could go to either.
// The closing table gives each median (over --benchmark_repetitions) as a
// fraction of this core's limits, measured before and after the run:
//   add-port   independent vector adds; a step takes a subtract and an add;
//   all-pipes  adds and multiplies mixed; a subtract, a multiply and an add;
//   floor      weighted: one dependent add per pair, or 4 lane operations per
//              coordinate on all pipes; L2 bound, b's D coordinates and one
//              weight per pair at L2's best read rate.
//   build/bench/korvane_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#if defined(KORVANE_HAVE_AVX512)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"

namespace {

using korvane::InstructionSet;
using korvane::MatrixView;

struct Shape {
  std::size_t dim, n_a, n_b;
};

// The README's ten, then odd edge-heavy ones.
const Shape kPairwiseShapes[] = {
    {2, 2000, 2000},  {3, 2000, 2000}, {16, 2000, 2000}, {64, 1000, 1000},  {256, 500, 500},
    {1024, 256, 256}, {3, 100000, 8},  {128, 20000, 16}, {512, 2000, 2000}, {1024, 2000, 2000},
    {5, 37, 3001},    {33, 1001, 9},   {7, 333, 77},     {100, 129, 131},   {1, 5000, 5000}};
// The README's four, the odd ones, then the dispatcher's boundaries (D <= 4,
// few or many columns of b), Q far larger than L2, the lead at D = 8 m, and
// more coordinates than one sweep holds, Q's columns a multiple of 2 KB apart.
const Shape kWeightedShapes[] = {
    {3, 2000, 2000},  {16, 1000, 1000}, {64, 500, 500},   {256, 300, 300}, {8, 300, 300},
    {24, 1500, 1500}, {130, 300, 300},  {5, 1000, 7},     {3, 2000, 16},   {4, 2000, 24},
    {12, 1000, 16},   {16, 300, 3000},  {16, 1500, 1500}, {32, 2000, 8},   {128, 300, 300},
    {104, 300, 300},  {300, 300, 300},  {640, 200, 200},  {3, 2048, 2048}, {16, 1024, 1024}};
// Above this many steps the plain loops and the scalar variant take seconds
// per run and are left out.
constexpr double kSlowVariantSteps = 1e9;
constexpr std::size_t kHugeL2 = std::size_t{1} << 30;

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

#if defined(KORVANE_HAVE_AVX512)
// With --weighted_reads, .../reads: only the reads that the fixed order
// forces, gathered by independent ORs with no arithmetic chain: Q streamed
// once in storage order (n_b of its weights per point of a, whichever) and
// b's D coordinates once per point of a.
bool g_weighted_reads = false;
__attribute__((target("avx512f"), noinline)) void forced_reads(MatrixView a, MatrixView b,
                                                               MatrixView Q, MatrixView c) {
  const std::size_t dim = a.rows;
  const __mmask8 tail = static_cast<__mmask8>((1U << (dim % 8)) - 1);
  __m512i s[4] = {};
  long long w = 0;
  for (std::size_t i = 0; i < a.cols; ++i) {
    for (std::size_t j = 0; j < b.cols; ++j) {
      long long x;
      std::memcpy(&x, Q.data + i * b.cols + j, sizeof x);
      w |= x;
      const double* bj = b.data + dim * j;
      std::size_t k = 0;
      for (; k + 32 <= dim; k += 32)
        for (int v = 0; v < 4; ++v)
          s[v] = _mm512_or_si512(s[v], _mm512_loadu_si512(bj + k + 8 * v));
      for (; k + 8 <= dim; k += 8) s[0] = _mm512_or_si512(s[0], _mm512_loadu_si512(bj + k));
      if (k < dim) s[1] = _mm512_or_si512(s[1], _mm512_maskz_loadu_epi64(tail, bj + k));
    }
  }
  const __m512i all = _mm512_or_si512(_mm512_or_si512(s[0], s[1]), _mm512_or_si512(s[2], s[3]));
  long long lanes[8];
  _mm512_storeu_si512(lanes, all);
  for (long long lane : lanes) w |= lane;
  if (dim > 0) std::memcpy(c.data, &w, sizeof w);
}
#endif

// count values in [-1, 1), starting 16 bytes past a 64-byte line as glibc's
// malloc places large blocks (and so most of Octave's): left to the heap, the
// weighted loops' speed moves with where b lands from one run to the next.
struct Placed {
  Placed(std::size_t count, unsigned seed) : storage(count + 8) {
    while (reinterpret_cast<std::uintptr_t>(data()) % 64 != 16) ++skip;
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (std::size_t e = 0; e < count; ++e) data()[e] = dist(gen);
  }
  double* data() { return storage.data() + skip; }
  std::vector<double> storage;  // aligned to at least 8 bytes
  std::size_t skip = 0;
};

struct Problem {
  explicit Problem(const Shape& s)
      : shape(s),
        a(s.dim * s.n_a, 1),
        b(s.dim * s.n_b, 2),
        q(s.n_a * s.n_b, 3),
        result(std::max(s.n_a * s.n_b, s.dim), 4) {}
  MatrixView av() { return {shape.dim, shape.n_a, a.data()}; }
  MatrixView bv() { return {shape.dim, shape.n_b, b.data()}; }
  MatrixView qv() { return {shape.n_a, shape.n_b, q.data()}; }
  MatrixView cv() { return {shape.n_a, shape.n_b, result.data()}; }
  MatrixView sums() { return {shape.dim, 1, result.data()}; }
  Shape shape;
  Placed a, b, q, result;
};

std::string shape_name(const char* kind, const Shape& s, const std::string& how) {
  return std::string(kind) + "/D=" + std::to_string(s.dim) + "/" + std::to_string(s.n_a) + "x" +
         std::to_string(s.n_b) + "/" + how;
}

std::string label(const Shape& s) {
  return "D=" + std::to_string(s.dim) + " " + std::to_string(s.n_a) + "x" + std::to_string(s.n_b);
}

double steps_of(const Shape& s) {
  return static_cast<double>(s.dim) * static_cast<double>(s.n_a * s.n_b);
}

// Registers kind/shape/how, timing run(p) on one problem.
template <class Run>
void add_run(const char* kind, const Shape& s, const std::string& how, Run run) {
  const bool pairwise = kind[0] == 'p';
  benchmark::RegisterBenchmark(shape_name(kind, s, how).c_str(), [=](benchmark::State& st) {
    Problem p(s);
    for (auto _ : st) {
      run(p);
      benchmark::ClobberMemory();
    }
    using C = benchmark::Counter;
    const double pairs = static_cast<double>(s.n_a * s.n_b);
    st.counters[pairwise ? "steps/ns" : "cycles/pair"] =
        pairwise ? C(steps_of(s) * 1e-9, C::kIsIterationInvariantRate)
                 : C(pairs / benchmark::CPUInfo::Get().cycles_per_second,
                     C::kIsIterationInvariantRate | C::kInvert);
  });
}

const InstructionSet kAll[] = {InstructionSet::scalar, InstructionSet::avx2,
                               InstructionSet::avx2_fma, InstructionSet::avx512,
                               InstructionSet::neon};

void register_all() {
  const InstructionSet active = korvane::active_instruction_set();
  for (const Shape& s : kPairwiseShapes) {
    const bool slow = steps_of(s) > kSlowVariantSteps;
    add_run("pairwise", s, "fill",
            [s](Problem& p) { std::fill(p.result.data(), p.result.data() + s.n_a * s.n_b, 1.0); });
    if (!slow)
      add_run("pairwise", s, "plain_loops",
              [](Problem& p) { plain_pairwise(p.av(), p.bv(), p.cv()); });
    for (const InstructionSet isa : kAll) {
      if (!korvane::instruction_set_available(isa) || (slow && isa == InstructionSet::scalar))
        continue;
      add_run("pairwise", s, korvane::instruction_set_name(isa), [isa](Problem& p) {
        korvane::pairwise_squared_distances(isa, p.av(), p.bv(), p.cv());
      });
    }
    if (active != InstructionSet::scalar)
      add_run("pairwise", s, "l2=1G", [active](Problem& p) {
        korvane::pairwise_squared_distances(active, p.av(), p.bv(), p.cv(), kHugeL2);
      });
  }
  for (const Shape& s : kWeightedShapes) {
    add_run("weighted", s, "plain_loops",
            [](Problem& p) { plain_weighted(p.av(), p.bv(), p.qv(), p.sums()); });
    for (const InstructionSet isa : kAll) {
      if (!korvane::instruction_set_available(isa)) continue;
      add_run("weighted", s, korvane::instruction_set_name(isa), [isa](Problem& p) {
        korvane::weighted_coordinate_sums(isa, p.av(), p.bv(), p.qv(), p.sums());
      });
    }
#if defined(KORVANE_HAVE_AVX512)
    if (s.dim <= 16 && korvane::instruction_set_available(InstructionSet::avx512))
      add_run("weighted", s, "avx512_loop", [s](Problem& p) {
        std::fill(p.result.data(), p.result.data() + s.dim, 0.0);
        korvane::variants::weighted_avx512(p.av(), p.bv(), p.qv(), p.sums(), 0, s.n_a);
      });
    if (g_weighted_reads && korvane::instruction_set_available(InstructionSet::avx512))
      add_run("weighted", s, "reads",
              [](Problem& p) { forced_reads(p.av(), p.bv(), p.qv(), p.sums()); });
#endif
  }
}

// ---- This core's limits, measured with small synthetic loops ----
//
// Plain vector adds or multiplies on independent registers, so nothing can be
// contracted or folded, with more chains in flight than the pipes' latency
// needs; reads into eight independent sums, so that add latency cannot bound
// them.

// Values the compiler cannot see through: a multiply by them is not x * 1.0.
volatile double g_step = 1e-9;
volatile double g_factor = 1.0;
volatile double g_sink = 0.0;

// Adds chains of adds beside Muls chains of multiplies, in GCC's vectors of
// Bytes, trips times; or, Reads, adds the count doubles of data to 8 chains,
// trips times over.
template <int Bytes, int Adds, int Muls, bool Reads = false>
inline __attribute__((always_inline)) void chains_of(long trips, const double* data = nullptr,
                                                     std::size_t count = 0) {
  typedef double V __attribute__((vector_size(Bytes)));
  constexpr std::size_t kLanes = Bytes / sizeof(double);
  const V y = V{} + g_step, m = V{} + g_factor;
  V x[Adds + Muls];
  for (int q = 0; q < Adds + Muls; ++q) x[q] = V{} + (Reads ? 0 : q + 1);
  for (long r = 0; r < trips; ++r) {
    for (std::size_t e = 0; Reads && e + kLanes * Adds <= count; e += kLanes * Adds) {
#pragma GCC unroll 8
      for (std::size_t q = 0; q < Adds; ++q) {
        V v;
        std::memcpy(&v, data + e + kLanes * q, sizeof v);
        x[q] = x[q] + v;
      }
    }
#pragma GCC unroll 12
    for (int q = 0; q < Adds && !Reads; ++q) x[q] = x[q] + y;
#pragma GCC unroll 12
    for (int q = Adds; q < Adds + Muls; ++q) x[q] = x[q] * m;
  }
  for (int q = 1; q < Adds + Muls; ++q) x[0] = x[0] + x[q];
  g_sink = x[0][0];
}

enum class Loop { adds, mixed, reads };
template <int Bytes, int Mixed>
inline __attribute__((always_inline)) void loop_of(Loop l, long n, const double* d, std::size_t c) {
  if (l == Loop::adds) chains_of<Bytes, 12, 0>(n);
  if (l == Loop::mixed) chains_of<Bytes, Mixed, Mixed>(n);
  if (l == Loop::reads) chains_of<(Bytes > 32 ? Bytes : 32), 8, 0, true>(n, d, c);
}

#if defined(__x86_64__)
// 256-bit and, where the CPU has AVX-512, 512-bit vectors: the wider are the
// limit where the core runs them at full width (AMD Zen 5), and give the same
// lanes per ns where it splits them (Zen 4). On Zen 5, 7 + 7 zmm chains of
// adds and multiplies reach about 0.85 of 12 + 12.
#define BENCH_TARGET(isa) __attribute__((target(isa), noinline))
const bool kWide = korvane::instruction_set_available(InstructionSet::avx512);
constexpr int kNarrowBytes = 32;
#else
// NEON's 128-bit vectors on 64-bit Arm, single doubles elsewhere; reads in
// 256-bit vectors of the compiler's own.
#define BENCH_TARGET(isa) __attribute__((noinline))
const bool kWide = false;
#if defined(__aarch64__)
constexpr int kNarrowBytes = 16;
#else
constexpr int kNarrowBytes = 8;
#endif
#endif
BENCH_TARGET("avx2") void loop_narrow(Loop l, long n, const double* d, std::size_t c) {
  loop_of<kNarrowBytes, 7>(l, n, d, c);
}
BENCH_TARGET("avx512f") void loop_wide(Loop l, long n, const double* d, std::size_t c) {
  loop_of<64, 12>(l, n, d, c);
}
void run_loop(Loop l, long n, const double* d = nullptr, std::size_t c = 0) {
  kWide ? loop_wide(l, n, d, c) : loop_narrow(l, n, d, c);
}
const double kLanesPerVector = kWide ? 8.0 : kNarrowBytes / 8.0;
const double kMixedPerTrip = kWide ? 24.0 : 14.0;
constexpr double kAddsPerTrip = 12.0;

__attribute__((noinline)) void add_chain(long adds) {
  double x = 1.0;
  const double y = g_step;
  for (long r = 0; r < adds; ++r) x = x + y;
  g_sink = x;
}

struct Limits {
  double add_lanes_per_ns = 0;    // independent vector adds
  double mixed_lanes_per_ns = 0;  // adds and multiplies mixed
  double add_latency_ns = 1e9;    // one dependent add
  double l2_bytes_per_ns = 0;     // reads served by L2
  double add_port_steps_per_ns() const { return add_lanes_per_ns / 2.0; }
  double all_pipes_steps_per_ns() const { return mixed_lanes_per_ns / 3.0; }
};

// Median of 5 runs of about 0.1 s each, in CPU time.
template <class F>
double median_seconds(F&& run) {
  double t[5];
  for (double& seconds : t) {
    const std::clock_t start = std::clock();
    run();
    seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  }
  std::sort(t, t + 5);
  return t[2];
}

// Measured on both sides of the run, l keeps the better of each: the one that
// the load on a shared machine disturbed least. L2's best rate: half of it
// (several times L1) read over and over; on AMD Zen 5 (1 MB L2) sets of
// 128-400 KB, as b at D = 16 and 64, came 10-20% slower.
void measure_limits(Limits& l) {
  constexpr long kTrips = 30000000;
  const double lanes = kLanesPerVector * static_cast<double>(kTrips) * 1e-9;
  const double adds = median_seconds([] { run_loop(Loop::adds, kTrips); });
  const double mixed = median_seconds([] { run_loop(Loop::mixed, kTrips); });
  const double latency = median_seconds([] { add_chain(kTrips * 4); });
  const std::vector<double> buffer(korvane::l2_cache_bytes() / 2 / sizeof(double), 1.0);
  const double bytes = static_cast<double>(buffer.size() * sizeof(double));
  const long passes = static_cast<long>(4e9 / bytes);
  const double reads =
      median_seconds([&] { run_loop(Loop::reads, passes, buffer.data(), buffer.size()); });
  l.add_lanes_per_ns = std::max(l.add_lanes_per_ns, kAddsPerTrip * lanes / adds);
  l.mixed_lanes_per_ns = std::max(l.mixed_lanes_per_ns, kMixedPerTrip * lanes / mixed);
  l.add_latency_ns = std::min(l.add_latency_ns, latency * 1e9 / (4.0 * kTrips));
  l.l2_bytes_per_ns =
      std::max(l.l2_bytes_per_ns, bytes * static_cast<double>(passes) * 1e-9 / reads);
}

// ---- The closing table ----

// Keeps the CPU time per iteration of each benchmark's repetitions while the
// console shows the usual report.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  // Called before benchmarks run, never when they are only listed.
  bool ReportContext(const Context& context) override {
    measure_limits(limits);
    return ConsoleReporter::ReportContext(context);
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        times[run.benchmark_name()].push_back(run.cpu_accumulated_time /
                                              static_cast<double>(run.iterations));
    ConsoleReporter::ReportRuns(runs);
  }
  // The median; 0 for a benchmark that did not run.
  double seconds(const std::string& name) const {
    const auto it = times.find(name);
    if (it == times.end()) return 0.0;
    std::vector<double> t = it->second;
    std::sort(t.begin(), t.end());
    const std::size_t h = t.size() / 2;
    return t.size() % 2 ? t[h] : (t[h - 1] + t[h]) / 2;
  }

  Limits limits;
  std::map<std::string, std::vector<double>> times;
};

void print_table(const Limits& l, const RecordingReporter& r) {
  std::printf(
      "\nThis core, %d-bit vectors: %.1f add lanes/ns, %.1f lanes/ns with adds and multiplies "
      "mixed, add latency %.3f ns\n",
      static_cast<int>(64 * kLanesPerVector), l.add_lanes_per_ns, l.mixed_lanes_per_ns,
      l.add_latency_ns);
  std::printf("Bounds: add-port %.2f steps/ns, all-pipes %.2f steps/ns; L2 reads %.1f bytes/ns\n",
              l.add_port_steps_per_ns(), l.all_pipes_steps_per_ns(), l.l2_bytes_per_ns);
  const char* pairwise[] = {"scalar", "avx2", "avx2_fma", "avx512", "neon", "l2=1G"};
  bool heading = false;  // each heading stands only above rows that ran
  for (const Shape& s : kPairwiseShapes)
    for (const char* v : pairwise) {
      const double t = r.seconds(shape_name("pairwise", s, v));
      const double fill = r.seconds(shape_name("pairwise", s, "fill"));
      if (t == 0) continue;
      if (!std::exchange(heading, true))
        std::printf("\n%-30s %-8s %9s %9s %10s %9s\n", "pairwise", "variant", "steps/ns",
                    "add-port", "all-pipes", "x fill");
      const double rate = steps_of(s) * 1e-9 / t;
      std::printf("%-30s %-8s %9.2f %9.2f %10.2f", label(s).c_str(), v, rate,
                  rate / l.add_port_steps_per_ns(), rate / l.all_pipes_steps_per_ns());
      if (s.dim <= 3 && fill > 0) std::printf(" %9.2f", t / fill);
      std::printf("\n");
    }
  const char* weighted[] = {"scalar", "avx2", "avx2_fma", "avx512", "neon", "avx512_loop", "reads"};
  heading = false;
  for (const Shape& s : kWeightedShapes)
    for (const char* v : weighted) {
      const double dim = static_cast<double>(s.dim);
      const double floor_ns = std::max(l.add_latency_ns, 4.0 * dim / l.mixed_lanes_per_ns);
      const double l2_ns = (8.0 * dim + 8.0) / l.l2_bytes_per_ns;
      const double ns =
          r.seconds(shape_name("weighted", s, v)) * 1e9 / static_cast<double>(s.n_a * s.n_b);
      if (ns == 0) continue;
      if (!std::exchange(heading, true))
        std::printf("\n%-30s %-11s %9s %9s %10s %9s %9s\n", "weighted", "variant", "ns/pair",
                    "floor", "x floor", "L2 bound", "x L2");
      std::printf("%-30s %-11s %9.2f %9.2f %10.2f %9.2f %9.2f\n", label(s).c_str(), v, ns, floor_ns,
                  ns / floor_ns, l2_ns, ns / l2_ns);
    }
}

}  // namespace

int main(int argc, char** argv) {
#if defined(KORVANE_HAVE_AVX512)
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--weighted_reads") == 0) {
      g_weighted_reads = true;
      for (int m = i; m + 1 < argc; ++m) argv[m] = argv[m + 1];
      --argc;
      break;
    }
#endif
  register_all();
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (!reporter.times.empty()) {
    measure_limits(reporter.limits);
    print_table(reporter.limits, reporter);
  }
  benchmark::Shutdown();
  return 0;
}
