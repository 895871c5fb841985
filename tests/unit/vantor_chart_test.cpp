// The pieces of the Vantor's pictures: tick steps, time units, the 50 Hz fit, and the SVG text.
#include "svg_chart.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fundamental_fit.h"

using namespace vantor;

namespace {

TEST(ChartAxes, TicksOfANiceStepCoverTheRange) {
  const struct {
    double lo, hi;
    int count;
    std::vector<double> ticks;
  } cases[] = {
      {0, 10, 5, {0, 2, 4, 6, 8, 10}},
      {0.13, 0.87, 4, {0.2, 0.4, 0.6, 0.8}},
      {-3, 3, 6, {-3, -2, -1, 0, 1, 2, 3}},
      {1, 9, 1, {2, 4, 6, 8}},      // 10 leaves no tick and 5 one: an axis needs two
      {0.5, 0.52, 1, {0.5, 0.52}},  //
      {0, 1, 0, {}},                // no ticks asked for
      {5, 5, 4, {}},                // an empty range
      {2, 1, 4, {}},                //
  };
  for (const auto& c : cases) {
    const std::vector<double> t = niceTicks(c.lo, c.hi, c.count);
    ASSERT_EQ(t.size(), c.ticks.size()) << c.lo << ".." << c.hi;
    for (size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(t[i], c.ticks[i], 1e-12) << c.lo << ".." << c.hi;
  }
}

TEST(ChartAxes, TimeUnitFollowsTheSpan) {
  const struct {
    double spanS;
    const char* unit;
  } cases[] = {{0.08, "ms"}, {2, "s"}, {120, "s"}, {121, "min"}, {7200, "min"}, {7201, "h"}, {172801, "days"}};
  for (const auto& c : cases) EXPECT_STREQ(timeUnitFor(c.spanS).name, c.unit) << c.spanS;
}

TEST(FundamentalFit, RecoversMeanAmplitudeAndPhaseOfA50HzWave) {
  std::vector<double> t, v;
  for (int i = 0; i < 231; ++i) {  // four mains cycles of scans, 346 us apart
    t.push_back(i * 346e-6);
    v.push_back(100 + 900 * std::sin(2 * M_PI * 50 * t.back() + 0.3));
  }
  Fundamental f;
  ASSERT_TRUE(fitFundamental(t, v, 50, f));
  EXPECT_NEAR(f.mean, 100, 1e-6);
  EXPECT_NEAR(f.amplitude(), 900, 1e-6);
  EXPECT_NEAR(f.cosine, 900 * std::sin(0.3), 1e-6);  // sin(x + 0.3) = sin x cos 0.3 + cos x sin 0.3
  EXPECT_NEAR(f.sine, 900 * std::cos(0.3), 1e-6);
  EXPECT_NEAR(f.at(0.0123), v[0] * 0 + 100 + 900 * std::sin(2 * M_PI * 50 * 0.0123 + 0.3), 1e-6);
}

TEST(FundamentalFit, RefusesWhatCannotFixThreeTerms) {
  Fundamental f;
  EXPECT_FALSE(fitFundamental({0, 1e-3}, {1, 2}, 50, f));                    // two samples
  EXPECT_FALSE(fitFundamental({0, 0.02, 0.04, 0.06}, {1, 1, 1, 1}, 50, f));  // all at the same phase
}

TEST(SvgChart, TextIsEscapedAndEveryPanelHasItsLabelAndLegend) {
  Chart c{"a <title> & more", "time (ms)", {}};
  c.panels.push_back({"clamp (counts)", {{"raw \"x\"", "#000000", {0, 1, 2}, {0, 1, 0}}}});
  c.panels.push_back({"E-field (counts)", {{"fit", "#ff0000", {0, 2}, {3, 3}, true}}});
  const std::string svg = renderSvg(c);
  EXPECT_NE(svg.find("a &lt;title&gt; &amp; more"), std::string::npos);
  EXPECT_NE(svg.find("raw &quot;x&quot;"), std::string::npos);
  EXPECT_EQ(svg.find("<title>"), std::string::npos);
  EXPECT_NE(svg.find(">clamp (counts)</text>"), std::string::npos);
  EXPECT_NE(svg.find(">E-field (counts)</text>"), std::string::npos);
  EXPECT_NE(svg.find(">time (ms)</text>"), std::string::npos);
  EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(SvgChart, APointThatIsNotANumberBreaksTheLineAndTheAxisCoversTheWindow) {
  Chart c{"gaps", "time (h)", {}, {-24.0, 0.0}};
  c.panels.push_back({"current (A)", {{"current", "#000000", {-3, -2, NAN, -1, 0}, {1, 2, NAN, 3, 4}, false, true}}});
  const std::string svg = renderSvg(c);
  EXPECT_EQ(countOf(svg, "<polyline"), 2u);
  EXPECT_EQ(countOf(svg, "<circle"), 4u);
  EXPECT_NE(svg.find("data-points=\"4\""), std::string::npos);
  EXPECT_NE(svg.find(">-20</text>"), std::string::npos);  // the window's start, though no point is there
}

}  // namespace
