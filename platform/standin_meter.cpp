#include "platform/standin_meter.h"

#include "core/Log.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <malloc.h>

namespace qmt {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kSampleEveryNs = 100'000'000;       // resident memory, ten times a second
constexpr std::int64_t kLogEveryNs = 60'000'000'000;       // the log line, once a minute

// A block that a stand-in allocates carries a tag in the last 16 bytes of the room malloc gave it:
// a check word made from the block's address and the block's size and part. The release of any
// block reads the last 16 bytes of its room: only a stand-in's block has the check word of its own
// address there, so a release needs neither a lock nor a list of blocks, on whatever thread it
// runs. The check word is wiped when the block is released, so that no later block that malloc
// places at the same address finds it.
constexpr std::uint64_t kTagSeed = 0x9E3779B97F4A7C15ull;
constexpr std::size_t kTagBytes = 16;
constexpr int kPartShift = 56;
constexpr std::uint64_t kSizeMask = (std::uint64_t{1} << kPartShift) - 1;

struct Tag {
    std::uint64_t check = 0;
    std::uint64_t sizeAndPart = 0;
};

std::uint64_t lf_checkWord(const void* BLOCK)
{
    return kTagSeed ^ static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(BLOCK));
}

// Where the tag of a block lies, or nullptr when its room is too small to hold one.
unsigned char* lf_tagPlace(void* BLOCK)
{
    const std::size_t room = malloc_usable_size(BLOCK);
    return room < kTagBytes ? nullptr : static_cast<unsigned char*>(BLOCK) + room - kTagBytes;
}

std::array<std::atomic<std::int64_t>, kStandInParts> s_cpuNs{};
std::array<std::atomic<std::size_t>, kStandInParts> s_heap{};
std::array<std::atomic<std::size_t>, kStandInParts> s_heapPeak{};
std::atomic<std::size_t> s_processPeak{0};
std::atomic<std::size_t> s_ownPeak{0};
std::atomic<std::int64_t> s_nextSampleNs{0};
// The minute's line is logged only once the program asks for it (tests log nothing of it).
std::atomic<std::int64_t> s_nextLogNs{INT64_MAX};
const std::int64_t s_startNs = Clock::now().time_since_epoch().count();

constinit thread_local int t_depth = 0;
constinit thread_local int t_part = -1;

std::int64_t lf_nowNs()
{
    return Clock::now().time_since_epoch().count() - s_startNs;
}

void lf_raise(std::atomic<std::size_t>& PEAK, std::size_t VALUE)
{
    std::size_t seen = PEAK.load(std::memory_order_relaxed);
    while (VALUE > seen && !PEAK.compare_exchange_weak(seen, VALUE, std::memory_order_relaxed)) {
    }
}

struct Resident {
    std::size_t now = 0;   // VmRSS
    std::size_t peak = 0;  // VmHWM: the kernel's own peak, which no sampling misses
};

Resident lf_resident()
{
    Resident resident;
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return resident;
    }
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        unsigned long kb = 0;
        if (std::sscanf(line, "VmRSS: %lu kB", &kb) == 1) {
            resident.now = static_cast<std::size_t>(kb) * 1024;
        } else if (std::sscanf(line, "VmHWM: %lu kB", &kb) == 1) {
            resident.peak = static_cast<std::size_t>(kb) * 1024;
        }
    }
    std::fclose(status);
    return resident;
}

// Now and then, at the end of a stand-in call: the resident memory with what the stand-ins held
// at that moment, and the minute's log line. A peak of the process between two samples (the scans
// of the start-up come before the first) counts for the program less the least the stand-ins held
// at either sample.
void lf_sample(std::int64_t NOW_NS)
{
    static std::size_t s_lastPeak = 0;
    static std::size_t s_lastStandIns = 0;
    std::int64_t due = s_nextSampleNs.load(std::memory_order_relaxed);
    if (NOW_NS < due || !s_nextSampleNs.compare_exchange_strong(due, NOW_NS + kSampleEveryNs)) {
        return;
    }
    // Only the thread that won the exchange above gets here until the next sample is due.
    const Resident resident = lf_resident();
    const std::size_t standIns = s_heap[0].load() + s_heap[1].load();
    lf_raise(s_processPeak, resident.peak);
    lf_raise(s_ownPeak, resident.now > standIns ? resident.now - standIns : 0);
    if (resident.peak > s_lastPeak) {
        const std::size_t least = std::min(standIns, s_lastStandIns);
        lf_raise(s_ownPeak, resident.peak > least ? resident.peak - least : 0);
        s_lastPeak = resident.peak;
    }
    s_lastStandIns = standIns;
    std::int64_t logDue = s_nextLogNs.load(std::memory_order_relaxed);
    if (NOW_NS >= logDue && s_nextLogNs.compare_exchange_strong(logDue, logDue + kLogEveryNs) && gf_isLogOpen()) {
        gf_logStandInUse();
    }
}

