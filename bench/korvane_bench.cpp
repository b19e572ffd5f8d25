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
//   build/bench/korvane_bench [--weighted_reads] [--benchmark_filter=...]
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
  double pairs() const { return static_cast<double>(n_a * n_b); }
  double steps() const { return static_cast<double>(dim) * pairs(); }
};

// The README's ten, odd edge-heavy ones, then few columns of b about where
// they go in the lanes.
const Shape kPairwiseShapes[] = {
    {2, 2000, 2000},  {3, 2000, 2000}, {16, 2000, 2000}, {64, 1000, 1000},  {256, 500, 500},
    {1024, 256, 256}, {3, 100000, 8},  {128, 20000, 16}, {512, 2000, 2000}, {1024, 2000, 2000},
    {5, 37, 3001},    {33, 1001, 9},   {7, 333, 77},     {100, 129, 131},   {1, 5000, 5000},
    {16, 20000, 16},  {24, 20000, 16}, {32, 20000, 16},  {33, 20000, 16},   {48, 20000, 16},
    {33, 1001, 16}};
// The README's four, the odd ones, then the dispatcher's boundaries (D <= 4,
// few or many columns of b), Q far larger than L2, the lead at D = 8 m, and
// more coordinates than one sweep holds, Q's columns a multiple of 2 KB apart,
// and sums shorter than half a vector.
const Shape kWeightedShapes[] = {
    {3, 2000, 2000},  {16, 1000, 1000}, {64, 500, 500},   {256, 300, 300}, {8, 300, 300},
    {24, 1500, 1500}, {130, 300, 300},  {5, 1000, 7},     {3, 2000, 16},   {4, 2000, 24},
    {12, 1000, 16},   {16, 300, 3000},  {16, 1500, 1500}, {32, 2000, 8},   {128, 300, 300},
    {104, 300, 300},  {300, 300, 300},  {640, 200, 200},  {3, 2048, 2048}, {16, 1024, 1024},
    {1, 2000, 2000},  {2, 2000, 2000}};
// The plain loops in the fixed order: C in out, or, Weighted, the sums c of
// the terms weighted by Q.
template <bool Weighted>
void plain_loops(MatrixView a, MatrixView b, MatrixView Q, MatrixView out) {
  if (Weighted) std::fill(out.data, out.data + a.rows, 0.0);
  for (std::size_t i = 0; i < a.cols; ++i)
    for (std::size_t j = 0; j < b.cols; ++j) {
      const double w = Weighted ? Q.data[i + a.cols * j] : 0.0;
      double s = 0.0;
      for (std::size_t k = 0; k < a.rows; ++k) {
        const double t = a.data[k + a.rows * i] - b.data[k + a.rows * j];
        s = s + t * t;
        if (Weighted) out.data[k] = out.data[k] + (w * t) * t;
      }
      if (!Weighted) out.data[i + a.cols * j] = s;
    }
}

bool g_weighted_reads = false;

#if defined(KORVANE_HAVE_AVX512)
// With --weighted_reads, .../reads: only the reads that the fixed order
// forces, gathered by independent ORs with no arithmetic chain: Q streamed
// once in storage order (n_b of its weights per point of a, whichever) and
// b's D coordinates once per point of a.
__attribute__((target("avx512f"), noinline)) void forced_reads(MatrixView a, MatrixView b,
                                                               MatrixView Q, MatrixView c) {
  const std::size_t dim = a.rows;
  const __mmask8 tail = static_cast<__mmask8>((1U << (dim % 8)) - 1);
  __m512i s[4] = {};
  long long w = 0;
  for (std::size_t i = 0; i < a.cols; ++i)
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
  long long lanes[8];
  _mm512_storeu_si512(lanes,
                      _mm512_or_si512(_mm512_or_si512(s[0], s[1]), _mm512_or_si512(s[2], s[3])));
  for (long long lane : lanes) w |= lane;
  if (dim > 0) std::memcpy(c.data, &w, sizeof w);
}
#endif

