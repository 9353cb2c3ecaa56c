// The check after the run alone, on an Access file and the database a run made of it: the
// target sides read whole, one table per connection, against long tables read in ranges that
// both connections share; the Access sides are read before each timing. Prints
// "whole_seconds", "ranges_seconds" (wall time of the target sides, the best of the rounds),
// "whole_cpu", "ranges_cpu" (processor time of those rounds) and "equal 1" when both give the
// same checks.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/names.h"
#include "platform/verify/migration_check.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool Same(const std::vector<platform::verify::TableCheck>& a,
          const std::vector<platform::verify::TableCheck>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].targetName != b[i].targetName || a[i].targetRows != b[i].targetRows ||
        a[i].checksumsEqual != b[i].checksumsEqual || a[i].checksumNote != b[i].checksumNote ||
        a[i].indexesCreated != b[i].indexesCreated || a[i].timeColumns != b[i].timeColumns)
      return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_check <access file> <database file> [rounds]\n");
    return 2;
  }
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  platform::verify::MigrationChecker checker;
  checker.BeforeRun(argv[1], std::chrono::seconds(60));
  platform::verify::CheckRequest request{
      argv[1],
      std::string("Driver=Norvane;Database=") + argv[2],
      false,
      "",
      [](const std::string& n) { return engine::TargetNameOf(n); },
      std::chrono::seconds(60)};
  double best[2] = {1e9, 1e9}, cpu[2] = {0, 0};
  std::vector<platform::verify::TableCheck> results[2];
  for (int round = 0; round < rounds; ++round) {
    for (int way = 0; way < 2; ++way) {
      request.rowsPerRange = way == 0 ? 0 : platform::verify::CheckRequest{}.rowsPerRange;
      checker.ReadAccessAhead(request);
      while (checker.ReadNextAccessSide()) {
      }
      const auto start = Clock::now();
      const double cpuStart = CpuSeconds();
      results[way] = checker.Check(request);
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (seconds < best[way]) {
        best[way] = seconds;
        cpu[way] = CpuSeconds() - cpuStart;
      }
    }
  }
  std::printf(
      "whole_seconds %.3f\nranges_seconds %.3f\nwhole_cpu %.3f\nranges_cpu %.3f\nequal %d\n",
      best[0], best[1], cpu[0], cpu[1], Same(results[0], results[1]) ? 1 : 0);
  return Same(results[0], results[1]) ? 0 : 1;
}
