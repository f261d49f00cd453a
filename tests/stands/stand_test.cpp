#include "stands/StandTable.h"

#include <gtest/gtest.h>

namespace qmt {
namespace {

TEST(Stand, ConstructionConvertsRadiusAndClearsFlags)
{
    Stand s("A1", {}, 52.3, 4.76, 4.71238898038469, 25.0, 3, true, false, false);
    EXPECT_DOUBLE_EQ(s.radius, 0.01349892008639309);
    EXPECT_EQ(s.standId, 0u);
    EXPECT_EQ(s.manual + s.radiusChanged + s.cargoChanged + s.staticHere + s.liveHere + s.reserved + s.blocked, 0);
    EXPECT_GE(s.adjacent.capacity(), 8u);
    EXPECT_EQ(s.cargo, 1);
}

TEST(Stand, QualityFactorsPackRealLowSoftHigh)
{
    const int64_t packed = gf_packQualityFactors(44, 7);
    EXPECT_EQ(gf_qualityReal(packed), 44);
    EXPECT_EQ(gf_qualitySoft(packed), 7);
    EXPECT_EQ(static_cast<uint64_t>(packed), (uint64_t{7} << 32) | 44u);
    const int64_t unknown = gf_packQualityFactors(-1, -1);
    EXPECT_EQ(gf_qualityReal(unknown), -1);
    EXPECT_EQ(gf_qualitySoft(unknown), -1);
}

} // namespace
} // namespace qmt
