// Standard normal draws for the models' noise, from a 64-bit Mersenne Twister: the polar method
// exactly as std::normal_distribution<double> carries it out in the C++ library of our toolchain
// (libstdc++), draw for draw, so that recorded runs keep every value. Written out because the
// library works out log2 of the engine's range in long double for every uniform draw, which cost
// more than the draw itself (a tenth of the console fuzz target). A unit test holds it to the
// library's results.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace sim {

class StandardNormal {
 public:
  double operator()(std::mt19937_64& engine) {
    double ret;
    if (savedAvailable_) {
      savedAvailable_ = false;
      ret = saved_;
    } else {
      double x, y, r2;
      do {
        x = 2.0 * uniform(engine) - 1.0;
        y = 2.0 * uniform(engine) - 1.0;
        r2 = x * x + y * y;
      } while (r2 > 1.0 || r2 == 0.0);
      const double mult = std::sqrt(-2 * std::log(r2) / r2);
      saved_ = x * mult;
      savedAvailable_ = true;
      ret = y * mult;
    }
    return ret * 1.0 + 0.0;  // stddev 1, mean 0, as the distribution applies them
  }

 private:
  // generate_canonical<double, 53> of a 64-bit engine: one draw scaled by 2^-64, below 1.
  static double uniform(std::mt19937_64& engine) {
    const double r = static_cast<double>(engine() - std::mt19937_64::min()) / 18446744073709551616.0;
    return r >= 1.0 ? std::nextafter(1.0, 0.0) : r;
  }

  double saved_ = 0.0;
  bool savedAvailable_ = false;
};

}  // namespace sim
