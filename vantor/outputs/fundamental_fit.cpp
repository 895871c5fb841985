// Fit of the 50 Hz fundamental.
#include "fundamental_fit.h"

#include <cmath>

namespace vantor {

double Fundamental::amplitude() const { return std::hypot(cosine, sine); }

double Fundamental::at(double tS) const {
  const double w = 2 * M_PI * freqHz * tS;
  return mean + cosine * std::cos(w) + sine * std::sin(w);
}

bool fitFundamental(const std::vector<double>& tS, const std::vector<double>& v, double freqHz, Fundamental& out) {
  const size_t n = std::min(tS.size(), v.size());
  if (n < 3) return false;
  // Normal equations of the basis (1, cos, sin), solved by Cramer's rule.
  double m[3][3] = {};
  double r[3] = {};
  for (size_t i = 0; i < n; ++i) {
    const double w = 2 * M_PI * freqHz * tS[i];
    const double f[3] = {1.0, std::cos(w), std::sin(w)};
    for (int a = 0; a < 3; ++a) {
      r[a] += f[a] * v[i];
      for (int b = 0; b < 3; ++b) m[a][b] += f[a] * f[b];
    }
  }
  auto det = [](const double x[3][3]) {
    return x[0][0] * (x[1][1] * x[2][2] - x[1][2] * x[2][1]) - x[0][1] * (x[1][0] * x[2][2] - x[1][2] * x[2][0]) +
           x[0][2] * (x[1][0] * x[2][1] - x[1][1] * x[2][0]);
  };
  const double d = det(m);
  if (!(std::fabs(d) > 1e-12 * n * n * n)) return false;
  double solved[3];
  for (int c = 0; c < 3; ++c) {
    double k[3][3];
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) k[a][b] = b == c ? r[a] : m[a][b];
    }
    solved[c] = det(k) / d;
  }
  out = {solved[0], solved[1], solved[2], freqHz};
  return true;
}

}  // namespace vantor
