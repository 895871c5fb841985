// The vantor command line: parsing (CLI11), the listings, the queue and the CSV registry.
#include "cli.h"

#include <signal.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "activity.h"
#include "http_server.h"
#include "json_records.h"
#include "pg_db.h"
#include "plots.h"
#include "settings.h"
#include "store.h"
#include "uplink_decode.h"
#include "vantor.h"

namespace vantor {

namespace {

using nlohmann::json;

// A refusal with its message (exit 1); usage errors are thrown as Usage (exit 2).
struct Refused : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct Usage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint32_t parseNode(const std::string& text) {
  const std::optional<uint32_t> uid = parseUid(text);
  if (!uid) throw Usage("bad node '" + text + "': an identity in hex, 0x000001 to 0xFFFFFF");
  return *uid;
}

std::string secondsText(std::optional<uint64_t> us) {
  if (!us) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", secondsOf(*us));
  return buf;
}

// Scalars as they are (strings unquoted), structures as compact JSON.
std::string valueText(const json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

std::string fieldsText(const json& fields) {
  std::string s;
  for (auto it = fields.begin(); it != fields.end(); ++it) {
    if (!s.empty()) s += ' ';
    s += it.key() + "=" + valueText(it.value());
  }
  return s.empty() ? "-" : s;
}

// Columns padded to the widest cell; the last column is not padded.
void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> width;
  for (const auto& r : rows) {
    for (size_t i = 0; i < r.size(); ++i) {
      if (i >= width.size()) width.push_back(0);
      width[i] = std::max(width[i], r[i].size());
    }
  }
  for (const auto& r : rows) {
    std::string line;
    for (size_t i = 0; i < r.size(); ++i) {
      line += r[i];
      if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
    }
    out << line << '\n';
  }
}

struct Context {
  std::string dbPath = kDefaultDatabase;
  bool json = false;
  std::ostream& out;

