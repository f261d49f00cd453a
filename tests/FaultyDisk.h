#pragma once
// A disk for the file writer's seam that fills up, or a program that is killed, at one step of a
// save. Steps are counted over every write, rename and removal the writer asks for.

#include <functional>
#include <string_view>
#include <system_error>

#include "core/FileCommit.h"

namespace qmt::test {

// Thrown where the program would have been killed: not an exception the program catches.
struct ProgramKilled {};

class FaultyDisk : public FileSystemSeam {
public:
    enum class Fault {
        full, // the write of step AT and every later write stop halfway with "no space"
        kill, // the program ends at step AT: a write stops halfway, any other step is not taken
    };
    FaultyDisk(int AT, Fault FAULT) : m_at(AT), m_fault(FAULT) { gf_setFileSystemSeam(this); }
    ~FaultyDisk() override { gf_setFileSystemSeam(nullptr); }
    FaultyDisk(const FaultyDisk&) = delete;
    FaultyDisk& operator=(const FaultyDisk&) = delete;

    // Whether the fault happened (a save of fewer steps never meets it).
    bool hit() const { return m_hit; }

    std::error_code writeFile(const std::filesystem::path& PATH, std::string_view BYTES, bool DURABLE) override
    {
        if (!reached()) {
            return FileSystemSeam::writeFile(PATH, BYTES, DURABLE);
        }
        FileSystemSeam::writeFile(PATH, BYTES.substr(0, BYTES.size() / 2), false);
        if (m_fault == Fault::kill) {
            throw ProgramKilled{};
        }
        return std::make_error_code(std::errc::no_space_on_device);
    }
    std::error_code rename(const std::filesystem::path& FROM, const std::filesystem::path& TO) override
    {
        if (reached() && m_fault == Fault::kill) {
            throw ProgramKilled{};
        }
        return FileSystemSeam::rename(FROM, TO);
    }
    std::error_code remove(const std::filesystem::path& PATH) override
    {
        if (reached() && m_fault == Fault::kill) {
            throw ProgramKilled{};
        }
        return FileSystemSeam::remove(PATH);
    }

private:
    bool reached()
    {
        const bool at = m_step++ == m_at || (m_fault == Fault::full && m_hit);
        m_hit = m_hit || at;
        return at;
    }

    int m_at;
    Fault m_fault;
    int m_step = 0;
    bool m_hit = false;
};

// For step 0, 1, 2 ... until a save no longer meets the fault: PREPARE on the real disk, SAVE on
// a disk with FAULT at that step, CHECK on the real disk again (with the step). Answers the
// number of steps of a whole save.
inline int gf_faultAtEachStep(FaultyDisk::Fault FAULT, const std::function<void()>& PREPARE,
                              const std::function<void()>& SAVE, const std::function<void(int)>& CHECK)
{
    for (int step = 0;; ++step) {
        PREPARE();
        bool hit = false;
        {
            FaultyDisk disk(step, FAULT);
            try {
                SAVE();
            } catch (const ProgramKilled&) {
            }
            hit = disk.hit();
        }
        CHECK(step);
        if (!hit) {
            return step;
        }
    }
}

} // namespace qmt::test
