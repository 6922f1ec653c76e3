// The options of `qvschedule run` for HTTP vusers (--http URL and the rest), as given.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

struct HttpOptions {
  std::string url;
  std::vector<std::string> groupUrls;  // "NAME=URL" items as given
  std::string method = "GET";
  std::vector<std::string> headers;
  std::string bodyFile;
  std::string caFile;     // --cacert: the certificates (PEM) trusted for HTTPS targets
  bool insecure = false;  // --insecure: no check of the targets' certificates and names
  long thinkMs = 0;
  long timeoutMs = 30000;
  long iterations = 1;
  bool stopAbort = false;
  unsigned loops = 0;
  std::string outJson;
  std::string outCsv;
  std::vector<std::string> thresholds;

  bool enabled() const { return !url.empty() || !groupUrls.empty(); }
};

void addHttpOptions(CLI::App* run, HttpOptions& options);
