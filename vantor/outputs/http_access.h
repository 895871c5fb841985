// Who may do what on the dashboard's HTTP server: where it may listen, the token that a changing
// request must carry off the loopback address, and the checks that keep a page of another origin
// from changing anything (a browser sends the Origin and Sec-Fetch-Site of the page behind it).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vantor {

// "127.0.0.1:8080", "localhost:8080", "[::1]:8080", "0.0.0.0:8080": the host as the socket takes it.
struct ListenAddress {
  std::string host;
  int port = 0;
  bool loopback = false;  // reachable from this machine only
};
bool parseListenAddress(const std::string& text, ListenAddress& out, std::string& error);

// The token of --token-file: its first line without surrounding blanks. False with a message for a
// file that cannot be read or a token too short to guess at.
constexpr size_t kMinTokenLength = 16;
bool readTokenFile(const std::string& path, std::string& token, std::string& error);

// A refusal: the HTTP status and why.
struct Refusal {
  int status;
  std::string message;
};

struct AccessPolicy {
  bool loopback = true;
  std::string token;  // empty: no token asked (loopback only)
};

// What a request shows of itself; header(name) is "" when absent.
struct RequestView {
  std::string method;
  std::function<std::string(const std::string&)> header;
};

// Nothing when the request may go on. Every request: on the loopback address the Host must name
// the loopback (a page of another site that rebinds its name to 127.0.0.1 is refused). A request
// that changes something (anything but GET, HEAD and OPTIONS): the token as "Authorization: Bearer"
// when one is set (401), no page of another origin behind it (403), and a JSON body (415), which a
// form of another site cannot send without asking first.
std::optional<Refusal> checkAccess(const RequestView& request, const AccessPolicy& policy);

}  // namespace vantor
