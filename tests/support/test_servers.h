// Servers for the Vantor's tests (tests/support/servers.sh): a PostgreSQL or a Mosquitto started in a
// folder of the test's own on a free loopback port, stopped when the object goes.
#pragma once

#include <string>

namespace testing_support {

class TestServer {
 public:
  enum class Kind { postgresql, mosquitto };
  // Starts it; throws std::runtime_error with the script's message when it cannot.
  TestServer(Kind kind, const std::string& dir);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  const std::string& url() const { return url_; }
  void stop();
  // Again on the same folder and port (PostgreSQL's data, Mosquitto's saved sessions).
  void start();

 private:
  Kind kind_;
  std::string dir_;
  std::string url_;
  bool running_ = false;
};

// A fresh empty database on the server for one test: its URL.
std::string freshPostgresDatabase(const std::string& serverUrl, const std::string& name);

// The Vantor's store on either database, for tests that run on both.
enum class Backend { sqlite, postgresql };
const char* backendName(Backend b);
// Where a fresh empty database of this backend is, for the test named by tag: an SQLite file under
// the test folder, or a new database on a PostgreSQL server the test binary shares (started on
// first use, stopped at exit).
std::string freshDatabase(Backend b, const std::string& tag);
// That shared PostgreSQL server.
TestServer& sharedPostgres();

}  // namespace testing_support