  std::unique_ptr<Store> open(bool create = false) const {
    struct stat st {};
    if (!create && !isServerDatabase(dbPath) && dbPath != ":memory:" && stat(dbPath.c_str(), &st) != 0) {
      throw Refused("no database at " + dbPath + " (start orvane-sim first, or name one with --db)");
    }
    try {
      return openStore(dbPath, create);
    } catch (const DbError& e) {
      throw Refused(e.what());
    }
  }
};

NodeRecord requireNode(Store& r, uint32_t uid) {
  std::optional<NodeRecord> n = r.nodeByUid(uid);
  if (!n) throw Refused("no node " + uidText(uid) + " in the registry");
  return *n;
}

void nodes(Context& c) {
  const std::unique_ptr<Store> store = c.open();
  Store& r = *store;
  const uint64_t now = r.nowUs();
  std::vector<std::vector<std::string>> rows{
      {"uid", "chip_id", "state", "last_counter", "last_seen_s", "activity", "last_telemetry"}};
  const std::map<uint32_t, UplinkRecord> latest = r.lastTelemetryOfEach();
  for (const NodeRecord& n : r.nodes()) {
    const auto found = latest.find(n.uid);
    const std::optional<UplinkRecord> t =
        found == latest.end() ? std::nullopt : std::optional<UplinkRecord>(found->second);
    if (c.json) {
      c.out << nodeJson(n, now, t).dump() << '\n';
    } else {
      rows.push_back({uidText(n.uid), n.chipId, n.state, n.lastCounter ? std::to_string(*n.lastCounter) : "-",
                      secondsText(n.lastSeenUs), activityOf(n, now).name, t ? fieldsText(t->fields) : "-"});
    }
  }
  if (!c.json) printTable(c.out, rows);
}

void uplinks(Context& c, const std::string& node, int limit) {
  if (limit < 1) throw Usage("--limit takes a number of frames, 1 or more");
  const std::unique_ptr<Store> store = c.open();
  Store& r = *store;
  std::optional<uint32_t> uid;
  if (!node.empty()) uid = parseNode(node);
  const std::vector<UplinkRecord> list = r.uplinks(uid, limit);
  if (uid && list.empty() && !r.nodeByUid(*uid)) throw Refused("no node " + uidText(*uid) + " in the registry");
  std::vector<std::vector<std::string>> rows{
      {"id", "t_s", "uid", "code", "counter", "rssi_dbm", "snr_db", "tag", "verdict", "fields"}};
  for (const UplinkRecord& u : list) {
    if (c.json) {
      c.out << uplinkJson(u).dump() << '\n';
    } else {
      char rssi[16] = "-", snr[16] = "-";
      if (u.rssiDbm) std::snprintf(rssi, sizeof rssi, "%.1f", *u.rssiDbm);
      if (u.snrDb) std::snprintf(snr, sizeof snr, "%.1f", *u.snrDb);
      rows.push_back({std::to_string(u.id), secondsText(u.tUs), uidText(u.uid), std::to_string(u.code),
                      u.counter ? std::to_string(*u.counter) : "-", rssi, snr, u.tagOk ? "ok" : "bad", u.verdict,
                      fieldsText(u.fields)});
    }
  }
  if (!c.json) printTable(c.out, rows);
}

// "crc_bad 3, channel 1" from {"crc_bad": 3, "channel": 1}, "-" for none.
std::string byReasonText(const json& counts) {
  std::string out;
  for (auto it = counts.begin(); it != counts.end(); ++it) {
    out += (out.empty() ? "" : ", ") + it.key() + " " + valueText(it.value());
  }
  return out.empty() ? "-" : out;
}

void gateways(Context& c) {
  const std::unique_ptr<Store> store = c.open();
  std::vector<std::vector<std::string>> rows{
      {"eui", "address", "last_seen_s", "position", "heard", "forwarded", "dropped", "sent", "refused", "last_error"}};
  for (const GatewayRecord& g : store->gateways()) {
    const json j = gatewayJson(g);
    if (c.json) {
      c.out << j.dump() << '\n';
      continue;
    }
    std::string position = "-";
    if (g.latitude && g.longitude) {
      char b[64];
      std::snprintf(b, sizeof b, "%.5f,%.5f", *g.latitude, *g.longitude);
      position = b;
    }
    // Bad datagrams that name no gateway are counted on a row of their own.
    rows.push_back({g.eui.empty() ? "(none)" : g.eui, g.address.empty() ? "-" : g.address, secondsText(g.lastSeenUs),
                    position, valueText(j["heard"]), valueText(j["forwarded"]), byReasonText(j["dropped"]),
                    valueText(j["sent"]), byReasonText(j["refused"]), g.lastError.empty() ? "-" : g.lastError});
  }
  if (!c.json) printTable(c.out, rows);
}

std::string capValue(const std::optional<int>& v) { return v ? std::to_string(*v) : ""; }

void capture(Context& c, const std::string& node, const std::string& csvPath) {
  const std::unique_ptr<Store> store = c.open();
  Store& r = *store;
  const NodeRecord n = requireNode(r, parseNode(node));
  const std::optional<CaptureRecord> cap = r.lastCompleteCapture(n.uid);
  if (!cap) throw Refused("no complete capture from " + uidText(n.uid) + " yet");
  const std::vector<CaptureSample> samples = r.captureRows(cap->id);
  if (!csvPath.empty()) {
    std::ofstream f(csvPath);
    f << "row,b_field,e_field_ind,e_field_cap\n";
    for (const CaptureSample& s : samples) {
      f << s.row << ',' << s.bField << ',' << s.eFieldInd << ',' << capValue(s.eFieldCap) << '\n';
    }
    f.close();
    if (!f) throw Refused("cannot write " + csvPath);
    c.out << "wrote " << samples.size() << " rows of packet " << int{cap->code} << " capture " << cap->counter << " to "
          << csvPath << '\n';
    return;
  }
  std::vector<std::vector<std::string>> rows{{"row", "b_field", "e_field_ind", "e_field_cap"}};
  for (const CaptureSample& s : samples) {
    if (c.json) {
      c.out << captureRowJson(*cap, s).dump() << '\n';
    } else {
      rows.push_back({std::to_string(s.row), std::to_string(s.bField), std::to_string(s.eFieldInd),
                      s.eFieldCap ? std::to_string(*s.eFieldCap) : "-"});
    }
  }
  if (!c.json) printTable(c.out, rows);
}

void queueAdd(Context& c, const QueueRequest& request) {
  // The request's own faults are usage errors, told before the database is opened.
  if (const std::optional<QueueOutcome> bad = checkQueueRequest(request)) {
    throw Usage(bad->message + (bad->aboutSetting ? std::string("\n") + settingsHelp() : ""));
  }
  const std::unique_ptr<Store> store = c.open();
  const QueueOutcome o = queueSetting(*store, request);
  if (o.status != QueueOutcome::Status::queued) throw Refused(o.message);
  c.out << o.message << '\n';
}

void queueList(Context& c, const std::string& node) {
  const std::unique_ptr<Store> store = c.open();
  Store& r = *store;
  std::optional<uint32_t> uid;
  if (!node.empty()) uid = requireNode(r, parseNode(node)).uid;
  std::vector<std::vector<std::string>> rows{{"id", "uid", "setting", "value", "state", "reason", "attempts"}};
  for (const QueueItem& q : r.queue(uid)) {
    if (c.json) {
      c.out << queueItemJson(q).dump() << '\n';
    } else {
      rows.push_back({std::to_string(q.id), uidText(q.uid), q.setting, q.value.empty() ? "-" : q.value, q.state,
                      q.reason.empty() ? "-" : q.reason,
                      std::to_string(q.attempts) + "/" + std::to_string(q.maxAttempts)});
    }
  }
  if (!c.json) printTable(c.out, rows);
}

void queueFlush(Context& c, const std::string& node) {
  const std::unique_ptr<Store> store = c.open();
  Store& r = *store;
  const uint32_t uid = requireNode(r, parseNode(node)).uid;
  const int n = r.flushQueue(uid);
  c.out << "flushed " << n << (n == 1 ? " item" : " items") << " of " << uidText(uid) << '\n';
}

const char* const kCsvHeader = "uid,chip_id,key,state";

void exportCsv(Context& c, const std::string& path) {
  const std::unique_ptr<Store> store = c.open();
  Store& r = *store;
  std::ofstream file;
  if (!path.empty()) file.open(path);
  std::ostream& o = path.empty() ? c.out : file;
  o << kCsvHeader << '\n';
  for (const NodeRecord& n : r.nodes()) {
    o << uidText(n.uid) << ',' << n.chipId << ',' << hexText(n.key.data(), n.key.size()) << ',' << n.state << '\n';
  }
  if (!path.empty()) {
    file.close();
    if (!file) throw Refused("cannot write " + path);
  }
}

bool isHex(const std::string& s, size_t digits) {
  return s.size() == digits && s.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

void importCsv(Context& c, const std::string& path) {
  std::ifstream in(path);
  if (!in) throw Refused("cannot read " + path);
  struct Row {
    uint32_t uid;
    std::string chip;
    NodeKey key;
    std::string state;
  };
  std::vector<Row> rows;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || (number == 1 && line == kCsvHeader)) continue;
    std::vector<std::string> cells;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, ',');) cells.push_back(cell);
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (cells.size() != 4) throw Refused(where + "expected " + kCsvHeader);
    Row r{};
    try {
      r.uid = parseNode(cells[0]);
    } catch (const Usage& e) {
      throw Refused(where + e.what());
    }
    if (r.uid == 0) throw Refused(where + "identity 0x000000 cannot be assigned");
    if (!isHex(cells[1], 24)) throw Refused(where + "chip id takes 24 hex digits");
    if (!isHex(cells[2], 32)) throw Refused(where + "key takes 32 hex digits");
    if (cells[3] != "assigned" && cells[3] != "confirmed") throw Refused(where + "state is assigned or confirmed");
    r.chip = upper(cells[1]);
    for (size_t i = 0; i < r.key.size(); ++i)
      r.key[i] = static_cast<uint8_t>(std::stoul(cells[2].substr(2 * i, 2), nullptr, 16));
    r.state = cells[3];
    rows.push_back(r);
  }
  const std::unique_ptr<Store> store = c.open(true);
  Store& reg = *store;
  // All rows or none.
  Store::Transaction tx(reg);
  for (const Row& r : rows) {
    const std::optional<NodeRecord> other = reg.nodeByChip(r.chip);
    if (other && other->uid != r.uid) {
      throw Refused("chip " + r.chip + " is " + uidText(other->uid) + " in the registry, not " + uidText(r.uid));
    }
    reg.importNode(r.uid, r.chip, r.key, r.state);
  }
  tx.commit();
  c.out << "imported " << rows.size() << (rows.size() == 1 ? " node" : " nodes") << '\n';
}

