// Least-squares fit of a mean and a sinusoid of known frequency (the 50 Hz fundamental) to samples
// taken at known times: v(t) = mean + a cos(wt) + b sin(wt).
#pragma once

#include <vector>

namespace vantor {

struct Fundamental {
  double mean = 0;
  double cosine = 0;  // a
  double sine = 0;    // b
  double freqHz = 50;
  double amplitude() const;
  double at(double tS) const;
};

// False when there are fewer than three samples or they cannot fix the three terms.
bool fitFundamental(const std::vector<double>& tS, const std::vector<double>& v, double freqHz, Fundamental& out);

}  // namespace vantor
