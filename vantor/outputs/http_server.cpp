// The dashboard's server: routes to the API, the pages and the live events, behind the access
// checks; every answer, errors too, is JSON unless it is a page or a picture.
#include "http_server.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "http_api.h"
#include "http_lib.h"  // first: see there
#include "uplink_decode.h"
#include "web_assets.h"

namespace vantor {

namespace {

using httplib::Request;
using httplib::Response;

void answer(Response& res, const ApiResponse& a) {
  res.status = a.status;
  res.set_content(a.body, a.contentType);
}

std::optional<std::string> param(const Request& req, const char* name) {
  if (!req.has_param(name)) return std::nullopt;
  return req.get_param_value(name);
}

const char* statusText(int status) {
  switch (status) {
    case 404: return "no such page or API call";
    case 405: return "this method is not allowed here";
    case 413: return "the body is too large: a setting takes a few dozen bytes";
    case 414: return "the address is too long";
    default: return "the request cannot be handled";
  }
}

// Pages run their own script only, and no other site may frame them.
const char* const kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

}  // namespace

WebServer::WebServer(std::unique_ptr<Store> store, ListenAddress address, AccessPolicy policy)
    : store_(std::move(store)),
      address_(std::move(address)),
      policy_(std::move(policy)),
      feed_(std::make_shared<EventFeed>(*store_, storeLock_)) {
  std::weak_ptr<EventFeed> feed = feed_;
  ownOutputs_.onCommitted([feed](const Stored& s) {
    if (auto f = feed.lock()) f->stored(s);
  });
}

WebServer::~WebServer() { stop(); }

void WebServer::follow(Outputs& outputs) {
  followed_ = true;
  // The Vantor may outlive the server: the feed is held weakly.
  std::weak_ptr<EventFeed> feed = feed_;
  outputs.onCommitted([feed](const Stored& s) {
    if (auto f = feed.lock()) f->stored(s);
  });
}

std::string WebServer::url() const {
  const bool v6 = address_.host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + address_.host + "]" : address_.host) + ":" + std::to_string(port_) + "/";
}