void plot(Context& c, const std::string& what, const std::string& node, const std::string& svgPath) {
  const std::unique_ptr<Store> store = c.open();
  Store& r = *store;
  const NodeRecord n = requireNode(r, parseNode(node));
  Chart chart;
  std::string why;
  const bool drawn = what == "capture" ? captureChart(r, n.uid, chart, why) : telemetryChart(r, n.uid, chart, why);
  if (!drawn) throw Refused(why);
  std::ofstream f(svgPath);
  f << renderSvg(chart);
  f.close();
  if (!f) throw Refused("cannot write " + svgPath);
  c.out << "wrote " << svgPath << ": " << chart.title << '\n';
}

// The dashboard until SIGINT or SIGTERM, which end it cleanly.
void serve(Context& c, const std::string& http, const std::string& tokenFile) {
  ListenAddress address;
  AccessPolicy policy;
  std::string error;
  if (!webSettings(http, tokenFile, address, policy, error)) throw Usage(error);
  // The signals wait for this thread alone: the server's threads, made from here, inherit the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  WebServer server(c.open(), address, policy);
  if (!server.start(error)) throw Refused(error);
  c.out << "vantor: dashboard of " << withoutPassword(c.dbPath) << " at " << server.url() << std::endl;
  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.stop();
}

}  // namespace

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, ListenCommand listen) {
  Context c{kDefaultDatabase, false, out};
  CLI::App app{"The Vantor's registry, uplinks, captures and settings queue", "vantor"};
  app.fallthrough();
  app.require_subcommand(1);
  app.add_option("--db", c.dbPath,
                 "the database: an SQLite file (default " + std::string(kDefaultDatabase) +
                     ") or a PostgreSQL server, postgresql://USER@HOST:PORT/DATABASE");
  app.add_flag("--json", c.json, "listings as one JSON object per line");

  std::string node, csvPath, file;
  int limit = 20;
  QueueRequest request;

  CLI::App* nodesCmd = app.add_subcommand("nodes", "registered nodes: identity, chip, state, counter, activity");
  CLI::App* uplinksCmd = app.add_subcommand("uplinks", "recent frames with their decoded fields");
  CLI::App* gatewaysCmd = app.add_subcommand(
      "gateways", "the gateways heard through: way down, last seen, position, frames and downlinks with reasons");
  uplinksCmd->add_option("NODE", node, "identity in hex, e.g. 0x1A2B3C");
  uplinksCmd->add_option("--limit", limit, "at most this many frames (default 20)");
  CLI::App* captureCmd = app.add_subcommand("capture", "the last reassembled capture, one row per scan");
  captureCmd->add_option("NODE", node, "identity in hex")->required();
  captureCmd->add_option("--csv", csvPath, "write the rows to this CSV file");
  CLI::App* queueCmd = app.add_subcommand("queue", "remote settings waiting for a node's receive window");
  queueCmd->require_subcommand(1);
  CLI::App* addCmd = queueCmd->add_subcommand("add", std::string("queue a setting; ") + settingsHelp());
  addCmd->add_option("NODE", request.node, "identity in hex")->required();
  addCmd->add_option("SETTING", request.words, "setting and its value(s)")->required();
  addCmd->add_option("--max-attempts", request.maxAttempts, "transmissions before it expires (default 5)");
  addCmd->add_option("--ttl", request.ttlS, "seconds of virtual time before it expires (default 86400)");
  CLI::App* listCmd = queueCmd->add_subcommand("list", "queued settings and their answers");
  listCmd->add_option("NODE", node, "identity in hex");
  CLI::App* flushCmd = queueCmd->add_subcommand("flush", "drop a node's settings not yet answered");
  flushCmd->add_option("NODE", node, "identity in hex")->required();
  CLI::App* plotCmd = app.add_subcommand("plot", "pictures of a node as SVG: its last capture, its telemetry");
  plotCmd->require_subcommand(1);
  std::string svgPath;
  CLI::App* plotCaptureCmd =
      plotCmd->add_subcommand("capture", "the last capture: clamp and E-field in counts with the fitted 50 Hz wave");
  CLI::App* plotTelemetryCmd = plotCmd->add_subcommand("telemetry", "current, power and power factor over time");
  for (CLI::App* cmd : {plotCaptureCmd, plotTelemetryCmd}) {
    cmd->add_option("NODE", node, "identity in hex")->required();
    cmd->add_option("--svg", svgPath, "the SVG file to write")->required();
  }
  CLI::App* exportCmd = app.add_subcommand("export", "the registry as CSV (uid, chip id, key, state)");
  exportCmd->add_option("FILE", file, "write here instead of standard output");
  CLI::App* importCmd = app.add_subcommand("import", "add or update nodes from such a CSV file");
  importCmd->add_option("FILE", file, "CSV file")->required();
  std::string http, tokenFile;
  CLI::App* serveCmd = app.add_subcommand("serve", "the dashboard: pages, JSON API and live events over HTTP");
  serveCmd->add_option("--http", http, "ADDR:PORT to listen on, e.g. 127.0.0.1:8080")->required();
  serveCmd->add_option("--token-file", tokenFile,
                       "a file whose first line is the token that changes must carry (needed beyond the loopback)");
  ListenOptions lo;
  std::string at;
  CLI::App* listenCmd = nullptr;
  if (listen != nullptr) {
    listenCmd = app.add_subcommand(
        "listen", "be the Vantor on orvane-air's shared medium (until the air ends) and/or behind LoRa gateways");
    listenCmd->add_option("--air", lo.air, "the air to join: unix:PATH");
    listenCmd->add_option("--gateway", lo.gateway,
                          "serve LoRa gateways' packet forwarders: udp://ADDR[:PORT] (port 1700 when left out)");
    listenCmd
        ->add_option("--gateway-power", lo.gatewayPowerDbm,
                     "the gateways' transmit power for answers, dBm (default 14)")
        ->check(CLI::Range(0, 27));
    listenCmd
        ->add_option("--gateway-answer-delay-ms", lo.gatewayAnswerDelayMs,
                     "answers leave a gateway this long after the uplink's end (default 300; the forwarder's "
                     "lead plus the network's time must fit in it, the node's window ends at 500)")
        ->check(CLI::Range(50, 450));
    listenCmd->add_option("--name", lo.name, "its name on the air (default vantor)");
    listenCmd->add_option("--at", at, "its position on the air, X,Y in metres");
    listenCmd->add_option("--seed", lo.seed, "seed of the keys it gives and of its faults (default 1)");
    listenCmd->add_option("--fault", lo.faults, "late | silent | corrupt | replay, each optionally @FROM_MS-TO_MS");
    listenCmd->add_option(
        "--setting", lo.settings,
        std::string("queue this setting for every node it gives an identity or confirms (repeatable); ") +
            settingsHelp());
    listenCmd->add_option("--mqtt", lo.outputs.mqtt,
                          "publish to this MQTT broker, mqtt://HOST:PORT, and take commands");
    listenCmd->add_option("--mqtt-prefix", lo.outputs.mqttPrefix, "its topics' prefix (default orvane)");
    listenCmd->add_option("--mqtt-client-id", lo.outputs.mqttClientId,
                          "its client id (default vantor-HOSTNAME; one per Vantor on a broker)");
    listenCmd->add_option("--http", lo.outputs.http, "serve the dashboard there while it listens, e.g. 127.0.0.1:8080");
    listenCmd->add_option("--token-file", lo.outputs.tokenFile,
                          "the token that the dashboard's changes must carry (needed beyond the loopback)");
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kExitDone : kExitUsage;
  }
  if (listenCmd != nullptr && listenCmd->parsed()) {
    lo.dbPath = c.dbPath;
    if (lo.air.empty() && lo.gateway.empty()) {
      err << "vantor: listen needs --air unix:PATH or --gateway udp://ADDR[:PORT] (or both)\n";
      return kExitUsage;
    }
    if (!at.empty()) {
      char* end = nullptr;
      lo.atX = std::strtod(at.c_str(), &end);
      const char* y = *end == ',' ? end + 1 : nullptr;
      if (y != nullptr) lo.atY = std::strtod(y, &end);
      if (y == nullptr || end == y || *end != '\0') {
        err << "vantor: --at takes X,Y in metres\n";
        return kExitUsage;
      }
      lo.atSet = true;
    }
    return listen(lo, err);
  }
  try {
    if (nodesCmd->parsed()) nodes(c);
    if (uplinksCmd->parsed()) uplinks(c, node, limit);
    if (gatewaysCmd->parsed()) gateways(c);
    if (captureCmd->parsed()) capture(c, node, csvPath);
    if (addCmd->parsed()) queueAdd(c, request);
    if (listCmd->parsed()) queueList(c, node);
    if (flushCmd->parsed()) queueFlush(c, node);
    if (plotCaptureCmd->parsed()) plot(c, "capture", node, svgPath);
    if (plotTelemetryCmd->parsed()) plot(c, "telemetry", node, svgPath);
    if (exportCmd->parsed()) exportCsv(c, file);
    if (importCmd->parsed()) importCsv(c, file);
    if (serveCmd->parsed()) serve(c, http, tokenFile);
  } catch (const Usage& e) {
    err << "vantor: " << e.what() << '\n';
    return kExitUsage;
  } catch (const Refused& e) {
    err << "vantor: " << e.what() << '\n';
    return kExitRefused;
  } catch (const DbError& e) {
    err << "vantor: " << e.what() << '\n';
    return kExitRefused;
  }
  return kExitDone;
}

}  // namespace vantor
