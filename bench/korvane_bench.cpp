// Kernel throughput: the plain loops against every available variant and the
// dispatched kernel, per shape, plus the cost of merely filling the result.
// Pairwise rows report steps per ns (one step = one entry and coordinate);
// weighted rows report cycles per pair (at the TSC rate the library reads).
//   build/bench/korvane_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"

namespace {

using korvane::InstructionSet;
using korvane::MatrixView;

struct Shape {
  std::size_t dim, n_a, n_b;
};

const Shape kPairwiseShapes[] = {{2, 2000, 2000},  {3, 2000, 2000}, {16, 2000, 2000},
                                 {64, 1000, 1000}, {256, 500, 500}, {1024, 256, 256},
                                 {3, 100000, 8},   {128, 20000, 16}, {512, 2000, 2000},
                                 {1024, 2000, 2000}};
const Shape kWeightedShapes[] = {
    {3, 2000, 2000}, {16, 1000, 1000}, {64, 500, 500}, {256, 300, 300}};

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

struct Problem {
  explicit Problem(const Shape& s)
      : shape(s),
        a(random_matrix(s.dim * s.n_a, 1)),
        b(random_matrix(s.dim * s.n_b, 2)),
        q(random_matrix(s.n_a * s.n_b, 3)),
        result(std::max(s.n_a * s.n_b, s.dim)) {}
  MatrixView av() { return {shape.dim, shape.n_a, a.data()}; }
  MatrixView bv() { return {shape.dim, shape.n_b, b.data()}; }
  MatrixView qv() { return {shape.n_a, shape.n_b, q.data()}; }
  Shape shape;
  std::vector<double> a, b, q, result;
};

std::string shape_name(const char* kind, const Shape& s, const char* how) {
  return std::string(kind) + "/D=" + std::to_string(s.dim) + "/" + std::to_string(s.n_a) + "x" +
         std::to_string(s.n_b) + "/" + how;
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

void register_all() {
  std::vector<std::pair<InstructionSet, std::string>> variants;
  for (InstructionSet isa : {InstructionSet::scalar, InstructionSet::avx2, InstructionSet::avx512,
                             InstructionSet::neon}) {
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
    benchmark::RegisterBenchmark(
        shape_name("weighted", s, "plain_loops").c_str(), [s](benchmark::State& st) {
          Problem p(s);
          for (auto _ : st) {
            plain_weighted(p.av(), p.bv(), p.qv(), {s.dim, 1, p.result.data()});
            benchmark::ClobberMemory();
          }
          set_weighted_counters(st, s);
        });
    for (const auto& [isa, name] : variants) {
      benchmark::RegisterBenchmark(
          shape_name("weighted", s, name.c_str()).c_str(), [s, isa = isa](benchmark::State& st) {
            Problem p(s);
            for (auto _ : st) {
              korvane::weighted_coordinate_sums(isa, p.av(), p.bv(), p.qv(),
                                                {s.dim, 1, p.result.data()});
              benchmark::ClobberMemory();
            }
            set_weighted_counters(st, s);
          });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