// One shape's inputs and result (C, or c at the same place).
struct Problem {
  explicit Problem(const Shape& s)
      : a{s.dim, s.n_a, placed(0, s.dim * s.n_a)},
        b{s.dim, s.n_b, placed(1, s.dim * s.n_b)},
        q{s.n_a, s.n_b, placed(2, s.n_a * s.n_b)},
        C{s.n_a, s.n_b, placed(3, std::max(s.n_a * s.n_b, s.dim))},
        c{s.dim, 1, C.data} {}
  // count values in [-1, 1), starting 16 bytes past a 64-byte line as glibc's
  // malloc places large blocks (and so most of Octave's): left to the heap, the
  // weighted loops' speed moves with where b lands from one run to the next.
  double* placed(int v, std::size_t count) {
    storage[v].resize(count + 8);  // aligned to at least 8 bytes
    double* data = storage[v].data();
    while (reinterpret_cast<std::uintptr_t>(data) % 64 != 16) ++data;
    std::mt19937_64 gen(static_cast<unsigned>(v + 1));
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (std::size_t e = 0; e < count; ++e) data[e] = dist(gen);
    return data;
  }
  std::vector<double> storage[4];
  MatrixView a, b, q, C, c;
};

// "D=3 2000x2000"; with sep '/', the middle of a benchmark's name.
std::string label(const Shape& s, char sep = ' ') {
  return "D=" + std::to_string(s.dim) + sep + std::to_string(s.n_a) + "x" + std::to_string(s.n_b);
}

std::string shape_name(const char* kind, const Shape& s, const std::string& how) {
  return kind + ("/" + label(s, '/')) + "/" + how;
}

// Registers kind/shape/how, timing run(p) on one problem.
template <class Run>
void add_run(const char* kind, const Shape& s, const std::string& how, Run run) {
  benchmark::RegisterBenchmark(shape_name(kind, s, how).c_str(), [=](benchmark::State& st) {
    Problem p(s);
    for (auto _ : st) {
      run(p);
      benchmark::ClobberMemory();
    }
    using C = benchmark::Counter;
    if (kind[0] == 'p')
      st.counters["steps/ns"] = C(s.steps() * 1e-9, C::kIsIterationInvariantRate);
    else
      st.counters["cycles/pair"] = C(s.pairs() / benchmark::CPUInfo::Get().cycles_per_second,
                                     C::kIsIterationInvariantRate | C::kInvert);
  });
}

const InstructionSet kAll[] = {InstructionSet::scalar, InstructionSet::avx2,
                               InstructionSet::avx2_fma, InstructionSet::avx512,
                               InstructionSet::neon};

void register_all() {
  using korvane::instruction_set_available;
  const InstructionSet active = korvane::active_instruction_set();
  for (const Shape& s : kPairwiseShapes) {
    const bool slow = s.steps() > 1e9;  // the plain loops and scalar take seconds per run
    add_run("pairwise", s, "fill",
            [](Problem& p) { std::fill(p.C.data, p.C.data + p.C.rows * p.C.cols, 1.0); });
    if (!slow)
      add_run("pairwise", s, "plain_loops",
              [](Problem& p) { plain_loops<false>(p.a, p.b, p.q, p.C); });
    for (const InstructionSet isa : kAll)
      if (instruction_set_available(isa) && !(slow && isa == InstructionSet::scalar))
        add_run("pairwise", s, korvane::instruction_set_name(isa),
                [isa](Problem& p) { korvane::pairwise_squared_distances(isa, p.a, p.b, p.C); });
    if (active != InstructionSet::scalar)
      add_run("pairwise", s, "l2=1G", [active](Problem& p) {
        korvane::pairwise_squared_distances(active, p.a, p.b, p.C, std::size_t{1} << 30);
      });
  }
  for (const Shape& s : kWeightedShapes) {
    add_run("weighted", s, "plain_loops",
            [](Problem& p) { plain_loops<true>(p.a, p.b, p.q, p.c); });
    for (const InstructionSet isa : kAll)
      if (instruction_set_available(isa))
        add_run("weighted", s, korvane::instruction_set_name(isa),
                [isa](Problem& p) { korvane::weighted_coordinate_sums(isa, p.a, p.b, p.q, p.c); });
#if defined(KORVANE_HAVE_AVX512)
    if (s.dim <= 16 && instruction_set_available(InstructionSet::avx512))
      add_run("weighted", s, "avx512_loop", [](Problem& p) {
        std::fill(p.c.data, p.c.data + p.c.rows, 0.0);
        korvane::variants::weighted_avx512(p.a, p.b, p.q, p.c, 0, p.a.cols);
      });
    if (g_weighted_reads && instruction_set_available(InstructionSet::avx512))
      add_run("weighted", s, "reads", [](Problem& p) { forced_reads(p.a, p.b, p.q, p.c); });
#endif
  }
}

