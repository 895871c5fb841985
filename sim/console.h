// The operator's side of the console UART: a terminal, a pipe, a pty or a test's buffers.
// Piped input is fed one line at a time, each once the firmware is idle again, so a script
// behaves like an operator typing; a terminal sends each line as Enter is pressed.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class Board;

class Console {
 public:
  explicit Console(Board& board);
  ~Console();

  bool isInteractive() const { return interactive_; }

  // Firmware output (from the UART transmitter).
  void write(const uint8_t* data, size_t len);

  // Read whatever input is available without blocking.
  void pollInput();
  // Block up to timeoutMs (-1: no limit) for input; true when input (or its end) arrived.
  bool waitForInput(int timeoutMs);
  // The firmware is idle: hand it the next piece of input. True if something was handed over.
  bool offerInput();
  // All input has been delivered and no more will come.
  bool inputEnded() const;

  // Before the process is replaced by a restart: keep undelivered input for the next start.
  void prepareRestart();

  // Tests: inject operator input and read what the firmware printed.
  void inject(const std::string& text);
  std::string takeOutput();
  void dropOutput();

 private:
  void readAvailable(bool block, int timeoutMs);
  void deliver(const std::string& text);
  // A terminal's input goes to the UART as soon as it is read.
  void deliverTyped();
  bool handleEscape(char command);

  Board& board_;
  int inFd_ = -1;
  int outFd_ = -1;
  bool interactive_ = false;
  bool eof_ = false;
  bool escapePending_ = false;
  uint64_t nextPollUs_ = 0;
  std::string pending_;  // read from the operator, not yet handed to the UART
  std::string captured_;
};

}  // namespace sim
