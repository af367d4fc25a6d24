// Eight 32-bit (or sixteen 16-bit) lanes of an AVX2 register as the vector
// kernels use them (GCC and clang vector extensions, the functions compiled
// for AVX2 wherever they are inlined): loads and stores of unaligned cells,
// a value in every lane.
// Only x86-64 with GCC or clang; the kernels keep their plain variants.
#pragma once
#if defined(__x86_64__) && defined(__GNUC__)
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

namespace rivulon::lanes {

typedef int32_t Lanes __attribute__((vector_size(32)));
typedef int16_t Lanes16 __attribute__((vector_size(32)));  // sixteen 16-bit lanes

#define RIVULON_AVX2 __attribute__((target("avx2"), always_inline)) inline

template <typename V>
using ElementOf = std::remove_cvref_t<decltype(std::declval<V>()[0])>;
template <typename V>
RIVULON_AVX2 V load(const ElementOf<V>* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename V>
RIVULON_AVX2 void store(ElementOf<V>* p, V v) {
  std::memcpy(p, &v, sizeof v);
}
// x must fit the lanes.
template <typename V>
RIVULON_AVX2 V splat(int32_t x) {
  return V{} + static_cast<ElementOf<V>>(x);
}

// The eight 32-bit lanes, named without the type.
RIVULON_AVX2 Lanes load(const int32_t* p) { return load<Lanes>(p); }
RIVULON_AVX2 void store(int32_t* p, Lanes v) { store<Lanes>(p, v); }
RIVULON_AVX2 Lanes splat(int32_t x) { return splat<Lanes>(x); }
#undef RIVULON_AVX2

}  // namespace rivulon::lanes
#endif