// ---- This core's limits, measured with small synthetic loops ----
// Plain vector adds or multiplies on independent registers, so nothing can be
// contracted or folded, with more chains in flight than the pipes' latency
// needs; reads into eight independent sums, so that add latency cannot bound
// them. The compiler cannot see through the volatile values: a multiply by
// g_factor is not x * 1.0.
volatile double g_step = 1e-9, g_factor = 1.0, g_sink = 0.0;

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

// One dependent add after another.
__attribute__((noinline)) void add_chain(long adds) {
  double x = 1.0;
  const double y = g_step;
  for (long r = 0; r < adds; ++r) x = x + y;
  g_sink = x;
}

enum class Loop { adds, mixed, latency, reads };
constexpr int kAddChains = 12;
template <int Bytes, int Mixed>
inline __attribute__((always_inline)) void loop_of(Loop l, long n, const double* d, std::size_t c) {
  if (l == Loop::adds) chains_of<Bytes, kAddChains, 0>(n);
  if (l == Loop::mixed) chains_of<Bytes, Mixed, Mixed>(n);
  if (l == Loop::latency) add_chain(n);
  if (l == Loop::reads) chains_of<(Bytes > 32 ? Bytes : 32), 8, 0, true>(n, d, c);
}

#if defined(__x86_64__)
// 256-bit and, where the CPU has AVX-512, 512-bit vectors: the wider are the
// limit where the core runs them at full width (AMD Zen 5), and give the same
// lanes per ns where it splits them (Zen 4). On Zen 5, 7 + 7 zmm chains of
// adds and multiplies reach about 0.85 of 12 + 12.
#define BENCH_TARGET(isa) __attribute__((target(isa), noinline))
constexpr int kNarrowBytes = 32;
#else
// NEON's 128-bit vectors on 64-bit Arm; elsewhere the compiler splits them.
#define BENCH_TARGET(isa) __attribute__((noinline))
constexpr int kNarrowBytes = 16;
#endif
BENCH_TARGET("avx2") void loop_narrow(Loop l, long n, const double* d, std::size_t c) {
  loop_of<kNarrowBytes, 7>(l, n, d, c);
}
BENCH_TARGET("avx512f") void loop_wide(Loop l, long n, const double* d, std::size_t c) {
  loop_of<64, 12>(l, n, d, c);
}
const bool kWide = korvane::instruction_set_available(InstructionSet::avx512);
const double kLanesPerVector = kWide ? 8.0 : kNarrowBytes / 8.0;
const double kMixedPerTrip = kWide ? 24.0 : 14.0;

// The median; 0 of none.
double median(std::vector<double> t) {
  if (t.empty()) return 0.0;
  std::sort(t.begin(), t.end());
  const std::size_t h = t.size() / 2;
  return t.size() % 2 ? t[h] : (t[h - 1] + t[h]) / 2;
}