double lf_mb(std::size_t BYTES)
{
    return static_cast<double>(BYTES) / (1024.0 * 1024.0);
}

} // namespace

StandInScope::StandInScope(StandInPart PART) : m_outermost(t_depth++ == 0)
{
    if (m_outermost) {
        t_part = static_cast<int>(PART);
        m_startNs = lf_nowNs();
    }
}

StandInScope::~StandInScope()
{
    --t_depth;
    if (!m_outermost) {
        return;
    }
    const int part = t_part;
    t_part = -1;
    const std::int64_t now = lf_nowNs();
    s_cpuNs[static_cast<std::size_t>(part)].fetch_add(now - m_startNs, std::memory_order_relaxed);
    lf_sample(now);
}

void* gf_meterAllocate(std::size_t SIZE, std::size_t ALIGN) noexcept
{
    const std::size_t size = SIZE == 0 ? 1 : SIZE;
    const int part = t_part;
    const std::size_t room = part < 0 ? size : size + kTagBytes;
    if (room < size) {
        return nullptr;
    }
    void* block = ALIGN <= alignof(std::max_align_t) ? std::malloc(room)
                                                      : std::aligned_alloc(ALIGN, (room + ALIGN - 1) / ALIGN * ALIGN);
    if (block == nullptr || part < 0) {
        return block;
    }
    unsigned char* const place = lf_tagPlace(block);
    const Tag tag{lf_checkWord(block),
                  (static_cast<std::uint64_t>(part) << kPartShift) | (static_cast<std::uint64_t>(size) & kSizeMask)};
    std::memcpy(place, &tag, sizeof tag);
    const auto index = static_cast<std::size_t>(part);
    lf_raise(s_heapPeak[index], s_heap[index].fetch_add(size, std::memory_order_relaxed) + size);
    return block;
}

void gf_meterRelease(void* BLOCK) noexcept
{
    if (BLOCK == nullptr) {
        return;
    }
    if (unsigned char* const place = lf_tagPlace(BLOCK)) {
        Tag tag;
        std::memcpy(&tag, place, sizeof tag);
        if (tag.check == lf_checkWord(BLOCK)) {
            const auto part = static_cast<std::size_t>(tag.sizeAndPart >> kPartShift);
            if (part < kStandInParts) {
                s_heap[part].fetch_sub(static_cast<std::size_t>(tag.sizeAndPart & kSizeMask),
                                       std::memory_order_relaxed);
            }
            const std::uint64_t wiped = 0;
            std::memcpy(place, &wiped, sizeof wiped);
        }
    }
    std::free(BLOCK);
}

StandInUse gf_standInUse()
{
    StandInUse use;
    for (std::size_t part = 0; part < kStandInParts; ++part) {
        use.cpuSeconds[part] = static_cast<double>(s_cpuNs[part].load()) / 1e9;
        use.heapBytes[part] = s_heap[part].load();
        use.heapPeakBytes[part] = s_heapPeak[part].load();
    }
    use.processPeakBytes = s_processPeak.load();
    use.ownPeakBytes = s_ownPeak.load();
    return use;
}

void gf_startStandInLog()
{
    s_nextLogNs = lf_nowNs() + kLogEveryNs;
}

void gf_logStandInUse()
{
    const StandInUse use = gf_standInUse();
    gf_logLine("Stand-ins at {:.0f} s: simulator {:.2f} s CPU, {:.1f} MB (at most {:.1f} MB); traffic service {:.2f} s "
               "CPU, {:.1f} MB (at most {:.1f} MB); process at most {:.1f} MB, program's own at most {:.1f} MB",
               static_cast<double>(lf_nowNs()) / 1e9, use.cpuSeconds[0], lf_mb(use.heapBytes[0]),
               lf_mb(use.heapPeakBytes[0]), use.cpuSeconds[1], lf_mb(use.heapBytes[1]), lf_mb(use.heapPeakBytes[1]),
               lf_mb(use.processPeakBytes), lf_mb(use.ownPeakBytes));
}

} // namespace qmt
