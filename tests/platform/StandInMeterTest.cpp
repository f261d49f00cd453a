#include "platform/standin_meter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

namespace qmt::test {
namespace {

std::size_t lf_held(StandInPart PART)
{
    return gf_standInUse().heapBytes[static_cast<int>(PART)];
}

void* lf_allocateIn(std::optional<StandInPart> PART, std::size_t SIZE, std::size_t ALIGN)
{
    if (!PART) {
        return gf_meterAllocate(SIZE, ALIGN);
    }
    const StandInScope scope(*PART);
    return gf_meterAllocate(SIZE, ALIGN);
}

// What a stand-in allocates counts as its memory until the block is released, by whichever thread
// releases it; what the program allocates outside a stand-in's scope counts for neither.
TEST(StandInMeterTest, BlocksCountForTheStandInThatAllocatedThemUntilAnyThreadReleasesThem)
{
    struct Case {
        std::optional<StandInPart> part;
        std::size_t size;
        std::size_t align;
    };
    const Case cases[] = {
        {StandInPart::simulator, 0, 16},     {StandInPart::simulator, 1, 16},
        {StandInPart::simulator, 24, 16},    {StandInPart::traffic, 4000, 16},
        {StandInPart::traffic, 64, 64},      {StandInPart::simulator, 300'000, 16},
        {StandInPart::traffic, 5000, 4096},  {std::nullopt, 1, 16},
        {std::nullopt, 40, 16},              {std::nullopt, 300'000, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "size " << c.size << ", alignment " << c.align << ", part "
                                          << (c.part ? static_cast<int>(*c.part) : -1));
        const std::size_t simulatorBefore = lf_held(StandInPart::simulator);
        const std::size_t trafficBefore = lf_held(StandInPart::traffic);
        void* block = lf_allocateIn(c.part, c.size, c.align);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % c.align, 0u);
        // The whole block is the caller's: filling it leaves the count alone.
        std::memset(block, 0xA5, c.size);
        const std::size_t counted = c.size == 0 ? 1 : c.size;
        EXPECT_EQ(lf_held(StandInPart::simulator),
                  simulatorBefore + (c.part == StandInPart::simulator ? counted : 0));
        EXPECT_EQ(lf_held(StandInPart::traffic), trafficBefore + (c.part == StandInPart::traffic ? counted : 0));
        std::thread([block] { gf_meterRelease(block); }).join();
        EXPECT_EQ(lf_held(StandInPart::simulator), simulatorBefore);
        EXPECT_EQ(lf_held(StandInPart::traffic), trafficBefore);
    }
}

// malloc hands a released block's room out again: a program block in the room of a released
// stand-in block (48 bytes and the tag's room: the program's 64) is not taken for a stand-in's.
TEST(StandInMeterTest, AProgramBlockInTheRoomOfAReleasedStandInBlockIsNotCountedOff)
{
    const std::size_t before = lf_held(StandInPart::simulator);
    std::vector<void*> standIn;
    for (int i = 0; i < 64; ++i) {
        standIn.push_back(lf_allocateIn(StandInPart::simulator, 48, 16));
    }
    for (void* block : standIn) {
        gf_meterRelease(block);
    }
    ASSERT_EQ(lf_held(StandInPart::simulator), before);
    // The same rooms, now the program's; their ends left as the stand-in's blocks had them.
    std::vector<void*> program;
    for (int i = 0; i < 64; ++i) {
        program.push_back(gf_meterAllocate(64, 16));
    }
    const std::size_t heldByStandIn = 1000;
    void* kept = lf_allocateIn(StandInPart::simulator, heldByStandIn, 16);
    for (void* block : program) {
        gf_meterRelease(block);
    }
    EXPECT_EQ(lf_held(StandInPart::simulator), before + heldByStandIn);
    gf_meterRelease(kept);
    EXPECT_EQ(lf_held(StandInPart::simulator), before);
}

} // namespace
} // namespace qmt::test
