// The scan driver: the folder list, the scan log, the facility-data fallback and the report.
#include "airportscan/AirportScan.h"

#include "airportscan/ApfLinks.h"
#include "airportscan/ScanSteps.h"
#include "core/FileCommit.h"
#include "core/Files.h"
#include "core/Log.h"
#include "core/Parameters.h"
#include "core/Paths.h"
#include "core/ScanTasks.h"
#include "core/StatusLine.h"
#include "core/StopFlags.h"
#include "core/Text.h"
#include "core/UserError.h"
#include "core/WindowState.h"
#include "records/UserAircraft.h"
#include "simlink/Facilities.h"
#include "simlink/Install.h"
#include "stands/StandTable.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <thread>

namespace qmt {

namespace fs = std::filesystem;

std::vector<std::string> g_scanLogLines;
std::mutex g_scanLogMutex;
std::mutex g_apfWriteMutex;

namespace {

// The quota of the file this thread reads now, if any.
thread_local ScanLogQuota* t_scanLogQuota = nullptr;

constexpr std::size_t kScanLogReserve = 2048;

// The one thread that writes the files of the scan's new folders, in the order they are handed
// over, while the workers read and parse: workers that wrote them would take turns at the
// folder's lock in the system, the one waiting spinning on a core that a worker needs.
class OutputWriter {
public:
    OutputWriter() : m_thread([this] { lf_run(); }) {}
    ~OutputWriter() { stop(); }
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Writes BYTES as FILE; a failure is a warning in the log and FAILURE_LINE in the scan log.
    void write(fs::path FILE, std::string BYTES, std::string FAILURE_LINE)
    {
        lf_hand(Job{std::move(FILE), std::move(BYTES), std::move(FAILURE_LINE), false});
    }
    void remove(fs::path FILE) { lf_hand(Job{std::move(FILE), {}, {}, true}); }
    // Waits until every file handed over is written.
    void flush()
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_stopped || (m_jobs.empty() && !m_busy); });
    }
    // Ends the thread; what was not written yet is dropped (the scan ends without its files).
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
            m_jobs.clear();
        }
        m_wake.notify_all();
        m_idle.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    struct Job {
        fs::path file;
        std::string bytes;
        std::string failureLine;
        bool remove = false;
    };

    void lf_hand(Job JOB)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopped) {
                return;  // a reader given up that ends after its scan
            }
            m_jobs.push_back(std::move(JOB));
        }
        m_wake.notify_one();
    }

    void lf_run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopped || !m_jobs.empty(); });
            if (m_stopped) {
                return;
            }
            Job job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_busy = true;
            lock.unlock();
            if (job.remove) {
                std::error_code ec;
                fs::remove(job.file, ec);
            } else if (std::string failure; !gf_writeNewFile(job.bytes, job.file, failure)) {
                gf_logWarning("{} could not be saved: {}", gf_utf16ToUtf8(job.file), failure);
                gf_scanLog(job.failureLine);
            }
            lock.lock();
            m_busy = false;
            if (m_jobs.empty()) {
                m_idle.notify_all();
            }
        }
    }

    std::mutex m_mutex;  // guards the four below; taken alone
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_stopped = false;
    std::thread m_thread;
};

// The new folders that the running scan writes my_simaddon and my_thirdparty into (empty outside
// a scan) and their writer. Taken alone (nothing is locked under it).
std::mutex s_newFoldersMutex;
fs::path s_newSimaddon;
fs::path s_newThirdparty;
std::shared_ptr<OutputWriter> s_writer;

// The writer of FILE's folder when it is a new folder of the running scan.
std::shared_ptr<OutputWriter> lf_writerOf(const fs::path& FILE)
{
    const fs::path folder = FILE.parent_path();
    std::lock_guard lock(s_newFoldersMutex);
    if (folder.empty() || (folder != s_newSimaddon && folder != s_newThirdparty)) {
        return nullptr;
    }
    return s_writer;
}

