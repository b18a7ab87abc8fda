#pragma once
// splitmix64: small, fast, and the same numbers on every platform (the
// standard library's distributions are not): the fit's random moves and
// every kind of generated data draw from it.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quelm {

class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  // A standard normal draw (Box-Muller).
  double normal(double smallest = 1e-300) {
    const double u1 = std::max(uniform(), smallest), u2 = uniform();
    return std::sqrt(-2 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }
  // Counts a detector gives for `mean`: Poisson, by inversion for small
  // means and by its normal limit above 50.
  double poisson(double mean) {
    if (mean > 50) return std::max(0.0, std::round(mean + std::sqrt(mean) * normal()));
    double k = 0, p = std::exp(-mean), sum = p;
    const double u = uniform();
    while (u > sum && k < 1000) sum += (p *= mean / ++k);
    return k;
  }

 private:
  uint64_t state_;
};

}  // namespace quelm
