// Listening addresses, the token file and the checks on each request.
#include "http_access.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <fstream>

namespace vantor {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

bool isLoopbackHost(const std::string& host) {
  const std::string h = lower(host);
  if (h == "localhost" || (h.size() > 10 && h.ends_with(".localhost")) || h == "::1") return true;
  in_addr v4{};
  return inet_pton(AF_INET, h.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

// The host part of a Host header or of host:port ("[::1]:8080" gives "::1").
std::string hostPart(const std::string& text) {
  if (!text.empty() && text[0] == '[') {
    const size_t end = text.find(']');
    return end == std::string::npos ? text : text.substr(1, end - 1);
  }
  const size_t colon = text.rfind(':');
  return colon == std::string::npos ? text : text.substr(0, colon);
}

// Equal in a time that does not tell how much of the secret was right (its length is no secret).
bool sameSecret(const std::string& given, const std::string& secret) {
  if (given.size() != secret.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < given.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ secret[i]);
  return diff == 0;
}

}  // namespace

bool parseListenAddress(const std::string& text, ListenAddress& out, std::string& error) {
  error = "'" + text + "': an address and a port, e.g. 127.0.0.1:8080";
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  const std::string portText = text.substr(colon + 1);
  if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), ::isdigit)) return false;
  const int port = std::stoi(portText);
  if (port < 1 || port > 65535) {
    error = "'" + text + "': a port of 1 to 65535";
    return false;
  }
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) return false;
  out.host = lower(host);
  out.port = port;
  out.loopback = isLoopbackHost(out.host);
  return true;
}

bool readTokenFile(const std::string& path, std::string& token, std::string& error) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) {
    error = "cannot read the token from " + path;
    return false;
  }
  token = trim(line);
  if (token.size() < kMinTokenLength || token.find_first_of(" \t") != std::string::npos) {
    error = "the token in " + path + " takes " + std::to_string(kMinTokenLength) +
            " characters or more on its first line, without blanks";
    return false;
  }
  return true;
}

std::optional<Refusal> checkAccess(const RequestView& r, const AccessPolicy& policy) {
  const std::string host = r.header("Host");
  if (policy.loopback && !isLoopbackHost(hostPart(host))) {
    return Refusal{403, "this server answers requests for the loopback address only, not for '" + host + "'"};
  }
  if (r.method == "GET" || r.method == "HEAD" || r.method == "OPTIONS") return std::nullopt;
  if (!policy.token.empty()) {
    const std::string auth = r.header("Authorization");
    const std::string scheme = "bearer ";
    if (lower(auth.substr(0, scheme.size())) != scheme || !sameSecret(trim(auth.substr(scheme.size())), policy.token)) {
      return Refusal{401, "a change needs the server's token: Authorization: Bearer TOKEN"};
    }
  }
  const std::string origin = r.header("Origin");
  const std::string site = lower(r.header("Sec-Fetch-Site"));
  if ((!origin.empty() && lower(origin) != "http://" + lower(host)) ||
      (!site.empty() && site != "same-origin" && site != "none")) {
    return Refusal{403, "a change cannot come from a page of another origin"};
  }
  if (r.method == "POST" || r.method == "PUT" || r.method == "PATCH") {
    const std::string type = lower(trim(r.header("Content-Type").substr(0, r.header("Content-Type").find(';'))));
    if (type != "application/json") return Refusal{415, "the body must be JSON (Content-Type: application/json)"};
  }
  return std::nullopt;
}

}  // namespace vantor
