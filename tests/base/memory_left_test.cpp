// The memory a process may take: a control group's limit is the least of its own and those of the
// groups above it, on a hierarchy laid out in a scratch directory as the kernel lays out its own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/memory_left.h"

namespace {

namespace fs = std::filesystem;

struct Hierarchy {
  fs::path root = fs::temp_directory_path() / ("tervano-cgroup-" + std::to_string(::getpid()));
  Hierarchy() { fs::create_directories(root / "job" / "step"); }
  ~Hierarchy() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  void write(const fs::path& name, const std::string& text) const { std::ofstream(root / name) << text; }
  uint64_t limit() const { return controlGroupLimit((root / "groups").string(), (root / "tree").string()); }
};

TEST(MemoryLeft, ControlGroupLimitIsTheLeastOnThePathUpAndNoneWithoutTheUnifiedHierarchy) {
  Hierarchy h;
  fs::create_directories(h.root / "tree" / "job" / "step");
  h.write("groups", "12:memory:/old\n0::/job/step\n");
  h.write("tree/job/step/memory.max", "max\n");
  h.write("tree/job/memory.max", "4000000000\n");
  EXPECT_EQ(h.limit(), 4000000000u);  // the job's, through a step without one
  h.write("tree/memory.max", "3000000000\n");
  EXPECT_EQ(h.limit(), 3000000000u);  // the root of a container's namespace has one too
  h.write("tree/job/step/memory.max", "123456789\n");
  EXPECT_EQ(h.limit(), 123456789u);
  h.write("tree/job/step/memory.max", "garbage\n");
  EXPECT_EQ(h.limit(), 3000000000u);  // not a number: no limit read there
  h.write("groups", "0::/\n");
  EXPECT_EQ(h.limit(), 3000000000u);
  h.write("groups", "12:memory:/job\n");  // the older hierarchies only
  EXPECT_EQ(h.limit(), UINT64_MAX);
  h.write("groups", "0::/job/gone\n");  // a group whose files cannot be read
  EXPECT_EQ(h.limit(), 3000000000u);
}

}  // namespace