// CPU seconds of loop l, the median of 5 runs of about 0.1 s each.
double seconds_of(Loop l, long n, const double* d = nullptr, std::size_t c = 0) {
  std::vector<double> t;
  for (int run = 0; run < 5; ++run) {
    const std::clock_t start = std::clock();
    kWide ? loop_wide(l, n, d, c) : loop_narrow(l, n, d, c);
    t.push_back(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  return median(t);
}

// ---- The closing table ----

// Keeps the CPU time per iteration of each benchmark's repetitions while the
// console shows the usual report; measures the limits and prints the table.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  // Called before benchmarks run, never when they are only listed.
  bool ReportContext(const Context& context) override {
    measure_limits();
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
    return it == times.end() ? 0.0 : median(it->second);
  }
  // After the runs: the limits once more, then the table.
  void Finalize() override {
    if (times.empty()) return;
    measure_limits();
    const double add_port = add_lanes_per_ns / 2.0, all_pipes = mixed_lanes_per_ns / 3.0;
    std::printf(
        "\nThis core, %d-bit vectors: %.1f add lanes/ns, %.1f lanes/ns with adds and multiplies "
        "mixed, add latency %.3f ns\n",
        static_cast<int>(64 * kLanesPerVector), add_lanes_per_ns, mixed_lanes_per_ns,
        add_latency_ns);
    std::printf("Bounds: add-port %.2f steps/ns, all-pipes %.2f steps/ns; L2 reads %.1f bytes/ns\n",
                add_port, all_pipes, l2_bytes_per_ns);
    bool heading = false;  // each heading stands only above rows that ran
    for (const Shape& s : kPairwiseShapes)
      for (const char* v : {"scalar", "avx2", "avx2_fma", "avx512", "neon", "l2=1G"}) {
        const double t = seconds(shape_name("pairwise", s, v)), rate = s.steps() * 1e-9 / t;
        const double fill = seconds(shape_name("pairwise", s, "fill"));
        if (t == 0) continue;
        if (!std::exchange(heading, true))
          std::printf("\n%-30s %-8s %9s %9s %10s %9s\n", "pairwise", "variant", "steps/ns",
                      "add-port", "all-pipes", "x fill");
        std::printf("%-30s %-8s %9.2f %9.2f %10.2f", label(s).c_str(), v, rate, rate / add_port,
                    rate / all_pipes);
        if (s.dim <= 3 && fill > 0) std::printf(" %9.2f", t / fill);
        std::printf("\n");
      }
    heading = false;
    for (const Shape& s : kWeightedShapes)
      for (const char* v :
           {"scalar", "avx2", "avx2_fma", "avx512", "neon", "avx512_loop", "reads"}) {
        const double dim = static_cast<double>(s.dim);
        const double floor_ns = std::max(add_latency_ns, 4.0 * dim / mixed_lanes_per_ns);
        const double l2_ns = (8.0 * dim + 8.0) / l2_bytes_per_ns;
        const double ns = seconds(shape_name("weighted", s, v)) * 1e9 / s.pairs();
        if (ns == 0) continue;
        if (!std::exchange(heading, true))
          std::printf("\n%-30s %-11s %9s %9s %10s %9s %9s\n", "weighted", "variant", "ns/pair",
                      "floor", "x floor", "L2 bound", "x L2");
        std::printf("%-30s %-11s %9.2f %9.2f %10.2f %9.2f %9.2f\n", label(s).c_str(), v, ns,
                    floor_ns, ns / floor_ns, l2_ns, ns / l2_ns);
      }
  }

  // Measured on both sides of the run, each limit keeps the better figure: the
  // one that the load on a shared machine disturbed least. L2's best rate: half
  // of it (several times L1) read over and over; on AMD Zen 5 (1 MB L2) sets of
  // 128-400 KB, as b at D = 16 and 64, came 10-20% slower.
  void measure_limits() {
    constexpr long kTrips = 30000000;
    const double lanes = kLanesPerVector * static_cast<double>(kTrips) * 1e-9;
    const double adds = seconds_of(Loop::adds, kTrips), mixed = seconds_of(Loop::mixed, kTrips);
    const double latency = seconds_of(Loop::latency, 4 * kTrips);
    const std::vector<double> buffer(korvane::l2_cache_bytes() / 2 / sizeof(double), 1.0);
    const double bytes = static_cast<double>(buffer.size() * sizeof(double));
    const long passes = static_cast<long>(4e9 / bytes);
    const double reads = seconds_of(Loop::reads, passes, buffer.data(), buffer.size());
    add_lanes_per_ns = std::max(add_lanes_per_ns, kAddChains * lanes / adds);
    mixed_lanes_per_ns = std::max(mixed_lanes_per_ns, kMixedPerTrip * lanes / mixed);
    add_latency_ns = std::min(add_latency_ns, latency * 1e9 / (4.0 * kTrips));
    l2_bytes_per_ns = std::max(l2_bytes_per_ns, bytes * static_cast<double>(passes) * 1e-9 / reads);
  }

  double add_lanes_per_ns = 0;    // independent vector adds
  double mixed_lanes_per_ns = 0;  // adds and multiplies mixed
  double add_latency_ns = 1e9;    // one dependent add
  double l2_bytes_per_ns = 0;     // reads served by L2
  std::map<std::string, std::vector<double>> times;
};

}  // namespace

int main(int argc, char** argv) {
  char** const end = std::remove_if(argv + 1, argv + argc, [](const char* arg) {
    return std::strcmp(arg, "--weighted_reads") == 0;
  });
  g_weighted_reads = end != argv + argc;
  argc = static_cast<int>(end - argv);
  register_all();
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
