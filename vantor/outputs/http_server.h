// The Vantor's dashboard: an HTTP server (cpp-httplib) with the pages (embedded in the program),
// the JSON API (http_api.h), the live events (http_events.h) and the access rules (http_access.h).
// It keeps a connection of its own to the database and serves from threads of its own; `vantor
// serve`, orvane-sim and orvane-fleet start it with --http ADDR:PORT.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "http_access.h"
#include "http_events.h"
#include "outputs.h"
#include "store.h"

namespace httplib {
class Server;
}

namespace vantor {

class WebServer {
 public:
  // Pages that follow the live events at once; one more is refused (503) rather than left to
  // take the threads every other request needs.
  static constexpr int kMaxLiveStreams = 16;
  static constexpr int kThreads = kMaxLiveStreams + 8;

  WebServer(std::unique_ptr<Store> store, ListenAddress address, AccessPolicy policy);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // The Vantor of this process: the live events follow what its transactions store, and no
  // polling is needed. Call before start().
  void follow(Outputs& outputs);
  // Binds the address (port 0: any free one) and serves on a thread of its own. False with the
  // reason (address in use, ...).
  bool start(std::string& error);
  // Ends the live streams, stops listening and waits for the requests under way.
  void stop();

  int port() const { return port_; }
  std::string url() const;

 private:
  void routes();

  std::unique_ptr<Store> store_;
  std::mutex storeLock_;
  ListenAddress address_;
  AccessPolicy policy_;
  std::shared_ptr<EventFeed> feed_;
  bool followed_ = false;
  Outputs ownOutputs_;  // settings queued here, into the live events
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  int port_ = 0;
  std::mutex streamsLock_;
  int streams_ = 0;
};

// Checks --http and --token-file together: false with a message when the address cannot be used
// or it is not the loopback and no token is given.
bool webSettings(const std::string& http, const std::string& tokenFile, ListenAddress& address, AccessPolicy& policy,
                 std::string& error);

}  // namespace vantor
