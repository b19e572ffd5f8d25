// The checks' adaptor (call_checks.hpp) for Octave's own entry points, and
// the result arrays they create, shared by the module's oct-files.
#ifndef KORVANE_GATEWAY_OCTAVE_ARGUMENTS_HPP
#define KORVANE_GATEWAY_OCTAVE_ARGUMENTS_HPP

#include <octave/oct.h>

#include <cstddef>
#include <memory>
#include <utility>

#include "call_checks.hpp"

namespace korvane::gateway {

// The checks' questions, answered from the interpreter's values. data()
// keeps each argument's array in `arrays`, so its storage stays valid until
// the kernel has run: for a full double matrix array_value() shares the
// value's storage; ranges, diagonal and other lazily stored double values
// are expanded into it.
struct OctaveArguments {
  const octave_value_list& args;
  NDArray* arrays;

  // Anything but a real, full double matrix would have its storage read as
  // doubles from the wrong memory or be expanded from another class.
  ArgumentKind kind(int n) const {
    const octave_value& value = args(n);
    return argument_kind(value.class_name().c_str(), value.issparse(), value.iscomplex());
  }
  // Octave drops trailing singleton dimensions, so ndims is never below 2.
  bool is_matrix(int n) const { return args(n).ndims() <= 2; }
  bool is_empty(int n) const { return args(n).isempty(); }
  double* data(int n) const {
    arrays[n] = args(n).array_value();
    // The kernels only read their inputs; data() const does not unshare.
    return const_cast<double*>(arrays[n].data());
  }
  std::size_t rows(int n) const { return static_cast<std::size_t>(args(n).rows()); }
  std::size_t cols(int n) const { return static_cast<std::size_t>(args(n).columns()); }
};

// The allocator Octave's double arrays free their storage with.
template <typename T, typename Alloc>
Alloc allocator_of(const Array<T, Alloc>&);
using DoubleAllocator = decltype(allocator_of(std::declval<const NDArray&>()));

// A rows x cols array whose storage is allocated but not filled: the
// kernels write every entry exactly once. (NDArray(dim_vector) would
// value-initialise every element first.) The dimensions are checked, and
// may throw, before anything is allocated.
inline NDArray unfilled_array(std::size_t rows, std::size_t cols) {
  const dim_vector dims(static_cast<octave_idx_type>(rows), static_cast<octave_idx_type>(cols));
  const octave_idx_type count = dims.safe_numel();
  DoubleAllocator allocator;
  double* const storage =
      std::allocator_traits<DoubleAllocator>::allocate(allocator, static_cast<std::size_t>(count));
  return NDArray(Array<double>(storage, dims, allocator));
}

}  // namespace korvane::gateway

#endif
