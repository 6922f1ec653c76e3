// The options of `qvschedule run` for the live page and its control API (--serve, --serve-linger,
// --serve-token), as given, and their reading. The main thread uses them before the run starts.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

struct ServeOptions {
  std::string address;        // "[ADDR:]PORT" as given; empty: no server, no port opened
  double lingerSeconds = 0;   // real seconds the server stays up after the run
  std::string token;          // the bearer token; empty: none (or a generated one off loopback)

  bool enabled() const { return !address.empty(); }
};

void addServeOptions(CLI::App* run, ServeOptions& options);

// Where the server listens: a host as getaddrinfo takes it, a port (0: a free one), and whether
// the host is a loopback address (127.0.0.0/8, ::1 or "localhost").
struct ServeAddress {
  std::string host = "127.0.0.1";
  int port = 0;
  bool loopback = true;
};

// Reads "PORT", "ADDR:PORT" or "[IPV6]:PORT"; false with the problem in words when malformed.
bool parseServeAddress(const std::string& text, ServeAddress& address, std::string& problem);

// 127.0.0.0/8, ::1 or "localhost".
bool isLoopbackHost(const std::string& host);

// A token of 32 hexadecimal digits from the kernel's random source (empty if it cannot be read).
std::string generateToken();

// "http://HOST:PORT" (an IPv6 host in brackets).
std::string serveOrigin(const ServeAddress& address, int port);