// The scan writes its airport files into folders made new for it, each file once and straight,
// and they take the old folders' places at its end: a scan that fails or is stopped leaves the
// files of the last whole scan as they were, and no file is created where files were just
// removed (a file system slow to reuse what was freed lately pays for that on every file).
class ScanOutputs {
public:
    ScanOutputs()
        : m_simaddon(g_mySimaddonPath), m_thirdparty(g_myThirdpartyPath), m_writer(std::make_shared<OutputWriter>())
    {
        std::lock_guard lock(s_newFoldersMutex);
        s_writer = m_writer;
        for (auto [commit, slot] : {std::pair{&m_simaddon, &s_newSimaddon}, std::pair{&m_thirdparty, &s_newThirdparty}}) {
            if (commit->ready()) {
                *slot = commit->newFolder();
                continue;
            }
            // Without a new folder the files are replaced in place, one by one.
            gf_logWarning("{}; the scan writes into {} itself", commit->failure(), gf_utf16ToUtf8(commit->folder()));
            gf_removeFilesFromDirectory(commit->folder());
        }
    }
    ~ScanOutputs()
    {
        lf_forget();
        m_writer->stop();
    }
    ScanOutputs(const ScanOutputs&) = delete;
    ScanOutputs& operator=(const ScanOutputs&) = delete;

    // The new folders take the old ones' places.
    void commit()
    {
        m_writer->flush();
        lf_forget();
        m_writer->stop();
        for (FolderCommit* commit : {&m_simaddon, &m_thirdparty}) {
            std::string failure;
            if (commit->ready() && !commit->commit(failure)) {
                gf_logWarning("{} keeps the files of the last scan: {}", gf_utf16ToUtf8(commit->folder()), failure);
            }
        }
    }

private:
    static void lf_forget()
    {
        std::lock_guard lock(s_newFoldersMutex);
        s_newSimaddon.clear();
        s_newThirdparty.clear();
        s_writer.reset();
    }

    FolderCommit m_simaddon;
    FolderCommit m_thirdparty;
    std::shared_ptr<OutputWriter> m_writer;  // stopped before the new folders go
};

// What one scan collected goes on every way out of it, and the facility connection is closed:
// the next scan starts clean and no connection outlives the scan.
void lf_endScan()
{
    gf_closeParkingDataReader();
    lf_clearAirportOwners();
    {
        std::lock_guard lock(g_scanLogMutex);
        g_scanLogLines.clear();
    }
    std::scoped_lock lists(g_allBglFilesMutex, g_handledBglFilesMutex);
    g_allBglFiles.clear();
    g_handledBglFiles.clear();
    g_bglNotes.clear();
}

void lf_prepareTblo()
{
    if (fs::exists(g_tbloPath)) {
        gf_removeFilesFromDirectory(g_tbloPath);
    } else {
        fs::create_directory(g_tbloPath);
    }
    // The zip of an earlier scan is gone with the files.
    gf_enableControl(TBLO_ZIP_BUTTON, false);
}

} // namespace

bool gf_scanLog(std::string_view TEXT)
{
    if (t_scanLogQuota != nullptr && !t_scanLogQuota->take()) {
        return false;
    }
    std::lock_guard lock(g_scanLogMutex);
    g_scanLogLines.emplace_back(TEXT);
    return true;
}

ScanLogQuota::ScanLogQuota(std::string SUBJECT, std::size_t LINES)
    : m_subject(std::move(SUBJECT)), m_lines(LINES), m_outer(t_scanLogQuota)
{
    t_scanLogQuota = this;
}

ScanLogQuota::~ScanLogQuota()
{
    t_scanLogQuota = m_outer;
    if (m_leftOut > 0) {
        // Written past any quota: the one line that tells that lines are missing.
        const std::string line = fmt::format("{} more line{} about {} left out", m_leftOut, gf_plural(m_leftOut), m_subject);
        std::lock_guard lock(g_scanLogMutex);
        g_scanLogLines.push_back(line);
    }
}

bool ScanLogQuota::take()
{
    if (m_written < m_lines) {
        ++m_written;
        return true;
    }
    ++m_leftOut;
    return false;
}

fs::path lf_scanOutputFolder(const fs::path& FOLDER)
{
    std::lock_guard lock(s_newFoldersMutex);
    if (!s_newSimaddon.empty() && FOLDER == g_mySimaddonPath) {
        return s_newSimaddon;
    }
    if (!s_newThirdparty.empty() && FOLDER == g_myThirdpartyPath) {
        return s_newThirdparty;
    }
    return FOLDER;
}

