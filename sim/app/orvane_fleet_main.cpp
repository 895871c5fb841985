// orvane-fleet: a site of field-build nodes and one Vantor on one channel (docs/fleet.md). It runs
// orvane-air's server, which starts the Vantor (vantor listen) or the gateways it hears through
// (orvane-gateway), and every node (orvane-sim-field) at its power-on and again at each wake-up,
// and writes the air log, the registry and a report.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>

#include "air_server.h"
#include "fleet_plan.h"
#include "fleet_report.h"
#include "output_options.h"
#include "state_store.h"
#include "store.h"

extern char** environ;

namespace {

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

std::string programDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buf[PATH_MAX];
  return std::string(::getcwd(buf, sizeof buf) != nullptr ? buf : ".") + "/" + path;
}

std::string clockText(uint64_t us) {
  const uint64_t s = us / 1000000;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
  return buf;
}

// Resident memory of a process, MiB (0 when it is gone).
double rssMib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/statm");
  unsigned long long size = 0, resident = 0;
  if (!(in >> size >> resident)) return 0;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::vector<int> outputs(const std::string& in, const std::string& out, const std::string& err) {
  return {::open(in.c_str(), O_RDONLY | O_CLOEXEC),
          ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644),
          ::open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)};
}

// The Vantor's messages (its dashboard's address, its broker lost and back), passed on to the
// fleet's standard error line by line as it writes them to its log.
class LogRelay {
 public:
  explicit LogRelay(std::string path) : path_(std::move(path)) {}
  ~LogRelay() {
    if (f_ != nullptr) std::fclose(f_);
  }
  LogRelay(const LogRelay&) = delete;
  LogRelay& operator=(const LogRelay&) = delete;

  // Whole lines written since the last call; `before` goes out first when there is one. True
  // when there was.
  bool relay(const char* before) {
    if (f_ == nullptr && (f_ = std::fopen(path_.c_str(), "r")) == nullptr) return false;
    bool any = false;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, f_) != nullptr) {
      partial_ += buf;
      if (partial_.back() != '\n') continue;
      if (!any) std::fputs(before, stderr);
      any = true;
      std::fputs(partial_.c_str(), stderr);
      partial_.clear();
    }
    std::clearerr(f_);
    return any;
  }

 private:
  std::string path_;
  std::FILE* f_ = nullptr;
  std::string partial_;
};

// A UDP port on the loopback that nobody holds now (the Vantor binds it next).
int freeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  if (fd >= 0) ::close(fd);
  return port;
}

// Whether a UDP socket is bound to this port on the loopback (or on every address).
bool udpBound(int port) {
  std::ifstream in("/proc/net/udp");
  char want[2][16];
  std::snprintf(want[0], sizeof want[0], "0100007F:%04X", port);
  std::snprintf(want[1], sizeof want[1], "00000000:%04X", port);
  for (std::string line; std::getline(in, line);) {
    if (line.find(want[0]) != std::string::npos || line.find(want[1]) != std::string::npos) return true;
  }
  return false;
}

