// The one writer of the program's files, on a disk that fills up or a program killed at any step.
#include <map>
#include <optional>
#include <set>
#include <streambuf>

#include <gmock/gmock.h>

#include "CoreTestSupport.h"
#include "FaultyDisk.h"
#include "core/FileCommit.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/StatusLine.h"

namespace qmt::test {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;

class FileCommitTest : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        gf_resetStatusForTests();
        ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    }
    void TearDown() override
    {
        gf_resetStatusForTests();
        CoreTest::TearDown();
    }
    std::string logText()
    {
        gf_flushLog();
        return readFile(dir() / "Log.txt");
    }
    // The file and its three generations before the save: each text long enough that half of it
    // is told from the whole.
    void prepare(const std::filesystem::path& PATH)
    {
        writeFile(PATH, m_old);
        for (int n = 1; n <= 3; ++n) {
            writeFile(gf_generationPath(PATH, n), generationText(n));
        }
    }
    static std::string generationText(int N) { return std::string(600, static_cast<char>('0' + N)); }

    const std::string m_old = std::string(800, 'o');
    const std::string m_new = std::string(900, 'n');
};

TEST_F(FileCommitTest, KillAtAnyStepLeavesTheFileAndEveryGenerationWhole)
{
    const auto path = dir() / "EHAM.xml";
    for (const int generations : {0, 3}) {
        const int steps = gf_faultAtEachStep(
            FaultyDisk::Fault::kill, [&] { prepare(path); },
            [&] { gf_commitFile(m_new, path, CommitOptions{generations, true}); },
            [&](int STEP) {
                EXPECT_THAT(readFile(path), AnyOf(m_old, m_new)) << generations << " generations, step " << STEP;
                // A generation is missing for a moment while they move on, never cut.
                for (int n = 1; n <= 3; ++n) {
                    const auto generation = gf_generationPath(path, n);
                    if (std::filesystem::exists(generation)) {
                        EXPECT_THAT(readFile(generation),
                                    AnyOf(m_old, generationText(1), generationText(2), generationText(3)))
                            << generations << " generations, step " << STEP << ", generation " << n;
                    }
                }
            });
        EXPECT_EQ(steps, generations == 0 ? 2 : 6);
        EXPECT_EQ(readFile(path), m_new);
        if (generations == 3) {
            EXPECT_EQ(readFile(gf_generationPath(path, 1)), m_old);
            EXPECT_EQ(readFile(gf_generationPath(path, 2)), generationText(1));
            EXPECT_EQ(readFile(gf_generationPath(path, 3)), generationText(2));
        }
    }
}

// A disk that fills up while the new bytes are written fails the save: the old file stays, and
// the log and the window say why. Once the new bytes are whole, a copy for the generations that
// no longer fits costs only the generation.
TEST_F(FileCommitTest, FullDiskFailsTheSaveWithAWarningAndALineInTheWindow)
{
    const auto path = dir() / "EHAM.xml";
    const std::string full = "writing EHAM.xml.tmp: No space left on device";
    for (const int fullAt : {0, 1}) {
        prepare(path);
        gf_resetStatusForTests();
        bool saved = false;
        {
            const FaultyDisk disk(fullAt, FaultyDisk::Fault::full);
            saved = gf_commitFile(m_new, path, CommitOptions{3, true});
        }
        EXPECT_EQ(saved, fullAt == 1);
        EXPECT_EQ(readFile(path), saved ? m_new : m_old);
        EXPECT_EQ(readFile(gf_generationPath(path, 1)), generationText(1));
        EXPECT_THAT(logText(), HasSubstr(saved ? "==> could not keep older generations of " + path.string()
                                               : "==> " + path.string() + " could not be saved: " + full));
        EXPECT_EQ(gf_statusText(), saved ? "" : "Could not save EHAM.xml: " + full);
    }
}

// A stream that refuses every byte while the disk is full.
class FillingDisk : public std::stringbuf {
public:
    bool full = false;

protected:
    int overflow(int C) override { return full ? traits_type::eof() : std::stringbuf::overflow(C); }
    std::streamsize xsputn(const char* S, std::streamsize N) override { return full ? 0 : std::stringbuf::xsputn(S, N); }
};

struct FillingLog : std::ostream {
    FillingLog() : std::ostream(&disk) {}
    FillingDisk disk;
};

TEST_F(FileCommitTest, LogOnAFullDiskSaysItOnceOnStderrAndGoesOnWhenThereIsRoom)
{
    auto stream = std::make_unique<FillingLog>();
    FillingLog& log = *stream;
    ASSERT_TRUE(gf_openLogOn(std::move(stream), dir() / "Log.txt", "test"));
    ::testing::internal::CaptureStderr();
    log.disk.full = true;
    gf_logLine("lost 1");
    gf_logWarning("lost 2");
    gf_logLine("lost 3");
    log.disk.full = false;
    gf_logLine("kept");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Quillon: " + (dir() / "Log.txt").string() +
                       " cannot be written (is the disk full?); log lines are lost until it can\n");
    EXPECT_THAT(log.disk.str(), HasSubstr("for test\nkept\n"));
    gf_closeLog();
}

