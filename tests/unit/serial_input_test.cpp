// Console line transport: line ends, limits, NUL bytes, ring overflow and UART errors, seen the
// way an operator sees them (the shell's echo and error lines).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SerialConfig.h"
#include "main.h"
#include "test_board.h"
#include "uart_model.h"

namespace {

using testing_support::freshBoard;
using testing_support::takeOutput;
using testing_support::typeAndPoll;

// The echo lines ("> ...") and error lines of a transcript, in order.
std::vector<std::string> echoesAndErrors(const std::string& out) {
  std::vector<std::string> picked;
  for (const std::string& line : testing_support::lines(out)) {
    if (line.rfind("> ", 0) == 0 || line.rfind("err: ", 0) == 0) picked.push_back(line);
  }
  return picked;
}

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> expected;
};

class SerialInput : public ::testing::Test {
 protected:
  void SetUp() override {
    freshBoard();
    takeOutput();
  }
};

TEST_F(SerialInput, LineFramingTable) {
  const std::string line191(191, 'a');
  const std::string line192(192, 'b');
  const std::vector<Case> cases = {
      {"CR LF", "reset1\r\n", {"> reset1", "err: unknown command (try 'help')"}},
      {"LF CR", "reset1\n\r", {"> reset1", "err: unknown command (try 'help')"}},
      {"lone CR", "reset1\r", {"> reset1", "err: unknown command (try 'help')"}},
      {"lone LF", "reset1\n", {"> reset1", "err: unknown command (try 'help')"}},
      {"empty lines", "\r\n\n\r\r", {}},
      {"blanks only", "   \t \n", {}},
      {"leading blanks not echoed", "   x1\n", {"> x1", "err: unknown command (try 'help')"}},
      {"191 characters", line191 + "\n", {"> " + line191, "err: unknown command (try 'help')"}},
      {"192 characters", line192 + "\nx2\n", {"err: line too long", "> x2", "err: unknown command (try 'help')"}},
      {"NUL inside a line",
       std::string("x\0\0"
                   "3\n",
                   5),
       {"> x3", "err: unknown command (try 'help')"}},
      {"two lines in one burst",
       "a1\nb2\n",
       {"> a1", "err: unknown command (try 'help')", "> b2", "err: unknown command (try 'help')"}},
      {"no first token", "-x\n", {"> -x", "err: bad command"}},
      {"open quote", "\"abc\n", {"> \"abc", "err: bad command"}},
      {"empty quotes", "\"\"\n", {"> \"\"", "err: unknown command (try 'help')"}},
      {"case matters", "HELP\n", {"> HELP", "err: unknown command (try 'help')"}},
      {"extra letters", "helpx\n", {"> helpx", "err: unknown command (try 'help')"}},
  };
  for (const Case& c : cases) {
    typeAndPoll(c.input);
    EXPECT_EQ(echoesAndErrors(takeOutput()), c.expected) << c.name;
  }
}

TEST_F(SerialInput, RuleLinesFrameEveryNonBlankLine) {
  typeAndPoll("nope\n");
  EXPECT_EQ(takeOutput(),
            "##########################\r\n> nope\r\n\r\n\r\nerr: unknown command (try 'help')\r\n"
            "##########################\r\n");
  typeAndPoll("  \t\n");
  EXPECT_EQ(takeOutput(), "");
}

TEST_F(SerialInput, QuotedCommandNameAndSeparatorStartArguments) {
  typeAndPoll("\"help\"\n");
  const std::string quoted = takeOutput();
  EXPECT_NE(quoted.find("ok: help"), std::string::npos);
  typeAndPoll("help,now\n");  // a comma ends the name and starts the argument text
  EXPECT_NE(takeOutput().find("ok: help"), std::string::npos);
}

TEST_F(SerialInput, RingOverflowDropsUntilNextLineEnd) {
  // 600 bytes arrive while the main loop is busy: the ring keeps 511 of them, read before the gap
  // is reported (here they make a line too long).
  sim::board().uart1().hostSend(std::string(600, 'z'));
  testing_support::runFor(100000);
  typeAndPoll("");
  EXPECT_EQ(echoesAndErrors(takeOutput()), (std::vector<std::string>{"err: line too long", "err: rx overflow"}));
  // The dropped line's end, then a fresh line that is dispatched normally.
  typeAndPoll("\nok1\n");
  EXPECT_EQ(echoesAndErrors(takeOutput()), (std::vector<std::string>{"> ok1", "err: unknown command (try 'help')"}));
}

// Lines wait in the ring while the loop is busy; bytes then go missing (the ring is full, or the
// UART flags an error). Whole lines before the gap run, the line the gap cut is dropped up to its
// end, the loss is reported once, and no command is made of the pieces on either side of it.
TEST_F(SerialInput, LossDropsTheLineItCutAndNeverJoinsPieces) {
  struct LossCase {
    const char* name;
    uint32_t uartError;  // 0: the ring overflows instead
    const char* message;
  };
  const LossCase cases[] = {
      {"ring full", 0, "err: rx overflow"},
      {"overrun", 0x08, "err: uart rx error 0x08 (re-armed)"},
      {"framing error", 0x04, "err: uart rx error 0x04 (re-armed)"},
  };
  for (const LossCase& c : cases) {
    SetUp();
    sim::board().uart1().hostSend("a1\nb2\nprint vr");
    testing_support::runFor(2000);
    if (c.uartError != 0) {
      sim::board().uart1().injectError(c.uartError);
    } else {
      sim::board().uart1().hostSend(std::string(520, '\0'));  // NULs: the line grows no longer
    }
    testing_support::runFor(60000);
    typeAndPoll("");
    sim::board().uart1().hostSend("ef 57\nc3\n");
    testing_support::runFor(5000);
    typeAndPoll("");
    EXPECT_EQ(echoesAndErrors(takeOutput()),
              (std::vector<std::string>{"> a1", "err: unknown command (try 'help')", "> b2",
                                        "err: unknown command (try 'help')", c.message, "> c3",
                                        "err: unknown command (try 'help')"}))
        << c.name;
  }
}

// An overrun while reception waited to be restarted lost bytes: the restart reports it, once.
TEST_F(SerialInput, OverrunBeforeARestartIsReportedOnce) {
  ASSERT_EQ(HAL_UART_AbortReceive(&huart1), HAL_OK);
  sim::board().uart1().hostSend("xy");  // x waits in the data register, y overruns it
  testing_support::runFor(3000);
  typeAndPoll("");  // the poll's watchdog restarts reception
  typeAndPoll("\nok2\n");
  EXPECT_EQ(echoesAndErrors(takeOutput()), (std::vector<std::string>{"err: uart rx error 0x08 (re-armed)", "> ok2",
                                                                     "err: unknown command (try 'help')"}));
}

TEST_F(SerialInput, LongBurstCrossesSeveralDmaChunks) {
  // 150 characters: half-transfer and full events of the 64-byte chunks must not lose a byte.
  std::string line;
  for (int i = 0; i < 150; ++i) line.push_back(static_cast<char>('a' + i % 26));
  typeAndPoll(line + "\n");
  EXPECT_EQ(echoesAndErrors(takeOutput()),
            (std::vector<std::string>{"> " + line, "err: unknown command (try 'help')"}));
}

}  // namespace
