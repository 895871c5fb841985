// computePowerFast on a full capture taken by the simulated front end (10 A, PF 0.8, with
// harmonics and noise): drift fit, two channel analyses, clamp compensation and power integral.
#include <benchmark/benchmark.h>

#include "clamp_phase_comp.h"
#include "gstate.h"
#include "measure_bench.h"

namespace {

void BM_computePowerFast(benchmark::State& state) {
  testing_support::bringUpMeasurementBoard();
  testing_support::setScenario(testing_support::scenarioFrom("current=10,pf=0.8,h3=0.1,noise=1,edrift=20"));
  setGstate().config.inductive50HzPhaseCorrection = -0.03f;
  testing_support::highPowerReading();
  for (auto _ : state) {
    benchmark::DoNotOptimize(computePowerFast());
    benchmark::DoNotOptimize(gstate().power.estimatedPower);
  }
  state.SetItemsProcessed(state.iterations() * gstate().adc.buf.size2use);
}
BENCHMARK(BM_computePowerFast);

}  // namespace
