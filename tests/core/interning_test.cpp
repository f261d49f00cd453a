#include <thread>

#include <fmt/format.h>

#include "CoreTestSupport.h"
#include "core/AcKind.h"

namespace qmt::test {
namespace {

using InterningTest = CoreTest;

TEST_F(InterningTest, EmptyCodeIsZeroAndTextsRoundTrip)
{
    EXPECT_EQ(gf_airlineId(""), 0);
    EXPECT_EQ(gf_modelId(""), 0);
    const auto klm = gf_airlineId("KLM");
    EXPECT_NE(klm, 0);
    EXPECT_EQ(gf_airlineId("KLM"), klm);
    EXPECT_EQ(gf_airlineCode(klm), "KLM");
    EXPECT_EQ(gf_airlineCode(60000), ""); // beyond the list
    EXPECT_EQ(gf_airlineId("KLMKLC"), gf_airlineId("KLMKLC"));
    EXPECT_NE(gf_airlineId("KLMKLC"), klm);
}

TEST_F(InterningTest, KindValueRoundTrips)
{
    const AcKind k{1234, 42, 65535, 1, 7};
    EXPECT_EQ(gf_kindFromValue(gf_kindValue(k)), k);
    EXPECT_EQ(gf_kindValue(AcKind{}), 0u);
}

TEST_F(InterningTest, EightThreadsInterningTheSameCodesAgree)
{
    constexpr int kCodes = 10000;
    std::vector<std::string> codes;
    for (int i = 0; i < kCodes; ++i) codes.push_back(fmt::format("C{}", i));
    std::vector<std::vector<std::uint16_t>> ids(8, std::vector<std::uint16_t>(kCodes));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            // Each thread walks the codes in its own order and reads texts back meanwhile.
            for (int k = 0; k < kCodes; ++k) {
                const int i = (k * 7919 + t * 1237) % kCodes;
                ids[t][i] = gf_modelId(codes[i]);
                if (gf_modelCode(ids[t][i]) != codes[i]) ids[t][i] = 0;
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int i = 0; i < kCodes; ++i) {
        ASSERT_NE(ids[0][i], 0) << i;
        for (int t = 1; t < 8; ++t) ASSERT_EQ(ids[t][i], ids[0][i]) << i;
        ASSERT_EQ(gf_modelCode(ids[0][i]), codes[i]);
    }
    EXPECT_EQ(g_modelIds.size(), static_cast<std::size_t>(kCodes) + 1);
}

} // namespace
} // namespace qmt::test
