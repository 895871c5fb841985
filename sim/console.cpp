// Console I/O of orvane-sim. Escape sequences (Ctrl-A then a key), as terminal emulators have:
//   Ctrl-A r  press the reset button       Ctrl-A p  cut and restore the power
//   Ctrl-A x  quit the simulator           Ctrl-A Ctrl-A  send a literal Ctrl-A
#include "console.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board.h"
#include "state_store.h"
#include "uart_model.h"

namespace sim {

namespace {
constexpr char kEscape = 0x01;

void writeAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        // A pty nobody reads: wait a little, then drop, as a wire without a listener would.
        struct pollfd pfd {
          fd, POLLOUT, 0
        };
        if (::poll(&pfd, 1, 100) > 0) continue;
      }
      return;  // the operator went away; output is dropped as on a disconnected wire
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
}
}  // namespace

Console::Console(Board& board) : board_(board) {
  const Options& o = board_.options();
  switch (o.console) {
    case ConsoleMode::stdio:
      inFd_ = 0;
      outFd_ = 1;
      interactive_ = ::isatty(0) != 0;
      break;
    case ConsoleMode::pty: {
      // A pty survives restarts: the master descriptor is inherited through exec.
      const char* inherited = std::getenv("ORVANE_SIM_PTY_FD");
      if (inherited != nullptr) {
        inFd_ = outFd_ = std::atoi(inherited);
      } else {
        int master = -1, slave = -1;
        char name[256] = {0};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
          std::fprintf(stderr, "orvane-sim: cannot open a pty: %s\n", std::strerror(errno));
          std::exit(2);
        }
        // Raw, no echo: the line discipline must not bounce the board's output back as input.
        struct termios tio {};
        if (::tcgetattr(slave, &tio) == 0) {
          ::cfmakeraw(&tio);
          ::cfsetispeed(&tio, B115200);
          ::cfsetospeed(&tio, B115200);
          ::tcsetattr(slave, TCSANOW, &tio);
        }
        // The slave end stays open here so that the pty outlives detaching terminal programs.
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        inFd_ = outFd_ = master;
        char fdText[16];
        std::snprintf(fdText, sizeof fdText, "%d", master);
        ::setenv("ORVANE_SIM_PTY_FD", fdText, 1);
        std::fprintf(stderr, "orvane-sim: console on %s\n", name);
        if (!o.ptyLink.empty()) {
          ::unlink(o.ptyLink.c_str());
          if (::symlink(name, o.ptyLink.c_str()) == 0)
            std::fprintf(stderr, "orvane-sim: linked as %s\n", o.ptyLink.c_str());
        }
      }
      interactive_ = true;
      break;
    }
    case ConsoleMode::capture: interactive_ = false; break;
  }
  // Input read by an earlier run but never delivered (the board was reset meanwhile).
  std::string saved;
  if (readText(board_.statePath("input"), saved)) {
    pending_ = saved;
    removeFile(board_.statePath("input"));
  }
  std::string ended;
  if (readText(board_.statePath("input-ended"), ended)) {
    eof_ = true;
    removeFile(board_.statePath("input-ended"));
  }
}

Console::~Console() = default;

void Console::write(const uint8_t* data, size_t len) {
  if (outFd_ < 0) {
    captured_.append(reinterpret_cast<const char*>(data), len);
    return;
  }
  writeAll(outFd_, reinterpret_cast<const char*>(data), len);
}

std::string Console::takeOutput() {
  std::string out;
  out.swap(captured_);
  return out;
}

// The capture keeps its room: growing it again for every fuzz input cost more than the output.
void Console::dropOutput() { captured_.clear(); }

void Console::inject(const std::string& text) { pending_ += text; }

void Console::readAvailable(bool block, int timeoutMs) {
  if (inFd_ < 0 || eof_) return;
  struct pollfd pfd {
    inFd_, POLLIN, 0
  };
  const int ready = ::poll(&pfd, 1, block ? timeoutMs : 0);
  if (ready <= 0) return;
  char buf[4096];
  const ssize_t n = ::read(inFd_, buf, sizeof buf);
  if (n > 0) {
    pending_.append(buf, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    // End of a pipe or file. A pty whose peer detached reports EIO: wait for the next peer.
    if (board_.options().console == ConsoleMode::pty) {
      ::usleep(100000);
    } else {
      eof_ = true;
    }
  }
}

void Console::pollInput() {
  // Piped input is read when the firmware is idle (offerInput); only a terminal is watched
  // while the firmware runs, at most once per virtual millisecond, to keep syscalls off the
  // path of every hardware-layer call.
  if (!interactive_) return;
  const uint64_t now = board_.nowUs();
  if (now < nextPollUs_) return;
  nextPollUs_ = now + 1000;
  readAvailable(false, 0);
  deliverTyped();
}

void Console::deliverTyped() {
  if (!interactive_ || pending_.empty()) return;
  std::string all;
  all.swap(pending_);
  deliver(all);
}

bool Console::waitForInput(int timeoutMs) {
  if (inFd_ < 0 || eof_) {
    // Nothing can arrive from outside; tests inject before running.
    return true;
  }
  const size_t before = pending_.size();
  readAvailable(true, timeoutMs);
  const bool got = pending_.size() != before || eof_;
  deliverTyped();
  return got;
}

bool Console::offerInput() {
  if (pending_.empty()) return false;
  if (board_.options().burst || interactive_) {
    std::string all;
    all.swap(pending_);
    deliver(all);
    return true;
  }
  // One line, terminator included; a last line without terminator goes once input has ended.
  size_t end = pending_.find_first_of("\r\n");
  if (end == std::string::npos) {
    if (!eof_) {
      readAvailable(true, -1);
      return true;
    }
    end = pending_.size();
  } else {
    // Keep a CR LF pair together.
    if (pending_[end] == '\r' && end + 1 < pending_.size() && pending_[end + 1] == '\n') ++end;
    ++end;
  }
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end);
  deliver(line);
  return true;
}

bool Console::inputEnded() const { return eof_ && pending_.empty() && !board_.uart1().receiving(); }

void Console::deliver(const std::string& text) {
  std::string toUart;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (escapePending_) {
      escapePending_ = false;
      if (c == kEscape) {
        toUart.push_back(c);
        continue;
      }
      if (!toUart.empty()) board_.uart1().hostSend(toUart);
      toUart.clear();
      // Whatever follows the escape waits for the next start.
      pending_.insert(0, text.substr(i + 1));
      handleEscape(c);
      return;
    }
    if (c == kEscape) {
      escapePending_ = true;
      continue;
    }
    toUart.push_back(c);
  }
  if (!toUart.empty()) board_.uart1().hostSend(toUart);
}

bool Console::handleEscape(char command) {
  switch (command) {
    case 'r':
    case 'R': board_.restart(ResetKind::pin);
    case 'p':
    case 'P': board_.restart(ResetKind::powerOn);
    case 'x':
    case 'X': board_.exitSim(0, "quit");
    default: return false;
  }
}

void Console::prepareRestart() {
  if (!pending_.empty()) writeText(board_.statePath("input"), pending_);
  if (eof_) writeText(board_.statePath("input-ended"), "1\n");
}

}  // namespace sim
