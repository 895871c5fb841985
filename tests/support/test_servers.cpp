// Starting and stopping the test servers through tests/support/servers.sh.
#include "test_servers.h"

#include <libpq-fe.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace testing_support {

namespace {

std::string run(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[256];
  while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
  const int status = pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (status != 0) throw std::runtime_error(command + " failed: " + out);
  return out;
}

std::string script() { return std::string("bash ") + ORVANE_SERVERS_SH + " "; }

// This test process's folder under the system's temporary one: a server's own user must reach it.
std::string testFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vantor_test_" + std::to_string(getpid());
}

}  // namespace

TestServer::TestServer(Kind kind, const std::string& dir) : kind_(kind), dir_(dir) {
  run("rm -rf '" + dir_ + "'");
  start();
}

TestServer::~TestServer() {
  try {
    stop();
    run("rm -rf '" + dir_ + "'");
  } catch (const std::exception&) {
  }
}

void TestServer::start() {
  // Again on the port it had, if it had one.
  std::string port;
  if (!url_.empty()) {
    const size_t colon = url_.rfind(':');
    port = url_.substr(colon + 1, url_.find('/', colon) - colon - 1);
  }
  url_ = run(script() + (kind_ == Kind::postgresql ? "pg-start '" : "mqtt-start '") + dir_ + "' " + port);
  running_ = true;
}

void TestServer::stop() {
  if (!running_) return;
  run(script() + (kind_ == Kind::postgresql ? "pg-stop '" : "mqtt-stop '") + dir_ + "'");
  running_ = false;
}

std::string freshPostgresDatabase(const std::string& serverUrl, const std::string& name) {
  PGconn* c = PQconnectdb(serverUrl.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    const std::string why = PQerrorMessage(c);
    PQfinish(c);
    throw std::runtime_error("cannot connect to " + serverUrl + ": " + why);
  }
  PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
  for (const std::string& sql : {"DROP DATABASE IF EXISTS " + name + " WITH (FORCE)", "CREATE DATABASE " + name}) {
    PGresult* r = PQexec(c, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok) {
      const std::string why = PQerrorMessage(c);
      PQfinish(c);
      throw std::runtime_error(sql + ": " + why);
    }
  }
  PQfinish(c);
  return serverUrl.substr(0, serverUrl.rfind('/') + 1) + name;
}

const char* backendName(Backend b) { return b == Backend::sqlite ? "sqlite" : "postgresql"; }

std::string freshDatabase(Backend b, const std::string& tag) {
  const std::string base = testFolder();
  if (b == Backend::sqlite) {
    struct Folder {
      std::string path;
      explicit Folder(std::string p) : path(std::move(p)) { run("mkdir -p '" + path + "'"); }
      ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
    };
    static const Folder folder(base);
    const std::string path = base + "/" + tag + ".sqlite";
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
    return path;
  }
  static int databases = 0;
  return freshPostgresDatabase(sharedPostgres().url(), "vantor_test_" + std::to_string(++databases));
}

TestServer& sharedPostgres() {
  static std::unique_ptr<TestServer> server;
  if (!server) server = std::make_unique<TestServer>(TestServer::Kind::postgresql, testFolder() + "_pg");
  return *server;
}

}  // namespace testing_support
