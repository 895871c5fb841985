// Fresh process images for every start of the firmware: a keeper process that forks each start and
// carries over, from one start to the next, what exec would carry.
#include "fresh_image.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

extern char** environ;

namespace sim {

namespace {

// The messages of a start that restarts, one datagram each: its environment in pieces, then its
// descriptors in groups.
constexpr char kEnvironment = 'E';
constexpr char kDescriptors = 'F';
constexpr size_t kPieceBytes = 32 * 1024;
constexpr size_t kGroupFds = 64;

// Marks the image that runStartsInFreshImages loaded again with the loader binding everything.
constexpr const char* kBoundNow = "ORVANE_SIM_BOUND_NOW";

int gKeeper = -1;   // in a start: the socket to the keeper
pid_t gStart = -1;  // in the keeper: the start running now

// Signals that end a start are passed on to it, so the keeper ends with it (as one process did).
constexpr int kPassedOn[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction gInherited[std::size(kPassedOn)];

void passOn(int sig) {
  if (gStart > 0) ::kill(gStart, sig);
}

// Descriptors of this process that exec keeps open.
std::vector<int> keptOpenOnExec() {
  std::vector<int> fds;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  const int own = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const int fd = std::atoi(e->d_name);
    if (fd != own) fds.push_back(fd);
  }
  ::closedir(dir);
  std::erase_if(fds, [](int fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    return flags < 0 || (flags & FD_CLOEXEC) != 0;
  });
  return fds;
}

bool sendPiece(char kind, const void* data, size_t len, const int* fds, size_t nfds) {
  std::vector<char> body(1 + len);
  body[0] = kind;
  if (len > 0) std::memcpy(body.data() + 1, data, len);
  iovec iov{body.data(), body.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  std::vector<char> control(CMSG_SPACE(sizeof(int) * kGroupFds));
  if (nfds > 0) {
    msg.msg_control = control.data();
    msg.msg_controllen = CMSG_SPACE(sizeof(int) * nfds);
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int) * nfds);
    std::memcpy(CMSG_DATA(c), fds, sizeof(int) * nfds);
  }
  for (;;) {
    if (::sendmsg(gKeeper, &msg, MSG_NOSIGNAL) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

// What the keeper received of a start that restarts.
struct Handover {
  bool restart = false;
  std::string environment;  // NUL-terminated entries one after the other
  std::vector<int> targets;  // descriptor numbers in the start...
  std::vector<int> received;  // ...and where they arrived here
};

void receive(int sock, Handover& h) {
  std::vector<char> body(1 + kPieceBytes);
  std::vector<char> control(CMSG_SPACE(sizeof(int) * kGroupFds));
  for (;;) {
    iovec iov{body.data(), body.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    const ssize_t n = ::recvmsg(sock, &msg, MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the start has ended
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      const size_t at = h.received.size();
      h.received.resize(at + count);
      std::memcpy(h.received.data() + at, CMSG_DATA(c), count * sizeof(int));
    }
    h.restart = true;
    if (body[0] == kEnvironment) {
      h.environment.append(body.data() + 1, static_cast<size_t>(n) - 1);
    } else if (body[0] == kDescriptors) {
      const size_t count = (static_cast<size_t>(n) - 1) / sizeof(int);
      const size_t at = h.targets.size();
      h.targets.resize(at + count);
      std::memcpy(h.targets.data() + at, body.data() + 1, count * sizeof(int));
    }
  }
}

// The keeper takes on what the next start is to inherit, as exec would hand it over.
void takeOver(const Handover& h) {
  static std::vector<std::string> entries;
  static std::vector<char*> table;
  entries.clear();
  for (size_t at = 0; at < h.environment.size();) {
    const size_t end = h.environment.find('\0', at);
    entries.emplace_back(h.environment.substr(at, end - at));
    at = end == std::string::npos ? h.environment.size() : end + 1;
  }
  table.clear();
  for (std::string& e : entries) table.push_back(e.data());
  table.push_back(nullptr);
  environ = table.data();

  // Descriptors the start had closed are closed for the next one too.
  for (int fd : keptOpenOnExec()) {
    if (std::find(h.targets.begin(), h.targets.end(), fd) == h.targets.end()) ::close(fd);
  }
  if (h.targets.size() != h.received.size()) return;
  // Out of the way of every number first, then each to its number.
  int above = 0;
  for (int fd : h.targets) above = std::max(above, fd + 1);
  for (int fd : h.received) above = std::max(above, fd + 1);
  std::vector<int> parked;
  for (int fd : h.received) {
    parked.push_back(::fcntl(fd, F_DUPFD_CLOEXEC, above));
    ::close(fd);
  }
  for (size_t i = 0; i < parked.size(); ++i) {
    if (parked[i] < 0) continue;
    ::dup2(parked[i], h.targets[i]);
    ::close(parked[i]);
  }
}

[[noreturn]] void endAs(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
  }
  ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

}  // namespace

void runStartsInFreshImages(char** argv) {
  // Every symbol bound by the loader, in the libraries too (-z now binds only the program's own):
  // otherwise each start binds again at its first calls, and writes the pages it binds in.
  if (std::getenv(kBoundNow) != nullptr) {
    ::unsetenv(kBoundNow);
    ::unsetenv("LD_BIND_NOW");
  } else if (std::getenv("LD_BIND_NOW") == nullptr) {
    ::setenv("LD_BIND_NOW", "1", 1);
    ::setenv(kBoundNow, "1", 1);
    // By its path, not /proc/self/exe: under valgrind that names the tool, not the program.
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) {
      path[n] = '\0';
      ::execv(path, argv);
    }
    ::unsetenv("LD_BIND_NOW");  // not replaced: go on as it is
    ::unsetenv(kBoundNow);
  }
  const pid_t keeper = ::getpid();
  for (size_t i = 0; i < std::size(kPassedOn); ++i) {
    struct sigaction pass {};
    pass.sa_handler = passOn;
    sigemptyset(&pass.sa_mask);
    ::sigaction(kPassedOn[i], &pass, &gInherited[i]);
  }
  for (;;) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) break;
    const pid_t pid = ::fork();
    if (pid < 0) {
      ::close(pair[0]);
      ::close(pair[1]);
      break;
    }
    if (pid == 0) {
      // The start: signals as exec would leave them; it does not outlive its keeper.
      for (size_t i = 0; i < std::size(kPassedOn); ++i) ::sigaction(kPassedOn[i], &gInherited[i], nullptr);
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != keeper) ::_exit(1);
      ::close(pair[0]);
      gKeeper = pair[1];
      return;
    }
    gStart = pid;
    ::close(pair[1]);
    Handover h;
    receive(pair[0], h);
    ::close(pair[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    gStart = -1;
    if (!h.restart || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      for (int fd : h.received) ::close(fd);
      endAs(status);
    }
    takeOver(h);
  }
  // No process could be made: this one runs the program itself, restarts by exec.
  for (size_t i = 0; i < std::size(kPassedOn); ++i) ::sigaction(kPassedOn[i], &gInherited[i], nullptr);
}

void startInFreshImage(const std::vector<std::string>& argv) {
  if (gKeeper >= 0) {
    std::string environment;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) environment.append(*e).push_back('\0');
    bool sent = true;
    size_t at = 0;
    do {
      const size_t len = std::min(kPieceBytes, environment.size() - at);
      sent = sent && sendPiece(kEnvironment, environment.data() + at, len, nullptr, 0);
      at += len;
    } while (at < environment.size());
    const std::vector<int> fds = keptOpenOnExec();
    for (size_t i = 0; i < fds.size(); i += kGroupFds) {
      const size_t n = std::min(kGroupFds, fds.size() - i);
      sent = sent && sendPiece(kDescriptors, fds.data() + i, n * sizeof(int), fds.data() + i, n);
    }
    if (sent) std::_Exit(0);
    std::fprintf(stderr, "orvane-sim: restart failed: %s\n", std::strerror(errno));
    std::_Exit(3);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  if (args[0] != nullptr) ::execv("/proc/self/exe", args.data());
  std::fprintf(stderr, "orvane-sim: restart failed: %s\n", std::strerror(errno));
  std::_Exit(3);
}

}  // namespace sim
