// In-process simulated board for unit tests.
#include "test_board.h"

#include "DemoShell.h"
#include "MCUState.h"
#include "SerialConfig.h"
#include "gstate.h"
#include "main.h"
#include "sleep.h"
#include "uart_model.h"

namespace testing_support {

sim::Board& freshBoard() {
  sim::Options options;
  options.console = sim::ConsoleMode::capture;
  options.stateDir.clear();
  options.speed = 0;
  sim::Board& b = sim::Board::create(options);
  b.setRestartHandler([](sim::ResetKind, uint32_t) {});
  // RAM as after a reset: the peripheral handles start unset, so the bring-up sets the new board's
  // peripherals up (DMA channels included) instead of finding them done.
  huart1 = {};
  hdma_usart1_rx = {};
  hadc1 = {};
  hdma_adc1 = {};
  hrtc = {};
  htim6 = {};
  hspi1 = {};
  MCUState::make();
  GState::make();
  gPending = Pending::none;
  bringUpBoard();
  return b;
}

std::string takeOutput() { return sim::board().console().takeOutput(); }
void dropOutput() { sim::board().console().dropOutput(); }

void typeAndPoll(const std::string& text) {
  sim::board().uart1().hostSend(text);
  // Until the wire is empty and the last idle event has been taken.
  for (int guard = 0; guard < 1000000; ++guard) {
    sim::board().busyWait(50);
    serialConfigPoll();
    if (!sim::board().uart1().receiving() && sim::board().uart1().nextEventUs() == sim::kNever) break;
  }
  serialConfigPoll();
}

std::vector<std::string> lines(const std::string& out) {
  std::vector<std::string> result;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find("\r\n", pos);
    if (end == std::string::npos) end = out.size();
    result.push_back(out.substr(pos, end - pos));
    pos = end + 2;
  }
  return result;
}

void runFor(uint64_t us) { sim::board().busyWait(us); }

}  // namespace testing_support
