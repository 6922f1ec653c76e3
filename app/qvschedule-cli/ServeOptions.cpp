#include "ServeOptions.h"

#include "OptionRanges.h"

#include <arpa/inet.h>
#include <cstdio>
#include <sys/random.h>

bool isLoopbackHost(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

namespace {

// Splits "ADDR:PORT" / "[V6]:PORT" / "PORT" into host (possibly empty) and port text.
bool splitHostPort(const std::string& text, std::string& host, std::string& port) {
  if (!text.empty() && text[0] == '[') {
    const auto close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
    return !host.empty();
  }
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) {
    port = text;
    return true;
  }
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  return !host.empty() && host.find(':') == std::string::npos;  // a bare IPv6 address needs brackets
}

}  // namespace

void addServeOptions(CLI::App* run, ServeOptions& o) {
  const std::string group = "Live page and control API";
  run->add_option("--serve", o.address, "serve the live page and the API on [ADDR:]PORT (default address 127.0.0.1)")
      ->group(group);
  run->add_option("--serve-linger", o.lingerSeconds, "seconds the server stays up after the run ends")
      ->check(numberFromTo(0, kMaxLingerSeconds, false))
      ->group(group);
  run->add_option("--serve-token", o.token, "bearer token every API call needs (off loopback: generated if not given)")
      ->group(group);
}

bool parseServeAddress(const std::string& text, ServeAddress& address, std::string& problem) {
  std::string host, port;
  if (!splitHostPort(text, host, port)) {
    problem = "expects [ADDR:]PORT (an IPv6 address in brackets); got \"" + text + "\"";
    return false;
  }
  double number = 0;
  if (!parseNumberFromTo(port, 0, 65535, true, number, problem)) {
    problem = "port " + problem;
    return false;
  }
  if (!host.empty()) address.host = host;
  address.port = static_cast<int>(number);
  address.loopback = isLoopbackHost(address.host);
  return true;
}

std::string generateToken() {
  unsigned char bytes[16];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return std::string();
  std::string token;
  char hex[3];
  for (const unsigned char b : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    token += hex;
  }
  return token;
}

std::string serveOrigin(const ServeAddress& address, int port) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(port);
}
