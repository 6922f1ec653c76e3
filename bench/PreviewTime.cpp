// Wall time of `qvschedule preview` (the whole schedule in virtual time) for the typical road and
// for a generated definition of 1,000 groups; median of 5 runs (--smoke: 1 run, 100 groups).
#include "BenchTable.h"
#include "DefinitionGenerator.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Runs the program with its output discarded; the wall time in seconds, or -1 when it failed.
double timedRun(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

double medianRun(const std::vector<std::string>& args, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double t = timedRun(args);
    if (t < 0) return -1;
    times.push_back(t);
  }
  return qvbench::median(times);
}

}  // namespace

int main(int argc, char** argv) {
  qvbench::parseSmoke(argc, argv);
  const bool smoke = qvbench::smokeMode();
  const int runs = smoke ? 1 : 5;
  const int groups = smoke ? 100 : 1000;
  const std::string cli = QV_CLI_PATH;
  const std::string file = "/tmp/qvschedule-bench-groups-" + std::to_string(getpid()) + ".xml";
  {
    std::ofstream out(file);
    out << qvbench::generateGroupsDefinition(groups);
  }
  // The baseline: the same program checking the definition (start-up and load, no run).
  const double check = medianRun({cli, "check", file}, runs);
  const double preview = medianRun({cli, "preview", file}, runs);
  const std::string typical = std::string(QV_EXAMPLES_DIR) + "/typical-road.xml";
  const double typicalCheck = medianRun({cli, "check", typical}, runs);
  const double typicalPreview = medianRun({cli, "preview", typical}, runs);
  std::remove(file.c_str());
  if (check < 0 || preview < 0 || typicalCheck < 0 || typicalPreview < 0) {
    std::fprintf(stderr, "qvschedule failed (%s)\n", cli.c_str());
    return 1;
  }
  qvbench::printRow("preview of " + std::to_string(groups) + " groups (vs check of the same file)",
                    qvbench::formatSeconds(preview), qvbench::formatSeconds(check),
                    qvbench::formatRatio(preview / check), "< 1 s", preview < 1.0);
  qvbench::printRow("preview of the typical road (vs check of the same file)", qvbench::formatSeconds(typicalPreview),
                    qvbench::formatSeconds(typicalCheck), qvbench::formatRatio(typicalPreview / typicalCheck),
                    "< 50 ms", typicalPreview < 0.05);
  return 0;
}
