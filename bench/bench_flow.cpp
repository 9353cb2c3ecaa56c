// Runs a command (the whole migration flow) and reports its wall time and CPU time (user +
// system, of every process it started and waited for), the times of its phases found by the
// lines it prints (a phase that comes back, as a table's transfer and its indexes do, is summed),
// and the peak resident memory of every process it starts, sampled every 5 ms: over the first
// tenth of the run and over all of it.
//   bench_flow <command> [arguments...]
// Prints "seconds", "cpu_seconds", "phase <name> <seconds>", "peak_kb_first_tenth",
// "peak_kb_whole" and "peak_kb <process> <kb>" lines on standard error; the command's output is
// dropped.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Children of `pid`, from every thread's children list.
std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> out;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + e->d_name + "/children");
    for (pid_t child; in >> child;) out.push_back(child);
  }
  closedir(dir);
  return out;
}

// Resident kilobytes of a process and its name; false when it is gone.
bool Resident(pid_t pid, long& kb, std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  if (!in) return false;
  kb = -1;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("Name:")) name = line.substr(line.find_first_not_of(" \t", 5));
    if (line.starts_with("VmRSS:")) kb = std::atol(line.c_str() + 6);
  }
  return kb >= 0;
}

struct Marker {
  const char* text;  // a line holding this starts the phase
  const char* phase;
};
// The flow's phases by the lines norvane-migrate and cmdshell print (with --verbose); what comes
// before the first is the check before the run ("before").
const Marker kMarkers[] = {
    {"Creating database", "create"},
    {"Connecting to Access Database", "connect"},
    {"Transferring ", "transfer"},
    {"Creating Index on table", "index"},
    {"reload1.sql + ", "reload"},
    {"finished reload.bat", "check"},
    {"\nReport", "end"},  // the report's heading, a line of its own
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_flow <command> [arguments...]\n");
    return 2;
  }
  int out[2];
  if (pipe(out) != 0) return 2;
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(out[0]);
    close(out[1]);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  close(out[1]);
  fcntl(out[0], F_SETFL, O_NONBLOCK);

  std::set<pid_t> known = {child};
  std::map<std::string, long> peakByName;
  long peakFirstTenth = 0, peakWhole = 0;
  std::vector<std::pair<std::string, double>> phases = {{"before", 0.0}};
  std::string pending;
  int status = 0;
  bool done = false;
  std::vector<std::pair<double, long>> samples;  // time, largest process
  while (!done) {
    pollfd p{out[0], POLLIN, 0};
    poll(&p, 1, 5);
    char buffer[65536];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
      pending.append(buffer, static_cast<std::size_t>(n));
      const double t = std::chrono::duration<double>(Clock::now() - start).count();
      for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        const std::string line = "\n" + pending.substr(0, nl);
        pending.erase(0, nl + 1);
        for (const Marker& m : kMarkers)
          if (line.find(m.text) != std::string::npos &&
              (phases.empty() || phases.back().first != m.phase))
            phases.emplace_back(m.phase, t);
      }
    }
    // Every process below the command, found again each time: short-lived ones may be missed,
    // but a process lives long only when it works long.
    std::vector<pid_t> walk(known.begin(), known.end());
    std::set<pid_t> alive;
    long largest = 0;
    while (!walk.empty()) {
      const pid_t pid = walk.back();
      walk.pop_back();
      if (!alive.insert(pid).second) continue;
      long kb = 0;
      std::string name;
      if (!Resident(pid, kb, name)) continue;
      largest = std::max(largest, kb);
      long& peak = peakByName[name];
      peak = std::max(peak, kb);
      for (pid_t c : ChildrenOf(pid)) walk.push_back(c);
    }
    known = alive;
    known.insert(child);
    samples.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(), largest);
    if (waitpid(child, &status, WNOHANG) == child) done = true;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (const auto& [t, kb] : samples) {
    if (t <= seconds / 10) peakFirstTenth = std::max(peakFirstTenth, kb);
    peakWhole = std::max(peakWhole, kb);
  }
  std::fprintf(stderr, "status %d\nseconds %.3f\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
               seconds);
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  const auto secondsOf = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  std::fprintf(stderr, "cpu_seconds %.3f\n",
               secondsOf(children.ru_utime) + secondsOf(children.ru_stime));
  std::vector<std::pair<std::string, double>> sums;  // in the order they first came
  for (std::size_t i = 0; i + 1 < phases.size(); ++i) {
    auto at = std::find_if(sums.begin(), sums.end(),
                           [&](const auto& s) { return s.first == phases[i].first; });
    if (at == sums.end()) at = sums.insert(sums.end(), {phases[i].first, 0.0});
    at->second += phases[i + 1].second - phases[i].second;
  }
  for (const auto& [name, seconds] : sums)
    std::fprintf(stderr, "phase %s %.3f\n", name.c_str(), seconds);
  std::fprintf(stderr, "peak_kb_first_tenth %ld\npeak_kb_whole %ld\n", peakFirstTenth, peakWhole);
  for (const auto& [name, kb] : peakByName)
    std::fprintf(stderr, "peak_kb %s %ld\n", name.c_str(), kb);
  return 0;
}