void lf_writeScanOutput(std::string BYTES, const fs::path& FILE, std::string FAILURE_LINE)
{
    if (const auto writer = lf_writerOf(FILE)) {
        writer->write(FILE, std::move(BYTES), std::move(FAILURE_LINE));
    } else if (!gf_commitFile(BYTES, FILE)) {
        gf_scanLog(FAILURE_LINE);
    }
}

void lf_removeScanOutput(const fs::path& FILE)
{
    if (const auto writer = lf_writerOf(FILE)) {
        writer->remove(FILE);
    } else {
        std::error_code ec;
        fs::remove(FILE, ec);
    }
}

void lf_scanOutputsWritten()
{
    std::shared_ptr<OutputWriter> writer;
    {
        std::lock_guard lock(s_newFoldersMutex);
        writer = s_writer;
    }
    if (writer) {
        writer->flush();
    }
}

bool gf_writeScanLogFile()
{
    std::vector<std::string> lines;
    {
        std::lock_guard lock(g_scanLogMutex);
        lines = g_scanLogLines;
    }
    std::error_code ec;
    fs::create_directories(g_scanLogPath.parent_path(), ec);
    return gf_writeStringToFile(lines, g_scanLogPath);
}

void lf_generateFromFacilities(AirportFile& RECORD, const fs::path& SOURCE, const fs::path& SCAN_FOLDER)
{
    const std::string code = RECORD.code.str();
    const std::string source = gf_utf16ToUtf8(SOURCE);
    const PackageOrder from = lf_packageOrder(SOURCE, SCAN_FOLDER);
    if (lf_heldByLaterPackage(RECORD, from)) {
        return;
    }
    int helipads = 0;
    FacilityRead status = FacilityRead::notRead;
    gf_readFacilityParkings(code, RECORD, helipads, &status);
    switch (status) {
    case FacilityRead::ok:
        lf_generateApf(RECORD, helipads, from, StandSource::facilityData);
        return;
    case FacilityRead::noStands:
        // A stand-less airfield is normal: it gets no airport file and the scan goes on.
        gf_scanLog("{} has no stand in the simulator's facility data, no airport file generated", code);
        return;
    case FacilityRead::refused:
        // One airport that the simulator does not describe costs that airport only.
        gf_scanLog("The simulator refused the facility data of {} ({}), no airport file generated", code, source);
        return;
    case FacilityRead::timedOut:
        gf_scanLog("The simulator did not answer for the facility data of {} ({}) within 10 seconds, no airport file "
                   "generated",
                   code, source);
        return;
    case FacilityRead::notRead:
        break;
    }
    if (gf_stopRequested()) {
        return;  // the read gave up because the program is stopping, not for a missing simulator
    }
    gf_scanLog("Reading Facilites data for {} via SimConnect failed, is MSFS connected?", code);
    gf_writeScanLogFile();
    throw UserErrorException(779, "MSFS must be connected to get addon airport data via SimConnect");
}

std::vector<fs::path> lf_scanFolderList()
{
    std::vector<fs::path> folders;
    folders.reserve(10);
    for (const char* name : {g_isMsfs2020.load() ? "Official" : "StreamedPackages", "Community"}) {
        fs::path folder = gf_installSubfolder(name);
        if (!folder.empty()) {
            folders.push_back(std::move(folder));
        }
    }
    return folders;
}

void lf_scanFolders(const std::vector<fs::path>& FOLDERS, ScanPool& POOL, const BglReader& READ)
{
    for (const fs::path& folder : FOLDERS) {
        if (folder.empty()) {
            continue;
        }
        if (!fs::exists(folder)) {
            gf_setStatus(gf_utf16ToUtf8(folder) + " does not exist, skipped!", true);
            continue;
        }
        if (!fs::is_directory(folder)) {
            gf_setStatus(gf_utf16ToUtf8(folder) + " is not a folder name, skipped!", true);
            continue;
        }
        // Told by the folder's own name: the folders above it may be named anything.
        const fs::path name = folder.has_filename() ? folder.filename() : folder.parent_path().filename();
        if (gf_utf16ToUtf8(name) == kStreamedPackagesFolder) {
            lf_scanStreamedAirports(folder);
        } else {
            lf_scanBglFolders(folder, POOL, READ);
        }
    }
}