bool WebServer::start(std::string& error) {
  http_ = std::make_unique<httplib::Server>();
  httplib::Server& s = *http_;
  // The address may be taken again at once after a restart, but never shared with another server
  // (the library's default would let a second one listen on the same port); and the socket stays
  // out of a program that replaces this one (orvane-sim restarts its firmware with exec).
  s.set_socket_options([](int sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::fcntl(sock, F_SETFD, FD_CLOEXEC);
  });
  s.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  // One request per connection: no idle connection holds a thread, and stop() waits for nothing.
  s.set_keep_alive_max_count(1);
  s.set_read_timeout(2);
  s.set_write_timeout(5);
  s.set_payload_max_length(kMaxBodyBytes);
  routes();
  errno = 0;
  port_ = address_.port == 0 ? s.bind_to_any_port(address_.host)
                             : (s.bind_to_port(address_.host, address_.port) ? address_.port : -1);
  if (port_ <= 0) {
    error = "cannot listen on " + address_.host + ":" + std::to_string(address_.port) + ": " +
            (errno != 0 ? std::strerror(errno) : "address not usable");
    return false;
  }
  try {
    feed_->start(!followed_, std::chrono::milliseconds(500));
  } catch (const DbError& e) {
    error = e.what();
    return false;
  }
  thread_ = std::thread([&s] { s.listen_after_bind(); });
  // stop() ends a server that runs; wait until it does.
  for (int i = 0; i < 5000 && !s.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void WebServer::stop() {
  feed_->close();
  if (http_) http_->stop();
  if (thread_.joinable()) thread_.join();
}

void WebServer::routes() {
  httplib::Server& s = *http_;
  s.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                         {"X-Frame-Options", "DENY"},
                         {"Referrer-Policy", "no-referrer"},
                         {"Cache-Control", "no-store"}});
  s.set_pre_routing_handler([this](const Request& req, Response& res) {
    // The library compresses with brotli at its highest quality when a browser accepts it: seconds
    // for a fleet's list. gzip does it in milliseconds, so that is all it is offered. (The request
    // is the library's own object, handed over as const.)
    auto& headers = const_cast<httplib::Headers&>(req.headers);
    if (auto it = headers.find("Accept-Encoding"); it != headers.end()) {
      it->second = it->second.find("gzip") != std::string::npos ? "gzip" : "identity";
    }
    const RequestView view{req.method, [&req](const std::string& name) { return req.get_header_value(name); }};
    const std::optional<Refusal> no = checkAccess(view, policy_);
    if (!no) return httplib::Server::HandlerResponse::Unhandled;
    answer(res, apiError(no->status, no->message));
    if (no->status == 401) res.set_header("WWW-Authenticate", "Bearer");
    return httplib::Server::HandlerResponse::Handled;
  });
  s.set_error_handler([](const Request&, Response& res) {
    if (res.body.empty()) answer(res, apiError(res.status, statusText(res.status)));
  });
  s.set_exception_handler([](const Request&, Response& res, std::exception_ptr ep) {
    std::string why = "unknown error";
    try {
      std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      why = e.what();
    } catch (...) {
    }
    answer(res, apiError(503, "database: " + why));
  });

  // The API: each call holds the store for its reads or its one transaction.
  const auto read = [this](auto call) {
    return [this, call](const Request& req, Response& res) {
      std::lock_guard<std::mutex> lock(storeLock_);
      answer(res, call(req));
    };
  };
  s.Get("/api/nodes", read([this](const Request&) { return apiNodes(*store_); }));
  s.Get(R"(/api/nodes/([^/]+))", read([this](const Request& r) { return apiNode(*store_, r.matches[1]); }));
  s.Get(R"(/api/nodes/([^/]+)/uplinks)",
        read([this](const Request& r) { return apiUplinks(*store_, r.matches[1], param(r, "limit")); }));
  s.Get(R"(/api/nodes/([^/]+)/capture)", read([this](const Request& r) { return apiCapture(*store_, r.matches[1]); }));
  s.Get(R"(/api/nodes/([^/]+)/capture\.svg)",
        read([this](const Request& r) { return apiCaptureSvg(*store_, r.matches[1]); }));
  s.Get(R"(/api/nodes/([^/]+)/telemetry\.svg)",
        read([this](const Request& r) { return apiTelemetrySvg(*store_, r.matches[1], param(r, "span")); }));
  s.Get(R"(/api/nodes/([^/]+)/queue)", read([this](const Request& r) { return apiQueue(*store_, r.matches[1]); }));
  s.Post(R"(/api/nodes/([^/]+)/queue)",
         read([this](const Request& r) { return apiQueueAdd(*store_, r.matches[1], r.body, &ownOutputs_); }));

  s.Get(R"(/api/nodes/([^/]+)/calibration)",
        read([this](const Request& r) { return apiCalibration(*store_, r.matches[1]); }));
  s.Post(R"(/api/nodes/([^/]+)/calibration)",
         read([this](const Request& r) { return apiCalibrate(*store_, r.matches[1], r.body, &ownOutputs_); }));
  s.Post(R"(/api/nodes/([^/]+)/calibration/cancel)",
         read([this](const Request& r) { return apiCalibrationCancel(*store_, r.matches[1], &ownOutputs_); }));
  s.Get("/api/gateways", read([this](const Request&) { return apiGateways(*store_); }));

  s.Get("/api/events", [this](const Request& req, Response& res) {
    std::optional<uint32_t> uid;
    if (const std::optional<std::string> node = param(req, "node")) {
      uid = parseUid(*node);
      if (!uid) return answer(res, apiError(400, "bad node '" + *node + "': an identity in hex"));
    }
    {
      std::lock_guard<std::mutex> lock(streamsLock_);
      if (streams_ >= kMaxLiveStreams) {
        return answer(res, apiError(503, "too many pages follow the live events; close one"));
      }
      ++streams_;
    }
    std::shared_ptr<EventFeed> feed = feed_;
    uint64_t seq = feed->latest();
    bool first = true;
    res.set_chunked_content_provider(
        "text/event-stream",
        [feed, seq, uid, first](size_t, httplib::DataSink& sink) mutable {
          std::string out;
          if (first) {
            // Reconnect soon after the server comes back (orvane-sim restarts with its firmware).
            out = "retry: 1000\n: following\n\n";
            first = false;
          } else {
            std::vector<LiveEvent> events;
            if (!feed->next(seq, uid, std::chrono::seconds(15), events)) {
              sink.done();
              return true;
            }
            for (const LiveEvent& e : events) out += "event: " + e.name + "\ndata: " + e.data + "\n\n";
            if (events.empty()) out = ": still here\n\n";
          }
          return sink.write(out.data(), out.size());
        },
        [this](bool) {
          std::lock_guard<std::mutex> lock(streamsLock_);
          --streams_;
        });
  });

  // Anything else under /api: the method is the fault, or the call does not exist (404 from the router).
  const auto notAllowed = [](const Request&, Response& res) { answer(res, apiError(405, statusText(405))); };
  for (const char* pattern : {R"(/api/nodes(/[^/]+(/(uplinks|capture|capture\.svg|telemetry\.svg))?)?)",
                              R"(/api/gateways)", R"(/api/events)"}) {
    s.Post(pattern, notAllowed);
    s.Put(pattern, notAllowed);
    s.Patch(pattern, notAllowed);
    s.Delete(pattern, notAllowed);
  }
  for (const char* pattern : {R"(/api/nodes/([^/]+)/queue)", R"(/api/nodes/([^/]+)/calibration)"}) {
    s.Put(pattern, notAllowed);
    s.Patch(pattern, notAllowed);
    s.Delete(pattern, notAllowed);
  }
  s.Get(R"(/api/nodes/([^/]+)/calibration/cancel)", notAllowed);
  s.Put(R"(/api/nodes/([^/]+)/calibration/cancel)", notAllowed);
  s.Patch(R"(/api/nodes/([^/]+)/calibration/cancel)", notAllowed);
  s.Delete(R"(/api/nodes/([^/]+)/calibration/cancel)", notAllowed);

  // The pages: one document for the list and each node, its script and its style.
  const auto asset = [](const char* name) {
    return [name](const Request&, Response& res) {
      const WebAsset* a = findWebAsset(name);
      if (a == nullptr) return answer(res, apiError(404, statusText(404)));
      res.set_content(std::string(a->body), std::string(a->type));
      if (a->type.starts_with("text/html")) res.set_header("Content-Security-Policy", kPagePolicy);
    };
  };
  s.Get("/", asset("index.html"));
  s.Get(R"(/node/[^/]+)", asset("index.html"));
  s.Get("/app.js", asset("app.js"));
  s.Get("/style.css", asset("style.css"));
}

bool webSettings(const std::string& http, const std::string& tokenFile, ListenAddress& address, AccessPolicy& policy,
                 std::string& error) {
  if (!parseListenAddress(http, address, error)) {
    error = "--http " + error;
    return false;
  }
  policy.loopback = address.loopback;
  policy.token.clear();
  if (!tokenFile.empty() && !readTokenFile(tokenFile, policy.token, error)) {
    error = "--token-file: " + error;
    return false;
  }
  if (!address.loopback && policy.token.empty()) {
    error = "--http " + http + ": an address beyond the loopback needs --token-file FILE (changes carry the token)";
    return false;
  }
  return true;
}

}  // namespace vantor
