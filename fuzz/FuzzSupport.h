#pragma once
// Shared by the fuzz targets: a working folder of the process's own, the state that a reader
// touches put back before every input (so that a finding reproduces alone), and the input
// written to a file for readers that take a path.

#include "core/Airports.h"
#include "core/Paths.h"
#include "core/Reset.h"
#include "core/StatusLine.h"
#include "core/WindowState.h"
#include "parking/ParkAirport.h"
#include "parking/ParkingReset.h"
#include "stands/AirportFile.h"
#include "stands/LearnedApf.h"
#include "stands/StandTable.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace qmt::fuzz {

// The working folder of this fuzzing process, made once with the program's folders in it and
// removed with everything in it when the process ends (libFuzzer ends a run with exit()). The
// path is never destroyed, so that the removal at exit, which runs after the destructors of
// function-local statics made before it was registered, still knows it.
inline const std::filesystem::path& workFolder()
{
    static const std::filesystem::path* const folder = [] {
        auto* dir = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                              ("quillon-fuzz-" + std::to_string(::getpid())));
        std::filesystem::remove_all(*dir);
        std::filesystem::create_directories(*dir);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(workFolder(), ec);
        });
        return dir;
    }();
    return *folder;
}

inline void writeBytes(const std::filesystem::path& PATH, std::string_view BYTES)
{
    std::filesystem::create_directories(PATH.parent_path());
    std::ofstream out(PATH, std::ios::binary | std::ios::trunc);
    out.write(BYTES.data(), static_cast<std::streamsize>(BYTES.size()));
}

inline std::string_view bytesOf(const uint8_t* DATA, size_t SIZE)
{
    return {reinterpret_cast<const char*>(DATA), SIZE};
}

// A broken promise of a reader: libFuzzer keeps the input that led here.
inline void require(bool CONDITION, const char* WHAT)
{
    if (!CONDITION) {
        std::fprintf(stderr, "fuzz check failed: %s\n", WHAT);
        std::abort();
    }
}

// Every stand of the table within its bounds, the table numbered 1..n.
inline void checkStandTable()
{
    for (size_t i = 0; i < g_stands.size(); ++i) {
        require(gf_standInBounds(g_stands[i]), "stand out of bounds");
        require(g_stands[i].standId == 0 || g_stands[i].standId == i + 1, "stand table not numbered in order");
    }
}

// Core state to its start (parameters, reference data, clock, random draws) in the working
// folder, whose folders are made once. The log stays closed: the readers log nothing then.
inline void resetCore()
{
    gf_resetCoreForTests();
    gf_setWorkFolder(workFolder());
    static const bool made = gf_createWorkFolders();
    (void)made;
}

// A folder emptied (for what a reader wrote there on an earlier input) and made anew.
inline void freshFolder(const std::filesystem::path& FOLDER)
{
    std::error_code ec;
    std::filesystem::remove_all(FOLDER, ec);
    std::filesystem::create_directories(FOLDER, ec);
}

// The stock airport file of EHAM with two stands (one with an option of the file) on which the
// learned-file targets read their input.
inline const char* const kSmallAirportFile = R"(<?xml version="1.0"?>
<root><meta><info name="author" value="Quillon"/><info name="version" value="12.0.0"/></meta>
<parameters><parameter name="publisher" value="stock"/><parameter name="altitude" value="-11"/></parameters>
<parkpositions>
<parkpos id="A1" latitude="52.3" longitude="4.76" radius="30" type="3"><opt reg="PH-AAA" airl="KLM" type="B738" day="2" hh="12:14"/></parkpos>
<parkpos id="A2" latitude="52.3001" longitude="4.76" radius="30" type="0" cargo="true" ramp="true"/>
</parkpositions></root>
)";

// Core state plus the stand table and everything the airport-file readers set, with EHAM as
// the park airport.
inline void resetParking()
{
    resetCore();
    gf_resetParkingForTests();
    gf_resetWindowForTests();
    gf_resetStatusForTests();
    const AirportEntry eham{IcaoCode("EHAM"), IataCode("AMS"), 52.3086, 4.7639, -11, 200};
    gf_setAirports({eham});
    g_parkAirport = eham;
}

} // namespace qmt::fuzz
