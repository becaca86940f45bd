// The memory a process may still take, from the system's own figures: the resource limit, the
// process's page counts in /proc, its control group's limits in /sys and the machine's totals.
#include "base/memory_left.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>

namespace {

struct PageCounts {
  uint64_t mappedBytes = 0;
  uint64_t residentBytes = 0;
};

PageCounts processPages() {
  PageCounts counts;
  std::ifstream statm("/proc/self/statm");
  uint64_t mapped = 0, resident = 0;
  if (!(statm >> mapped >> resident)) return counts;
  const long page = sysconf(_SC_PAGESIZE);
  const uint64_t pageBytes = page > 0 ? static_cast<uint64_t>(page) : 4096;
  counts.mappedBytes = mapped * pageBytes;
  counts.residentBytes = resident * pageBytes;
  return counts;
}

uint64_t beyond(uint64_t limit, uint64_t used) { return limit > used ? limit - used : 0; }

}  // namespace

uint64_t controlGroupLimit(const std::string& groupsFile, const std::string& hierarchy) {
  std::ifstream groups(groupsFile);
  std::string line, path;
  while (std::getline(groups, line))
    if (line.rfind("0::", 0) == 0) {
      path = line.substr(3);
      break;
    }
  if (path.empty() || path[0] != '/') return UINT64_MAX;
  uint64_t least = UINT64_MAX;
  for (;;) {
    std::ifstream max(hierarchy + (path == "/" ? std::string() : path) + "/memory.max");
    std::string value;
    if (max >> value && value != "max") {
      try {
        least = std::min<uint64_t>(least, std::stoull(value));
      } catch (...) {
        // Not a number: no limit read from this group.
      }
    }
    if (path == "/") break;
    const size_t slash = path.find_last_of('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return least;
}

uint64_t memoryLeftBytes() {
  const PageCounts pages = processPages();
  uint64_t left = UINT64_MAX;
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    left = std::min(left, beyond(static_cast<uint64_t>(limit.rlim_cur), pages.mappedBytes));
  const uint64_t group = controlGroupLimit("/proc/self/cgroup", "/sys/fs/cgroup");
  if (group != UINT64_MAX) left = std::min(left, beyond(group, pages.residentBytes));
  struct sysinfo machine{};
  if (sysinfo(&machine) == 0) {
    const uint64_t unit = machine.mem_unit > 0 ? machine.mem_unit : 1;
    const uint64_t total = (static_cast<uint64_t>(machine.totalram) + machine.totalswap) * unit;
    if (total > 0) left = std::min(left, beyond(total, pages.residentBytes));
  }
  return left;
}