// A disk that cannot swap two folders: it refuses (BROKEN), or the system has no such step.
class NoExchangeDisk : public FaultyDisk {
public:
    NoExchangeDisk(int AT, FaultyDisk::Fault FAULT, bool BROKEN) : FaultyDisk(AT, FAULT), m_broken(BROKEN) {}
    std::error_code exchange(const std::filesystem::path&, const std::filesystem::path&) override
    {
        return std::make_error_code(m_broken ? std::errc::io_error : std::errc::operation_not_supported);
    }

private:
    bool m_broken;
};

// A folder written anew holds its old files, whole, until the new folder is put in place, however
// the writing ends: put in place, dropped, refused by the disk, on a system that moves the old
// folder aside instead of swapping, or killed at any step; what a kill leaves is mended by the
// next new folder made for it, and no folder of the writer's is left behind.
TEST_F(FileCommitTest, FolderWrittenAnewHoldsItsOldFilesUntilTheNewAreWhole)
{
    using Files = std::map<std::string, std::string>;
    const auto folder = dir() / "my_thirdparty";
    const Files oldFiles = {{"EHLE.xml", "EHLE of the last scan"}, {"EHRD.txt", "link of the last scan"}};
    const Files newFiles = {{"EHLE.xml", "EHLE of this scan"}, {"EDDL.xml", "EDDL of this scan"}};
    const auto contents = [&] {
        Files files;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            files[it->path().filename().string()] = readFile(it->path());
        }
        return files;
    };
    const auto lay = [&](bool EXISTS) {
        std::filesystem::remove_all(folder);
        if (EXISTS) {
            std::filesystem::create_directories(folder);
            for (const auto& [name, text] : oldFiles) {
                writeFile(folder / name, text);
            }
        }
    };
    const auto writeAnew = [&](bool COMMIT, std::string& FAILURE) {
        FolderCommit commit(folder);
        EXPECT_TRUE(commit.ready()) << commit.failure();
        for (const auto& [name, text] : newFiles) {
            EXPECT_TRUE(gf_writeNewFile(text, commit.newFolder() / name, FAILURE)) << FAILURE;
        }
        EXPECT_EQ(contents(), std::filesystem::exists(folder) ? oldFiles : Files{});
        return COMMIT && commit.commit(FAILURE);
    };
    const auto leftovers = [&] {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir())) {
            if (entry.path().filename().string().starts_with("my_thirdparty.")) {
                names.insert(entry.path().filename().string());
            }
        }
        return names;
    };

    enum class Disk { real, noExchange, refusing };
    const struct {
        const char* name;
        bool exists;
        bool commit;
        Disk disk;
        bool replaced;
    } cases[] = {
        {"put in place", true, true, Disk::real, true},
        {"dropped", true, false, Disk::real, false},
        {"first of its kind", false, true, Disk::real, true},
        {"moved aside where no swap is", true, true, Disk::noExchange, true},
        {"refused by the disk", true, true, Disk::refusing, false},
    };
    for (const auto& c : cases) {
        lay(c.exists);
        std::string failure;
        bool committed = false;
        {
            std::optional<NoExchangeDisk> disk;
            if (c.disk != Disk::real) {
                disk.emplace(1000, FaultyDisk::Fault::kill, c.disk == Disk::refusing);
            }
            committed = writeAnew(c.commit, failure);
        }
        EXPECT_EQ(committed, c.replaced) << c.name;
        EXPECT_EQ(contents(), c.replaced ? newFiles : (c.exists ? oldFiles : Files{})) << c.name;
        EXPECT_EQ(failure, c.disk == Disk::refusing ? "putting in place my_thirdparty: Input/output error" : "") << c.name;
        EXPECT_TRUE(leftovers().empty()) << c.name;
    }

    for (const bool swaps : {true, false}) {
        for (int step = 0;; ++step) {
            lay(true);
            bool hit = false;
            {
                std::optional<FaultyDisk> swapping;
                std::optional<NoExchangeDisk> movingAside;
                FaultyDisk& disk = swaps ? swapping.emplace(step, FaultyDisk::Fault::kill)
                                         : movingAside.emplace(step, FaultyDisk::Fault::kill, false);
                try {
                    std::string failure;
                    writeAnew(true, failure);
                } catch (const ProgramKilled&) {
                }
                hit = disk.hit();
            }
            { const FolderCommit next(folder); }
            EXPECT_THAT(contents(), AnyOf(oldFiles, newFiles)) << (swaps ? "swapped" : "moved aside") << ", step " << step;
            EXPECT_TRUE(leftovers().empty()) << step;
            if (!hit) {
                EXPECT_EQ(contents(), newFiles);
                break;
            }
        }
    }
}

} // namespace
} // namespace qmt::test
