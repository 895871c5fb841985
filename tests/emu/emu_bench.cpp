// Benchmark, not a test: the emulator's speed on the bench image of this build, in emulated
// instructions per second of wall time, over the start to "ready" and over a full reading
// ("sample": the capture by DMA while the core sleeps, then the power computation on it).
#include <benchmark/benchmark.h>

#include <cstdio>

#include "image_on_chip.h"

namespace {

using emu_test::ImageOnChip;

bool ready(const std::string& out) {
  const size_t at = out.find("\nready");
  return at != std::string::npos && out.find("\nnote:", at) != std::string::npos && out.back() == '\n';
}

void report(benchmark::State& state, uint64_t instructions, uint64_t virtualUs) {
  state.counters["insn/s"] = benchmark::Counter(static_cast<double>(instructions), benchmark::Counter::kIsRate);
  state.counters["virtual_ms"] = benchmark::Counter(static_cast<double>(virtualUs) / 1000.0 / state.iterations());
  state.counters["insn"] = benchmark::Counter(static_cast<double>(instructions) / state.iterations());
}

void BM_StartToReady(benchmark::State& state) {
  uint64_t instructions = 0, virtualUs = 0;
  for (auto _ : state) {
    ImageOnChip on;
    if (!on.runUntil(ready, 2000)) state.SkipWithError("no ready");
    instructions += on.chip().core().instructions();
    virtualUs += on.board().nowUs();
  }
  report(state, instructions, virtualUs);
}
BENCHMARK(BM_StartToReady)->Unit(benchmark::kMillisecond);

void BM_Sample(benchmark::State& state) {
  uint64_t instructions = 0, virtualUs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ImageOnChip on;
    if (!on.runUntil(ready, 2000)) state.SkipWithError("no ready");
    const uint64_t fromInsn = on.chip().core().instructions();
    const uint64_t fromUs = on.board().nowUs();
    const size_t mark = on.console().size();
    on.type("sample\r\n");
    state.ResumeTiming();
    if (!on.runUntil([&](const std::string& o) { return o.find("phase corr (rad)", mark) != std::string::npos; }, 5000)) {
      state.SkipWithError("no reading");
    }
    instructions += on.chip().core().instructions() - fromInsn;
    virtualUs += on.board().nowUs() - fromUs;
  }
  report(state, instructions, virtualUs);
}
BENCHMARK(BM_Sample)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  emu_test::imagePath() = ORVANE_EMU_DEFAULT_IMAGE;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