bool lf_runAirportScan(const std::vector<fs::path>& FOLDERS, const BglReader& READ)
{
    gf_logLine("The scan will search {} folder{}", FOLDERS.size(), gf_plural(FOLDERS.size()));
    gf_flushLog();
    std::error_code ec;
    fs::remove(g_scanLogPath, ec);
    if (ec) {
        gf_logLine("problems with removing previous files (maybe still open?): " + ec.message());
        gf_flushLog();
    }
    g_tbloZipped = 0;
    g_bglNotReadInTime = 0;
    {
        std::lock_guard lock(g_scanLogMutex);
        if (g_scanLogLines.capacity() < kScanLogReserve) {
            g_scanLogLines.reserve(kScanLogReserve);
        }
    }
    // The scan's workers, started once for all its folders and for the tblo copy and zip.
    ScanPool pool;
    lf_scanFolders(FOLDERS, pool, READ);
    if (gf_writeScanLogFile()) {
        gf_logLine("{} written", gf_utf16ToUtf8(g_scanLogPath));
    } else {
        gf_logWarning("could not write {}", gf_utf16ToUtf8(g_scanLogPath));
    }
    gf_flushLog();
    gf_clearStatus();
    {
        std::lock_guard lock(g_scanLogMutex);
        g_scanLogLines.clear();
    }
    lf_copyThirdpartyToTblo(pool);
    lf_zipTblo(pool);
    const std::size_t thirdparty = gf_countFolderEntries(lf_scanOutputFolder(g_myThirdpartyPath));
    gf_windowSetThirdpartyCount(static_cast<std::uint32_t>(thirdparty));
    gf_repaintWindow();
    return thirdparty != 0;
}

void lf_scanAndReport(const std::vector<fs::path>& FOLDERS, const BglReader& READ)
{
    ScanOutputs outputs;
    const bool found = lf_runAirportScan(FOLDERS, READ);
    if (gf_stopRequested()) {
        // A scan cut short found only part of the airports: the next start scans again.
        gf_logLine("The airport scan was stopped before its end; it runs again at the next start");
        return;
    }
    outputs.commit();
    if (!found) {
        gf_setStatus("Warning: Scan has not found any add-on airports", true);
    }
    if (const std::size_t unread = g_bglNotReadInTime.load(); unread > 0) {
        gf_logWarning("{} BGL file{} or folder{} could not be read in time (see {}); the airports will be scanned "
                      "again at the next start",
                      unread, gf_plural(unread), gf_plural(unread), gf_utf16ToUtf8(g_scanLogPath));
        gf_repaintWindow();
        return;
    }
    SCAN_AIRPORTS.set(false);
    gf_saveBoolParameter(SCAN_AIRPORTS);
    gf_checkControl(SCAN_AIRPORTS.name(), false);
    gf_repaintWindow();
}

void gf_scanAirports()
{
    gf_setStatus("Scanning for airports ...");
    gf_logLine("\n++++++++++++++++++++++++ airports scan {} starts +++++++++++++++++++++++++++++", "automatic ");
    gf_flushLog();
    try {
        // Reader tasks of an earlier scan that outlived it must not write into this one; those
        // given up after their time-out write into their own closed walk only.
        gf_waitForBglTasks(kScanWaitLimit, false);
        lf_endScan();
        lf_prepareTblo();
        lf_scanAndReport(lf_scanFolderList());
        if (g_tbloZipped == 0) {
            fs::remove_all(g_tbloPath);
        }
        gf_repaintWindow();
    } catch (...) {
        lf_endScan();
        throw;
    }
    lf_endScan();
    gf_logLine("-------------------------- airports scan ends    ----------------------------\n");
    gf_flushLog();
}

void gf_resetAirportScanForTests()
{
    gf_waitForBglTasks(kScanWaitLimit);
    lf_endScan();
    g_tbloZipped = 0;
}

} // namespace qmt
