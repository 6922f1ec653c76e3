// qvschedule-target: the small HTTP server of TargetServer.h as a program, to try HTTP vusers out
// on this machine. It listens on 127.0.0.1 (PORT, or a free port), prints its URL and serves
// until SECONDS have passed or it is interrupted; then it prints the requests it served.
//   qvschedule-target [PORT [SECONDS]]        default: a free port, 600 seconds
#include "TargetServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int) { interrupted = 1; }

}  // namespace

int main(int argc, char** argv) {
  const int port = argc > 1 ? std::atoi(argv[1]) : 0;
  const long seconds = argc > 2 ? std::atol(argv[2]) : 600;
  if (port < 0 || port > 65535 || seconds <= 0) {
    std::cerr << "usage: qvschedule-target [PORT [SECONDS]]\n";
    return 2;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  try {
    TargetServer server(port, 256);
    std::cout << server.url("/") << std::endl;
    const auto end = TargetServer::Clock::now() + std::chrono::seconds(seconds);
    while (!interrupted && TargetServer::Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::cerr << "qvschedule-target: served " << server.total() << " requests\n";
  } catch (const std::exception& e) {
    std::cerr << "qvschedule-target: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
