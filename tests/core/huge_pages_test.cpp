#include "core/HugePages.h"

#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace qmt::test {
namespace {

// Records the size of a live aircraft's, grown one by one past several huge pages: every growth
// moves them to a new block and gives the old one back, and each keeps what was written in it.
TEST(HugePagesTest, RecordsKeepTheirContentsWhileTheArrayGrowsAndShrinks)
{
    using Record = std::array<std::uint32_t, 290>;
    std::vector<Record, HugePageAllocator<Record>> records;
    for (std::uint32_t n = 0; n < 6000; ++n) {
        Record r;
        r.fill(n);
        records.push_back(r);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(records.data()) % (std::uintptr_t{2} << 20), 0u) << n;
    }
    records.erase(records.begin(), records.begin() + 5000);
    records.shrink_to_fit();
    for (std::uint32_t n = 0; n < records.size(); ++n) {
        ASSERT_EQ(records[n].front(), n + 5000);
        ASSERT_EQ(records[n].back(), n + 5000);
    }
}

} // namespace
} // namespace qmt::test