std::string metres(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"orvane-fleet: N field-build nodes and one Vantor on one channel, through orvane-air", "orvane-fleet"};
  sim::FleetOptions o;
  std::string powerOn = "together";
  double outage = -1;
  app.add_option("--nodes", o.nodes, "how many nodes (1..5000)")->required()->check(CLI::Range(1u, 5000u));
  app.add_option("--stop-after", o.stopAfterS, "seconds of virtual time the run lasts")
      ->required()
      ->check(CLI::Range(1.0, 1e8));
  app.add_option("--seed", o.seed, "seed of the site: chips, positions, LSI, power-on times, keys (default 1)");
  app.add_option("--dir", o.dir, "folder of the run's outputs, new or empty (default .orvane-fleet)");
  app.add_option("--power-on", powerOn, "together (all at 0 s) or spread (over one 600 s cycle)")
      ->check(CLI::IsMember({"together", "spread"}));
  app.add_option("--load-mix", o.loadMix, "loads, one per line (orvane-sim's --load items, optionally N* first)");
  app.add_option("--radius", o.radiusM, "nodes stand evenly over a disc of this radius around the Vantor, m (100)")
      ->check(CLI::Range(3.0, 100000.0));
  app.add_option("--path-loss-exponent", o.pathLossExponent, "log-distance exponent (default 3)")
      ->check(CLI::Range(1.5, 6.0));
  app.add_option("--outage-at", outage, "cut every node's supply at this virtual time, s (they all start again)")
      ->check(CLI::Range(0.0, 1e8));
  double measureFrom = -1;
  app.add_option("--measure-from", measureFrom,
                 "the report's steady part starts here, s (default: a cycle after the last node began its cycles)")
      ->check(CLI::Range(0.0, 1e8));
  app.add_option("--setting", o.settings,
                 "a setting the Vantor queues for every node it gives an identity or confirms (repeatable)");
  app.add_option("--gateways", o.gateways,
                 "this many simulated gateways (orvane-gateway) instead of the Vantor on the air; the Vantor "
                 "serves them with listen --gateway")
      ->check(CLI::Range(1u, 64u));
  app.add_option("--processes", o.processes, "node processes kept running ahead of need (default: cores)")
      ->check(CLI::Range(1u, 4096u));
  vantor::OutputOptions vo;
  app.add_option("--mqtt", vo.mqtt, "the Vantor publishes to this MQTT broker, mqtt://HOST:PORT, and takes commands");
  app.add_option("--mqtt-prefix", vo.mqttPrefix, "its topics' prefix (default orvane)");
  app.add_option("--mqtt-client-id", vo.mqttClientId,
                 "its client id (default vantor-HOSTNAME; one per Vantor on a broker)");
  app.add_option("--http", vo.http, "serve the Vantor's dashboard there while the fleet runs, e.g. 127.0.0.1:8080");
  app.add_option("--token-file", vo.tokenFile,
                 "the token that the dashboard's changes must carry (needed beyond the loopback)");
  app.add_flag("--quiet", o.quiet, "no progress line, no summary");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  o.spread = powerOn == "spread";
  if (outage >= 0) o.outageAtS = outage;
  if (measureFrom >= 0) o.measureFromS = measureFrom;
  std::vector<std::string> loads;
  std::string error;
  if (!vantor::checkOutputOptions(vo, error)) {
    std::fprintf(stderr, "orvane-fleet: %s\n", error.c_str());
    return 2;
  }
  if (!o.loadMix.empty() && !sim::readLoadMix(o.loadMix, loads, error)) {
    std::fprintf(stderr, "orvane-fleet: %s\n", error.c_str());
    return 2;
  }
  const std::string dir = absolute(o.dir);
  sim::makeStateDir(dir);
  for (const char* taken : {"air.jsonl", "report.json", "vantor.sqlite", "nodes"}) {
    struct stat st {};
    if (::stat((dir + "/" + taken).c_str(), &st) == 0) {
      std::fprintf(stderr, "orvane-fleet: %s holds a run already (%s); name a new or empty folder with --dir\n",
                   dir.c_str(), taken);
      return 2;
    }
  }
  // Every sleeping node keeps three descriptors at the air.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 4 * o.nodes + 64) {
      std::fprintf(stderr, "orvane-fleet: %u nodes need %u open files, the limit is %llu\n", o.nodes, 4 * o.nodes + 64,
                   static_cast<unsigned long long>(files.rlim_cur));
      return 2;
    }
  }
  const std::vector<sim::NodePlan> plan = sim::planFleet(o, loads);
  const uint64_t stopUs = static_cast<uint64_t>(std::llround(o.stopAfterS * 1e6));

  sim::AirOptions ao;
  ao.socketPath = dir + "/air.sock";
  if (ao.socketPath.size() >= 100) {
    char tmpl[] = "/tmp/orvane-fleet-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
      std::fprintf(stderr, "orvane-fleet: cannot make a folder for the air's socket\n");
      return 2;
    }
    ao.socketPath = std::string(tmpl) + "/air.sock";
  }
  ao.airLog = dir + "/air.jsonl";
  ao.pathLossExponent = o.pathLossExponent;
  ao.stopAtUs = stopUs;
  ao.processes = o.processes;
  sim::AirServer server(ao);
  if (!server.open(error)) {
    std::fprintf(stderr, "orvane-fleet: %s\n", error.c_str());
    return 2;
  }
  const std::string air = "unix:" + ao.socketPath;
  const std::string bin = programDir();
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "ORVANE_SIM_RUN_CONTINUES=", 25) != 0) env.emplace_back(*e);
  }
  char cwd[PATH_MAX];
  const std::string here = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/";

  // The Vantor's options: its seed, the site's settings, the outputs.
  std::vector<std::string> vantorArgs{"vantor", "--db", dir + "/vantor.sqlite", "listen"};
  std::vector<std::string> vantorOptions{"--seed", std::to_string(o.seed)};
  for (const std::string& s : o.settings) {
    vantorOptions.push_back("--setting");
    vantorOptions.push_back(s);
  }
  const std::pair<const char*, const std::string*> passed[] = {{"--mqtt", &vo.mqtt},
                                                               {"--mqtt-prefix", &vo.mqttPrefix},
                                                               {"--mqtt-client-id", &vo.mqttClientId},
                                                               {"--http", &vo.http},
                                                               {"--token-file", &vo.tokenFile}};
  for (const auto& [option, value] : passed) {
    if (value->empty()) continue;
    vantorOptions.push_back(option);
    vantorOptions.push_back(*value);
  }
  pid_t vantorPid = -1;
  if (o.gateways == 0) {
    // The Vantor first: at virtual time 0 it is what everybody waits for, so the air starts it at once.
    sim::air::Relaunch vantor{bin + "/vantor", here, vantorArgs, env};
    for (const char* a : {"--air", air.c_str(), "--at", "0,0"}) vantor.argv.emplace_back(a);
    vantor.argv.insert(vantor.argv.end(), vantorOptions.begin(), vantorOptions.end());
    server.expect("vantor", sim::air::Role::listener, 0, sim::air::Position{0, 0}, vantor,
                  outputs("/dev/null", dir + "/vantor.log", dir + "/vantor.log"));
  } else {
    // The Vantor behind the gateways is no participant of the air: it listens on a UDP port of the
    // loopback, and the gateways start only once it does, so that none of their datagrams is lost.
    const int port = freeUdpPort();
    if (port < 0) {
      std::fprintf(stderr, "orvane-fleet: no free UDP port on the loopback for the Vantor\n");
      return 2;
    }
    const std::string udp = "udp://127.0.0.1:" + std::to_string(port);
    std::vector<std::string> argv = vantorArgs;
    argv.push_back("--gateway");
    argv.push_back(udp);
    argv.insert(argv.end(), vantorOptions.begin(), vantorOptions.end());
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const std::vector<int> fds = outputs("/dev/null", dir + "/vantor.log", dir + "/vantor.log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; ++i) posix_spawn_file_actions_adddup2(&actions, fds[static_cast<size_t>(i)], i);
    const int rc = ::posix_spawn(&vantorPid, (bin + "/vantor").c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : fds) ::close(fd);
    int status = 0;
    for (int i = 0; rc == 0 && i < 600 && !udpBound(port); ++i) {
      if (::waitpid(vantorPid, &status, WNOHANG) == vantorPid) {
        vantorPid = -1;
        break;
      }
      ::usleep(50'000);
    }
    if (rc != 0 || vantorPid < 0 || !udpBound(port)) {
      std::fprintf(stderr, "orvane-fleet: the Vantor did not start listening at %s (%s)\n", udp.c_str(),
                   (dir + "/vantor.log").c_str());
      if (vantorPid > 0) ::kill(vantorPid, SIGTERM);
      return 1;
    }
    sim::makeStateDir(dir + "/gateways");
    const std::vector<sim::air::Position> at = sim::receiverPositions(o);
    for (unsigned i = 0; i < o.gateways; ++i) {
      char name[16], eui[24];
      std::snprintf(name, sizeof name, "gw%02u", i + 1);
      std::snprintf(eui, sizeof eui, "%016llX", static_cast<unsigned long long>(sim::gatewayEui(i + 1)));
      const std::string log = dir + "/gateways/" + name;
      sim::air::Relaunch g{bin + "/orvane-gateway",
                           here,
                           {"orvane-gateway", "--air", air, "--server", udp, "--eui", eui, "--name", name, "--at",
                            metres(at[i].x) + "," + metres(at[i].y), "--seed", std::to_string(o.seed + i), "--epoch",
                            std::to_string(sim::kGatewayEpochS), "--events", log + ".jsonl"},
                           env};
      server.expect(name, sim::air::Role::listener, 0, at[i], g, outputs("/dev/null", log + ".log", log + ".log"));
    }
  }
  for (const sim::NodePlan& n : plan) {
    if (n.powerOnUs >= stopUs) continue;
    const std::string state = dir + "/nodes/" + n.name;
    sim::makeStateDir(state);
    if (n.powerOnUs > 0) {
      // A board that has never had power, switched on at this virtual time.
      sim::writeU64(state + "/" + sim::kClockFile, n.powerOnUs);
      sim::writeText(state + "/restart", "csr=0c000000 sr1=00000000\n");
    }
    char stopAfter[32];
    std::snprintf(stopAfter, sizeof stopAfter, "%.6f", static_cast<double>(stopUs - n.powerOnUs) / 1e6);
    sim::air::Relaunch r{bin + "/orvane-sim-field",
                         here,
                         {"orvane-sim-field",
                          "--speed",
                          "0",
                          "--state",
                          state,
                          "--air",
                          air,
                          "--air-name",
                          n.name,
                          "--air-at",
                          metres(n.at.x) + "," + metres(n.at.y),
                          "--chip-id",
                          n.chipId,
                          "--seed",
                          std::to_string(n.seed),
                          "--lsi-hz",
                          std::to_string(n.lsiHz),
                          "--load",
                          n.load,
                          "--stop-after",
                          stopAfter},
                         env};
    if (o.outageAtS) {
      r.argv.push_back("--power-cut-at");
      r.argv.push_back(std::to_string(std::llround(*o.outageAtS * 1000.0)));
    }
    server.expect(n.name, sim::air::Role::node, n.powerOnUs, n.at, r,
                  outputs("/dev/null", state + "/console.log", state + "/sim.log"));
  }

  std::set<uint32_t> confirmed;
  uint64_t frames = 0;
  server.onCommit([&](const sim::AirFrame& f) {
    ++frames;
    // A confirm: packet 13 of 143 bytes whose phase tag (offset 67) is 0x5555.
    if ((f.sender == "vantor" || f.sender == "gateway") && f.bytes.size() == 143 && f.bytes[0] == 13 &&
        f.bytes[67] == 0x55 && f.bytes[68] == 0x55) {
      confirmed.insert(f.bytes[1] | (f.bytes[2] << 8) | (static_cast<uint32_t>(f.bytes[3]) << 16));
    }
  });
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  const auto wallStart = std::chrono::steady_clock::now();
  double peakMib = 0;
  auto wallS = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count(); };
  double lastLine = -1e9;
  double lastSample = -1e9;
  double lastRelay = -1e9;
  LogRelay vantorLog(dir + "/vantor.log");
  bool progressInPlace = false;  // a progress line on the terminal that a message must not overwrite
  const int status = server.run([&] {
    if (gStop != 0) server.stop();
    if (wallS() - lastRelay >= 0.2) {
      lastRelay = wallS();
      if (vantorLog.relay(progressInPlace ? "\n" : "")) progressInPlace = false;
    }
    if (wallS() - lastSample >= 1.0) {
      lastSample = wallS();
      double mib = rssMib(::getpid());
      for (pid_t pid : server.childPids()) mib += rssMib(pid);
      peakMib = std::max(peakMib, mib);
    }
    if (o.quiet || (!terminal && wallS() - lastLine < 10.0)) return;
    lastLine = wallS();
    const uint64_t at = std::min(server.floorUs(), stopUs);
    std::fprintf(stderr, "%sorvane-fleet: virtual %s (%.1f %%), %zu/%u confirmed, %llu frames, %zu processes%s",
                 terminal ? "\r" : "", clockText(at).c_str(),
                 100.0 * static_cast<double>(at) / static_cast<double>(stopUs), confirmed.size(), o.nodes,
                 static_cast<unsigned long long>(frames), server.processesAlive(), terminal ? "   " : "\n");
    progressInPlace = terminal;
  });
  server.waitForChildren();
  if (vantorPid > 0) {
    // The gateways have ended with the air: the Vantor behind them has nothing more to hear.
    ::kill(vantorPid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(vantorPid, &status, WNOHANG) == 0; ++i) ::usleep(50'000);
    if (::waitpid(vantorPid, &status, WNOHANG) == 0) {
      ::kill(vantorPid, SIGKILL);
      ::waitpid(vantorPid, &status, 0);
    }
  }
  if (!vantorLog.relay(progressInPlace ? "\n" : "") && progressInPlace) std::fputc('\n', stderr);

  sim::FleetRun run;
  run.options = o;
  run.plan = plan;
  run.figures = server.figures();
  // A run stopped early (SIGINT, SIGTERM) is reported over the virtual time every participant
  // reached, so that its rates, G and node-seconds are not spread over time it never ran.
  run.endUs = gStop != 0 ? std::min(server.floorUs(), stopUs) : stopUs;
  run.wallS = wallS();
  run.peakRssMib = peakMib;
  rusage self{}, children{};
  ::getrusage(RUSAGE_SELF, &self);
  ::getrusage(RUSAGE_CHILDREN, &children);
  auto cpuS = [](const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  run.airCpuS = cpuS(self);
  run.participantsCpuS = cpuS(children);
  std::vector<sim::AirLine> airLines;
  if (!sim::readAirLog(ao.airLog, airLines, error)) {
    std::fprintf(stderr, "orvane-fleet: %s\n", error.c_str());
    return 1;
  }
  nlohmann::json report;
  try {
    const std::unique_ptr<vantor::Store> registry = vantor::openStore(dir + "/vantor.sqlite", false);
    report = sim::fleetReport(run, airLines, *registry);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvane-fleet: the Vantor's registry: %s\n", e.what());
    return 1;
  }
  std::ofstream(dir + "/report.json") << report.dump(1) << '\n';
  if (!o.quiet) {
    const nlohmann::json& f = report["fleet"];
    std::fprintf(stderr,
                 "orvane-fleet: %u nodes, %s of virtual time in %.1f s: %llu/%u confirmed, readings %llu sent, %llu "
                 "stored (%.4f), G %.4f, e^-2G %.4f; %s/report.json\n",
                 o.nodes, clockText(run.endUs).c_str(), run.wallS, f["confirmed"].get<unsigned long long>(), o.nodes,
                 f["readings_sent"].get<unsigned long long>(), f["readings_stored"].get<unsigned long long>(),
                 f["delivery_ratio"].is_null() ? 0.0 : f["delivery_ratio"].get<double>(),
                 f["offered_load_g"].get<double>(), f["aloha_prediction"].get<double>(), dir.c_str());
  }
  return status;
}
