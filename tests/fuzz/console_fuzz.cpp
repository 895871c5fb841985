// The whole console path over arbitrary input: bytes on the UART line (with line errors and pauses),
// the receive DMA and ring, line assembly, framing and dispatch, and every pending action a line
// arms, run as the main loop runs it, on a scratch board with the front end and the radio
// simulated. No input may crash, hang, touch memory it should not, or leave the shell unable to
// take the next line.
//
// Input: byte 0 chooses the shape. Bit 0: bytes 0xF0..0xFD are events (0xF0+k: a line error with
// code k, 0 an overrun; 0xFE n: a pause of n * 10 ms; 0xFF: let the shell become idle first). Bit 1: the rest
// goes on the wire in one burst instead of line by line. The rest is the console input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DemoShell.h"
#include "DeviceConfig.h"
#include "MCUState.h"
#include "SerialConfig.h"
#include "flash_model.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "llcc68handler.h"
#include "lora_inbound.h"
#include "main.h"
#include "test_board.h"
#include "uart_model.h"

namespace {

// Virtual time one input may take: long enough for any single action to get well under way
// (a provisioning window is 10 s), short enough to keep runs fast.
constexpr uint64_t kBudgetUs = 30'000'000;

struct BudgetSpent {};
struct Restarted {};

// Ends an input that runs too long (a repeat run of hours, a provisioning without an answer).
class Budget : public sim::Device {
 public:
  void arm(uint64_t atUs) { atUs_ = atUs; }
  uint64_t nextEventUs() const override { return atUs_; }
  void fire(uint64_t) override {
    atUs_ = sim::kNever;
    throw BudgetSpent{};
  }
  bool periodic() const override { return true; }

 private:
  uint64_t atUs_ = sim::kNever;
};

Budget gBudget;
bool gBoardClean = false;

void bringUp() {
  testing_support::freshBoard();
  sim::board().setRestartHandler([](sim::ResetKind, uint32_t) { throw Restarted{}; });
  sim::board().addDevice(&gBudget);
  calibrateVRef();
  gBoardClean = true;
}

// The shell's loop, until nothing is armed, the ring is empty, the wire is quiet and no interrupt
// waits (a line error injected last is still to be taken).
void runShell() {
  for (int guard = 0; guard < 100000; ++guard) {
    serialConfigPoll();
    runPendingAction();
    const bool quiet = !sim::board().uart1().receiving() && sim::board().uart1().nextEventUs() == sim::kNever &&
                       !sim::board().interrupts().anyPending();
    if (quiet && gPending == Pending::none && serialRxIdle()) return;
    sim::board().busyWait(100);
  }
  std::fprintf(stderr, "console_fuzz: the shell never became idle\n");
  std::abort();
}

void send(const std::string& bytes, bool lineByLine) {
  if (!lineByLine) {
    sim::board().uart1().hostSend(bytes);
    return;
  }
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    end = end == std::string::npos ? bytes.size() : end + 1;
    sim::board().uart1().hostSend(bytes.substr(start, end - start));
    runShell();
    start = end;
  }
}

void feed(const uint8_t* data, size_t size) {
  const bool events = (data[0] & 0x01) != 0;
  const bool lineByLine = (data[0] & 0x02) == 0;
  std::string chunk;
  for (size_t i = 1; i < size; ++i) {
    const uint8_t b = data[i];
    if (!events || b < 0xF0) {
      chunk.push_back(static_cast<char>(b));
      continue;
    }
    send(chunk, lineByLine);
    chunk.clear();
    if (b == 0xFF) {
      runShell();
    } else if (b == 0xFE) {
      const uint64_t pauseMs = i + 1 < size ? 10u * data[++i] : 0u;
      sim::board().busyWait(pauseMs * 1000u);
    } else {
      const uint32_t code = b & 0x0Fu;  // parity 1, noise 2, framing 4, overrun 8, or a mix
      sim::board().uart1().injectError(code != 0 ? code : 0x08u);
    }
  }
  send(chunk, lineByLine);
  runShell();
  // Whatever came before, the next line is taken once the shell has dealt with it (after a line
  // end for a line left open, or cut by a loss of input).
  runShell();
  send("\n", true);
  testing_support::dropOutput();
  send("help\n", true);
  const std::string out = testing_support::takeOutput();
  if (out.find("ok: help\r\n") == std::string::npos) {
    std::fprintf(stderr, "console_fuzz: the shell did not take the next line:\n%s\n", out.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A new board now and then too: its medium keeps every frame sent.
  static size_t inputs = 0;
  if (++inputs % 10000 == 0) gBoardClean = false;
  if (!gBoardClean) bringUp();
  // Each input starts from an erased page, a fresh record and an idle shell.
  std::memset(reinterpret_cast<void*>(__device_config_flash_start), 0xFF, sim::FlashModel::kPageSize);
  GState::make();
  DeviceConfig::init();
  gPending = Pending::none;
  setLoraProvisioningActive(false);
  llcc68HandlerInstance().markPoweredOff();
  gBudget.arm(sim::board().nowUs() + kBudgetUs);
  try {
    feed(data, size);
  } catch (const BudgetSpent&) {
    gBoardClean = false;  // an action was cut off half-way: start the next input on a new board
  } catch (const Restarted&) {
    gBoardClean = false;
  }
  gBudget.arm(sim::kNever);
  testing_support::dropOutput();
  return 0;
}
