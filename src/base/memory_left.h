// How much more memory this process may take before an allocation fails or the system kills
// it: a solve that needs more than that at once is refused before it starts, instead of
// running for hours to a certain "out of memory" (or to a kill that leaves its state files).
#pragma once
#include <cstdint>
#include <string>

// The least of: the address-space limit (RLIMIT_AS) beyond what the process maps now; the
// memory limit of its control group and of each above it beyond what the process holds; the
// machine's memory and swap beyond what the process holds. UINT64_MAX where none is known.
uint64_t memoryLeftBytes();

// The least memory.max of the process's control group and of each above it (cgroup v2), read
// from the groups file (/proc/self/cgroup) and the hierarchy it names (/sys/fs/cgroup); a group
// without a limit says "max", and a system without the unified hierarchy has no line "0::".
uint64_t controlGroupLimit(const std::string& groupsFile, const std::string& hierarchy);
