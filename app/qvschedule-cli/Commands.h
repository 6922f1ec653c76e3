// The subcommands of the qvschedule program. Each answers the program's exit status.
#pragma once

#include "HttpOptions.h"
#include "PoolOptions.h"

#include <string>

struct RunOptions {
  std::string definition;
  double speed = 1.0;
  PoolOptions pools;
  std::string logPath;
  double progressSeconds = 10;
  bool noLibraryLines = false;
  HttpOptions http;  // real HTTP vusers instead of the simulated pools when a URL is given
};

struct PreviewOptions {
  std::string definition;
  std::string svgPath;
  std::string csvPath;
  PoolOptions pools;
  bool libraryLines = false;
};

int commandRun(const RunOptions& options);
int commandPreview(const PreviewOptions& options);
int commandCheck(const std::string& path);
