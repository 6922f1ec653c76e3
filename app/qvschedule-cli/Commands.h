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
  bool strict = false;  // warnings about the definition refuse it
  // For tests: time is a manual clock that lines "advance SECONDS" on standard input move.
  bool virtualClock = false;
};

struct PreviewOptions {
  std::string definition;
  std::string svgPath;
  std::string csvPath;
  std::string jsonPath;  // the timeline, the series and the summary as one JSON document
  PoolOptions pools;
  bool logLines = false;
  Format format = Format::Text;
  bool strict = false;
};

struct CheckOptions {
  std::string definition;
  Format format = Format::Text;
  bool strict = false;
};

int commandRun(const RunOptions& options);
int commandPreview(const PreviewOptions& options);
int commandCheck(const CheckOptions& options);
