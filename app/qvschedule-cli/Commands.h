// The subcommands of the qvschedule program. Each answers the program's exit status (ExitCodes.h).
#pragma once

#include "HttpOptions.h"
#include "PoolOptions.h"
#include "ServeOptions.h"

#include <string>

// Output formats: the human timeline, or JSON (one object per timeline line for run and preview,
// one verdict object for check).
enum class Format { Text, Json };

struct RunOptions {
  std::string definition;  // empty: the built-in example; "-": standard input
  double speed = 1.0;
  PoolOptions pools;
  std::string logPath;
  double progressSeconds = 10;
  bool logLines = false;  // print the library's test-log lines
  Format format = Format::Text;
  HttpOptions http;  // real HTTP vusers instead of the simulated pools when a URL is given
  ServeOptions serve;  // the live page and control API (--serve)
  // For tests: time is a manual clock that lines "advance SECONDS" on standard input move.
  bool virtualClock = false;
};

struct PreviewOptions {
  std::string definition;
  std::string svgPath;
  std::string csvPath;
  PoolOptions pools;
  bool logLines = false;
  Format format = Format::Text;
};

struct CheckOptions {
  std::string definition;
  Format format = Format::Text;
};

int commandRun(const RunOptions& options);
int commandPreview(const PreviewOptions& options);
int commandCheck(const CheckOptions& options);
