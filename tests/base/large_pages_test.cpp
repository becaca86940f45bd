// Vectors whose big blocks come straight from the system: growing through the size where the
// allocator switches, copying and giving the memory back must keep every element.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "base/large_pages.h"

namespace {

TEST(LargePages, VectorKeepsItsElementsAcrossTheSwitchToLargeBlocks) {
  LargeVector<uint32_t> values;
  const uint32_t count = 3u << 20;  // 12 MiB: grows from small blocks through several large ones
  for (uint32_t i = 0; i < count; ++i) values.push_back(i * 2654435761u);
  ASSERT_EQ(values.size(), count);
  for (uint32_t i = 0; i < count; i += 4099) ASSERT_EQ(values[i], i * 2654435761u) << i;
  EXPECT_EQ(values.back(), (count - 1) * 2654435761u);

  LargeVector<uint32_t> copy(values);
  values.resize(10);  // the large block stays until the vector lets it go
  values.shrink_to_fit();
  LargeVector<uint32_t>().swap(copy);  // a large block back to the system
  ASSERT_EQ(values.size(), 10u);
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(values[i], i * 2654435761u);
}

TEST(LargePages, RequestOnMemoryOfAnyAlignmentIsHarmless) {
  // The request covers only whole large pages inside the range; a small or unaligned range asks
  // for nothing, and the memory stays as it was.
  LargeVector<uint8_t> bytes(5u << 20, 7);
  askForLargePages(bytes.data() + 3, bytes.size() - 5);
  askForLargePages(bytes.data() + 1, 100);
  for (size_t i = 0; i < bytes.size(); i += 65537) ASSERT_EQ(bytes[i], 7) << i;
}

}  // namespace
