// The whole scan: package detection, folder walk on scan workers, LiveriesScanned.xml and the
// report files.
#include <atomic>
#include <set>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include <gmock/gmock.h>

#include "FaultyDisk.h"
#include "StalledReads.h"
#include "LiveryScanSupport.h"
#include "core/Parameters.h"
#include "core/UserError.h"

namespace qmt::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

const std::string kAigCfg = "[General]\nicao_type_designator=A320\n"
                            "[fltsim.0]\ntitle=AIG A320 KLM\nicao_airline=KLM\natc_id=PH-AAA\n"
                            "[fltsim.1]\ntitle=AIG A320 Fran\xC3\xA7" "aise\nicao_airline=AFR\natc_parking_types=CARGO\n"
                            "[fltsim.2]\ntitle=AIG A320 Bad\nicao_airline=QQQ\n"
                            "[fltsim.3]\nicao_airline=KLM\n";

class LiveryScanFlowTest : public LiveryScanTest {
protected:
    // Four package styles, a user package, excluded entries and an over-deep path, below a
    // Community folder whose own path holds a skip word.
    void buildTree()
    {
        const auto air = std::filesystem::path("SimObjects") / "Airplanes";
        writeCfg(m_community / "aig-aitraffic-oci-beta" / air / "AIG_A320" / "aircraft.cfg", kAigCfg);
        writeCfg(m_community / "aig-aitraffic-oci-beta" / air / "AIG_B738" / "Aircraft.CFG",
                 "[General]\nicao_type_designator=B38W\n[fltsim.0]\ntitle=AIG B738 KLM\nicao_airline=KLM\n",
                 Encoding::utf16Crlf);
        writeCfg(m_community / "aig-aitraffic-oci-beta" / air / "airport-vehicles" / "aircraft.cfg",
                 "[fltsim.0]\ntitle=never\nicao_airline=KLM\nicao_type_designator=A320\n");
        writeCfg(m_community / "aig-aitraffic-oci-beta" / air / "AIG_E190" / "aircraft.cfg.bak", "[fltsim.0]\ntitle=bak\n");
        writeCfg(m_community / "fsltl-traffic-base" / air / "FSLTL_A20N" / "aircraft.cfg",
                 "[VERSION]\n[General]\nbase_container=\"..\\Asobo_A320_NEO\"\n[fltsim.0]\ntitle=FSLTL A20N DLH \xC3\xA9\n"
                 "icao_airline=DLH\n[fltsim.1]\ntitle=AIG A320 KLM\nicao_airline=KLM\n",
                 Encoding::windows1252);
        writeCfg(m_community / "justflight-aircraft-traffic-fleet" / air / "JF_B737" / "aircraft.cfg",
                 "[General]\nicao_type_designator=B737\n[fltsim.10001]\ntitle=JF 737\n", Encoding::utf8Bom);
        writeCfg(m_community / "justflight-aircraft-traffic-fleet" / air / "JF_X" / "aircraft.cfg", "[General]\nx=1\n");
        const auto ivao = m_community / "IVAO_MTL" / air / "IVAO_B738";
        writeCfg(ivao / "aircraft.cfg", "[fltsim.0]\ntitle=B738BAW\ntexture=BAW\n[fltsim.1]\ntitle=B738XXX\ntexture=BAW\n");
        std::filesystem::create_directories(ivao / "texture.BAW");
        writeCfg(m_community / "aig-aitraffic-oci_CVT_" / air / "A" / "aircraft.cfg",
                 "[General]\nicao_type_designator=A320\n[fltsim.0]\ntitle=converted\nicao_airline=KLM\n");
        std::filesystem::path deep = m_community / "user-aitraffic" / air;
        writeCfg(deep / "USR_C172" / "aircraft.cfg",
                 "[General]\nicao_type_designator=C172\n[fltsim.0]\ntitle=User Cessna N12AB\n");
        while (deep.string().size() < 260)
            deep /= "deeper_folder";
        writeCfg(deep / "aircraft.cfg", "[General]\nicao_type_designator=A320\n[fltsim.0]\ntitle=deep\nicao_airline=KLM\n");
        MSFS_INSTALL_PATH.set(m_community.parent_path().string());
        SIM_CHOICE.set(2020);
    }

    std::string report(const char* FOLDER, const char* NAME) const
    {
        return readFile(g_outputPath / FOLDER / NAME);
    }
};

TEST_F(LiveryScanFlowTest, TreeOfEveryPackageStyleGivesTheExpectedFileAndReports)
{
    buildTree();
    LIG_PRIORITIZE.set(false);
    writeFile(g_errorsPath / "Fixes.txt", "left from an earlier scan\n");
    writeFile(g_outputPath / "LiveriesScanned.xml", "old");
    gf_scanLiveries();

    EXPECT_EQ(scannedRecords(),
              (std::vector<std::string>{
                  "    <l a=\"AFR\" m=\"A320\" c=\"true\" t=\"AIG A320 Fran\xC3\xA7" "aise\" />",
                  "    <l a=\"BAW\" m=\"B738\" t=\"B738BAW\" />",
                  "    <l a=\"DLH\" m=\"A20N\" t=\"FSLTL A20N DLH \xC3\xA9\" />",
                  "    <l a=\"KLM\" m=\"A320\" t=\"AIG A320 KLM\" r=\"PH-AAA\" />",
                  "    <l a=\"KLM\" m=\"B738\" t=\"AIG B738 KLM\" />",
                  "    <l a=\"PVT\" m=\"A320\" t=\"AIG A320 Bad\" />",
                  "    <l a=\"PVT\" m=\"C172\" t=\"User Cessna N12AB\" r=\"N12AB\" />"}));
    const std::string cfgDir = (m_community / "aig-aitraffic-oci-beta" / "SimObjects" / "Airplanes").string();
    const std::string a320 = cfgDir + "/AIG_A320/aircraft.cfg";
    const std::string community = m_community.string();
    EXPECT_EQ(report("errors", "InvalidAirlineCodes.txt"),
              "QQQ          in " + a320 + " [fltsim.2]\nXXX          in " + community +
                  "/IVAO_MTL/SimObjects/Airplanes/IVAO_B738/aircraft.cfg [fltsim.1]\n");
    EXPECT_EQ(report("errors", "Fixes.txt"),
              "Model fix: B38W found in " + cfgDir + "/AIG_B738/Aircraft.CFG changed into B738\n");
    EXPECT_EQ(report("errors", "InvalidAircraftCfgFiles.txt"),
              community + "/justflight-aircraft-traffic-fleet/SimObjects/Airplanes/JF_B737/aircraft.cfg contains a "
                          "[fltsim.x] section with a number < 0 or > 10000\n" +
                  "Line icao_type_designator= is missing in [General] section of " + community +
                  "/justflight-aircraft-traffic-fleet/SimObjects/Airplanes/JF_X/aircraft.cfg\n");
    EXPECT_EQ(report("info", "AircraftCfgWithNoFltsimSection.txt"),
              community + "/justflight-aircraft-traffic-fleet/SimObjects/Airplanes/JF_X/aircraft.cfg\n");
    const std::string incomplete = report("errors", "IncompleFltsimSections.txt");
    EXPECT_NE(incomplete.find(cfgDir + "/AIG_A320 [fltsim.3] misses title\n"), std::string::npos);
    EXPECT_NE(incomplete.find("[fltsim.1] title 'AIG A320 KLM' already exists\n"), std::string::npos) << incomplete;
    EXPECT_EQ(countLog("Automatic AIG scan found folder: '" + community + "/aig-aitraffic-oci-beta'"), 1);
    EXPECT_EQ(countLog("liveries scan automatic starts"), 1);
    EXPECT_EQ(countLog("7 in total"), 1);
    EXPECT_EQ(countLog("liveries scan ends"), 1);
    EXPECT_FALSE(SCAN_LIVERIES.value());
    EXPECT_TRUE(gf_controlState(AI_PACKAGE_SELECTOR.name()).enabled);
}

TEST_F(LiveryScanFlowTest, EveryEncodingAndLineEndGivesByteIdenticalRecords)
{
    LIG_AUTOMATIC.set(false);
    // Multi-livery files are long: their first accented letter may come after many kilobytes.
    std::string late;
    while (late.size() < 6000)
        late += "; a comment line of the kind real files carry before their sections\n";
    std::vector<std::vector<std::string>> results;
    for (const std::string& text : {kAigCfg, late + kAigCfg}) {
        for (const Encoding e :
             {Encoding::utf8, Encoding::utf8Bom, Encoding::utf16Crlf, Encoding::windows1252, Encoding::windows1252Bom,
              Encoding::crOnly}) {
            const auto folder = m_work / ("enc" + std::to_string(results.size()));
            writeCfg(folder / "aircraft.cfg", text, e);
            LFOLDERS[0].set(folder.string());
            gf_scanLiveries();
            results.push_back(scannedRecords());
        }
    }
    ASSERT_EQ(results.front().size(), 3u);
    for (std::size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i], results.front()) << i;
}

TEST_F(LiveryScanFlowTest, PackageChoicesAndManualFoldersGiveFoldersAndRanks)
{
    buildTree();
    std::vector<std::filesystem::path> folders;
    lf_autoDetectAIPackages(m_community, folders);
    ASSERT_EQ(folders.size(), 5u);
    EXPECT_EQ(folders[0].filename(), "aig-aitraffic-oci-beta");
    EXPECT_EQ(folders[3].filename(), "IVAO_MTL");
    EXPECT_EQ(folders[4].filename(), "user-aitraffic");
    folders.clear();
    AI_PACKAGE_SELECTOR.set("MTL");
    lf_autoDetectAIPackages(m_community, folders);
    EXPECT_EQ(folders, (std::vector<std::filesystem::path>{m_community / "IVAO_MTL", m_community / "user-aitraffic"}));
    // A text that is no choice is never stored: the selector falls back to its default order.
    EXPECT_FALSE(AI_PACKAGE_SELECTOR.set("AIG; MTL"));
    folders.clear();
    lf_autoDetectAIPackages(m_community, folders);
    EXPECT_EQ(folders.size(), 5u);
    // Every order of every subset of the four packages, as the selector offers them.
    const std::vector<std::string> orders = {
        "AIG, FSLTL, JF, MTL", "AIG, FSLTL, MTL, JF", "AIG, JF, FSLTL, MTL", "AIG, JF, MTL, FSLTL",
        "AIG, MTL, FSLTL, JF", "AIG, MTL, JF, FSLTL", "FSLTL, AIG, JF, MTL", "FSLTL, AIG, MTL, JF",
        "FSLTL, JF, AIG, MTL", "FSLTL, JF, MTL, AIG", "FSLTL, MTL, AIG, JF", "FSLTL, MTL, JF, AIG",
        "JF, AIG, FSLTL, MTL", "JF, AIG, MTL, FSLTL", "JF, FSLTL, AIG, MTL", "JF, FSLTL, MTL, AIG",
        "JF, MTL, AIG, FSLTL", "JF, MTL, FSLTL, AIG", "MTL, AIG, FSLTL, JF", "MTL, AIG, JF, FSLTL",
        "MTL, FSLTL, AIG, JF", "MTL, FSLTL, JF, AIG", "MTL, JF, AIG, FSLTL", "MTL, JF, FSLTL, AIG",
        "AIG, FSLTL, JF", "AIG, JF, FSLTL", "FSLTL, AIG, JF", "FSLTL, JF, AIG", "JF, AIG, FSLTL",
        "JF, FSLTL, AIG", "AIG, FSLTL, MTL", "AIG, MTL, FSLTL", "FSLTL, AIG, MTL", "FSLTL, MTL, AIG",
        "MTL, AIG, FSLTL", "MTL, FSLTL, AIG", "AIG, JF, MTL", "AIG, MTL, JF", "JF, AIG, MTL", "JF, MTL, AIG",
        "MTL, AIG, JF", "MTL, JF, AIG", "FSLTL, JF, MTL", "FSLTL, MTL, JF", "JF, FSLTL, MTL", "JF, MTL, FSLTL",
        "MTL, FSLTL, JF", "MTL, JF, FSLTL", "AIG, FSLTL", "FSLTL, AIG", "AIG, JF", "JF, AIG", "AIG, MTL",
        "MTL, AIG", "FSLTL, JF", "JF, FSLTL", "FSLTL, MTL", "MTL, FSLTL", "JF, MTL", "MTL, JF", "AIG", "FSLTL",
        "JF", "MTL"};
    EXPECT_EQ(AI_PACKAGE_SELECTOR.choices(), orders);

    // Manual: lfolder3 alone gets rank 1; with prioritising, a kind is kept only from the
    // best-ranked folder that has it.
    LIG_AUTOMATIC.set(false);
    writeCfg(m_work / "second" / "aircraft.cfg", "[General]\nicao_type_designator=A320\n"
                                                 "[fltsim.0]\ntitle=Other KLM A320\nicao_airline=KLM\n"
                                                 "[fltsim.1]\ntitle=Other DLH A320\nicao_airline=DLH\n");
    LFOLDERS[3].set((m_work / "second").string());
    folders.clear();
    lf_checkLfolders(folders);
    ASSERT_TRUE(lf_scanLiveryFolders(folders));
    EXPECT_EQ(scannedRecords().size(), 2u);
    LFOLDERS[1].set((m_community / "aig-aitraffic-oci-beta").string());
    folders.clear();
    lf_checkLfolders(folders);
    ASSERT_TRUE(lf_scanLiveryFolders(folders));
    const std::vector<std::string> records = scannedRecords();
    EXPECT_EQ(records.size(), 5u); // AFR, PVT, KLM A320 and B738 of rank 1, DLH of rank 2
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const std::string& R) { return R.find("Other KLM") != std::string::npos; }),
              0);
    EXPECT_EQ(readFile(g_infoPath / "DroppedByPriority.txt"),
              "'Other KLM A320' [KLM A320] in " + (m_work / "second" / "aircraft.cfg").string() + " left out: " +
                  (m_community / "aig-aitraffic-oci-beta").string() + " has liveries of this kind\n");
    EXPECT_EQ(countLog("    1 livery of a lower-ranked folder left out, see "), 1);
}

TEST_F(LiveryScanFlowTest, LinkedPackagesAndLiveryFoldersAreScannedOnceAndLinksThatLeadNowhereAreNamed)
{
    namespace fs = std::filesystem;
    const auto air = fs::path("SimObjects") / "Airplanes";
    const auto cfg = [](const std::string& TITLE) {
        return "[General]\nicao_type_designator=A320\n[fltsim.0]\ntitle=" + TITLE + "\n";
    };
    writeCfg(m_work / "addons" / "linked-package" / air / "A" / "aircraft.cfg", cfg("Linked KLM\nicao_airline=KLM"));
    writeCfg(m_community / "own-package" / air / "B" / "aircraft.cfg", cfg("Own DLH\nicao_airline=DLH"));
    writeCfg(m_work / "shared" / "C" / "aircraft.cfg", cfg("Shared AFR\nicao_airline=AFR"));
    fs::create_directory_symlink(m_work / "addons" / "linked-package", m_community / "linked-package");
    fs::create_directory_symlink(m_work / "addons" / "linked-package", m_community / "same-again");
    fs::create_directory_symlink(m_community, m_community / "loop");
    fs::create_directory_symlink(m_community / "own-package", m_community / "inside");
    // Below the package level: a livery folder kept elsewhere, a loop inside it, a link around a
    // package followed already, a shared texture folder and a link that leads nowhere.
    const auto own = m_community / "own-package" / air;
    fs::create_directory_symlink(m_work / "shared" / "C", own / "C");
    fs::create_directory_symlink(m_work / "shared", m_work / "shared" / "C" / "back");
    fs::create_directory_symlink(m_work / "addons", m_community / "own-package" / "deeper");
    fs::create_directory_symlink(m_work / "shared", own / "B" / "texture.shared");
    fs::create_directory_symlink(m_work / "nowhere", own / "gone");
    LIG_AUTOMATIC.set(false);
    LFOLDERS[0].set(m_community.string());
    gf_scanLiveries();
    EXPECT_EQ(scannedRecords(), (std::vector<std::string>{"    <l a=\"AFR\" m=\"A320\" t=\"Shared AFR\" />",
                                                          "    <l a=\"DLH\" m=\"A320\" t=\"Own DLH\" />",
                                                          "    <l a=\"KLM\" m=\"A320\" t=\"Linked KLM\" />"}));
    EXPECT_EQ(countLog("which is scanned already, skipped"), 5);
    EXPECT_EQ(countLog("already exists"), 0);
    EXPECT_EQ(readFile(g_errorsPath / "FoldersNotRead.txt"),
              "link " + (own / "gone").string() + " cannot be followed, skipped: No such file or directory\n");
    EXPECT_EQ(countLog("    1 folder not read, see "), 1);
}

TEST_F(LiveryScanFlowTest, PackageThatIsALinkLoopIsNamedAndTheOthersAreScanned)
{
    const auto air = std::filesystem::path("SimObjects") / "Airplanes";
    writeCfg(m_community / "aig-aitraffic-oci-beta" / air / "AIG_A320" / "aircraft.cfg", kAigCfg);
    std::filesystem::create_directories(m_community);
    std::filesystem::create_directory_symlink(m_community / "fsltl-traffic-base", m_community / "fsltl-traffic-base");
    MSFS_INSTALL_PATH.set(m_community.parent_path().string());
    SIM_CHOICE.set(2020);
    gf_scanLiveries();
    EXPECT_EQ(scannedRecords().size(), 3u);
    const std::string loop = (m_community / "fsltl-traffic-base").string();
    EXPECT_EQ(readFile(g_errorsPath / "FoldersNotRead.txt"),
              loop + " cannot be read, skipped: Too many levels of symbolic links\n");
    EXPECT_EQ(countLog("==> " + loop + " cannot be read, skipped"), 1);
    EXPECT_FALSE(SCAN_LIVERIES.value());
}

TEST_F(LiveryScanFlowTest, ReaderGivenUpReadsItsOwnScansListsWhileTheNextScanRebuildsThem)
{
    // A reader given up after its time-out goes on after the next scan has cleared and rebuilt
    // the don't-use titles. It reads the lists its own scan started with; ThreadSanitizer sees
    // any read of the shared ones, which nothing orders after the next scan's writes (the
    // reader is let go by a relaxed flag, which orders nothing).
    writeFile(g_myRegcodesPath / "dont.txt", "Do not use this one\n");
    const std::string cfg = "[General]\nicao_type_designator=A320\n[fltsim.0]\ntitle=Do not use this one\n"
                            "icao_airline=KLM\n[fltsim.1]\ntitle=Slow KLM\nicao_airline=KLM\n";
    writeCfg(m_work / "slow" / "aircraft.cfg", cfg);
    writeCfg(m_work / "fast" / "aircraft.cfg", cfg.substr(0, cfg.find("Slow")) + "Fast KLM\nicao_airline=KLM\n");
    std::atomic<bool> go{false};
    std::promise<std::size_t> found;
    LiveryWalkSeams slow;
    slow.waitLimit = 50ms;
    slow.ordinaryReader = [&go, &found](int32_t RANK, const std::filesystem::path& PATH, const LiveryScanSnapshot& SCAN,
                                        std::string* READ) {
        while (!go.load(std::memory_order_relaxed))
            std::this_thread::yield();
        UnclaimedLiveries liveries = lf_readLiveriesinFile(RANK, PATH, SCAN, READ);
        found.set_value(liveries.liveries.size());
        return liveries;
    };
    EXPECT_FALSE(lf_scanLiveryFolders({m_work / "slow"}, slow));
    LiveryWalkSeams next;
    next.waitLimit = 50ms;
    EXPECT_TRUE(lf_scanLiveryFolders({m_work / "fast"}, next));
    EXPECT_EQ(scannedRecords(), std::vector<std::string>{"    <l a=\"KLM\" m=\"A320\" t=\"Fast KLM\" />"});
    go.store(true, std::memory_order_relaxed);
    EXPECT_EQ(found.get_future().get(), 1u); // its own scan's don't-use title is left out
}

TEST_F(LiveryScanFlowTest, UserErrorsCarryTheirExactTexts)
{
    auto expectError = [](int CODE, const std::string& TEXT) {
        try {
            gf_scanLiveries();
            ADD_FAILURE() << "no error " << CODE;
        } catch (const UserErrorException& e) {
            EXPECT_EQ(e.code(), CODE);
            EXPECT_EQ(std::string(e.what()), std::to_string(CODE) + ": " + TEXT);
        }
    };
    expectError(43, "Automatic scan has not found any AI packages, choose a different selection (or go to Manual "
                    "mode, see Manual 5.2)");
    EXPECT_TRUE(gf_controlState(AI_PACKAGE_SELECTOR.name()).enabled);
    writeCfg(m_community / "fsltl-traffic-base" / "SimObjects" / "Airplanes" / "X" / "aircraft.cfg",
             "[fltsim.0]\ntitle=No type\n");
    MSFS_INSTALL_PATH.set(m_community.parent_path().string());
    expectError(143, "Automatic scan has not found any liveries, choose a different selection, or switch off "
                     "automatic and set lfolder parameter(-s)");
    // The user sees why: the reports are written all the same.
    EXPECT_NE(readFile(g_errorsPath / "InvalidAircraftCfgFiles.txt").find("Line icao_type_designator= is missing"),
              std::string::npos);
    EXPECT_EQ(countLog("    1 invalid aircraft.cfg files, see "), 1);
    LIG_AUTOMATIC.set(false);
    expectError(48, "Exit Quillon first!   Then set one or more lfolder parameters to your liveries, see Manual 5.2");
    LFOLDERS[2].set((m_work / "missing").string());
    expectError(243, "the path pointed to by parameter 'lfolder2' does not exist, see Log.txt!");
    EXPECT_EQ(countLog("==> lfolder2: '" + (m_work / "missing").string() + "' does not exist"), 1);
    LFOLDERS[2].set(m_community.string());
    expectError(53, "no liveries found");
    EXPECT_TRUE(SCAN_LIVERIES.value());
}

TEST_F(LiveryScanFlowTest, ScanStoppedInTheSecondFolderAndRunAgainEqualsAFreshScan)
{
    buildTree();
    gf_scanLiveries();
    const std::vector<std::string> fresh = scannedRecords();
    const std::string freshIncomplete = report("errors", "IncompleFltsimSections.txt");
    gf_resetLiveryScanForTests();

    SCAN_LIVERIES.set(true);
    LiveryWalkSeams stopping;
    stopping.ordinaryReader = [](int32_t RANK, const std::filesystem::path& PATH, const LiveryScanSnapshot& SCAN,
                                 std::string* READ) {
        if (RANK == 2)
            g_stopSession = true;
        return lf_readLiveriesinFile(RANK, PATH, SCAN, READ);
    };
    std::vector<std::filesystem::path> folders;
    lf_autoDetectAIPackages(m_community, folders);
    EXPECT_TRUE(lf_scanLiveryFolders(folders, stopping));
    EXPECT_FALSE(std::filesystem::exists(gf_liveriesScannedPath()));
    ASSERT_TRUE(gf_waitForBglTasks(5s));
    g_stopSession = false;

    gf_scanLiveries();
    EXPECT_EQ(scannedRecords(), fresh);
    EXPECT_EQ(report("errors", "IncompleFltsimSections.txt"), freshIncomplete);
    EXPECT_EQ(report("errors", "Fixes.txt").size(), report("errors", "Fixes.txt").find('\n') + 1);
}

TEST_F(LiveryScanFlowTest, StalledReadsCostTheirTimeOutAndEveryOtherFileIsKept)
{
    // Both workers stuck on files of a drive that stopped answering: each stalled file is given
    // up at its own time-out and named, a thread takes its place, every other file is read, and
    // the scan counts them as unread so that the next start scans again.
    for (int i = 0; i < 8; ++i)
        writeCfg(m_work / "walk" / ("d" + std::to_string(i)) / "aircraft.cfg", "x");
    std::vector<std::filesystem::path> order;
    for (const auto& entry : std::filesystem::directory_iterator(m_work / "walk"))
        order.push_back(entry.path() / "aircraft.cfg");
    const std::set<std::filesystem::path> stalled{order[0], order[1], order[5]};
    StalledReads reads(10s);
    LiveryWalkSeams seams;
    seams.waitLimit = 10s;
    seams.ordinaryReader = [&](int32_t RANK, const std::filesystem::path& PATH, const LiveryScanSnapshot&,
                               std::string*) {
        if (stalled.count(PATH) != 0)
            reads.stall();
        return UnclaimedLiveries{{ScannedLivery{PATH.string(), "", {1, 0, 1, 0, 0}, static_cast<int16_t>(RANK)}}};
    };
    g_maxBglTasks = 2;
    LiveryScanRun run(lf_takeScanSnapshot());
    lf_searchLiveriesInFolder(1, m_work / "walk", run, seams);
    std::set<std::string> titles;
    for (const ScannedLivery& livery : g_scannedLiveries)
        titles.insert(livery.title);
    std::set<std::string> expected;
    for (const auto& file : order)
        if (stalled.count(file) == 0)
            expected.insert(file.string());
    EXPECT_EQ(titles, expected);
    EXPECT_EQ(run.unread, 3u);
    EXPECT_LE(reads.advances(), 3);
    for (const auto& file : stalled)
        EXPECT_EQ(countLog("Future wait timed out after 10 seconds, file: " + file.string()), 1) << file;
    reads.release();
    EXPECT_TRUE(gf_waitForBglTasks(5s));
    EXPECT_EQ(g_runningBglTasks.load(), 0);
}

TEST_F(LiveryScanFlowTest, StopDuringTheScanIsACleanStopThatKeepsTheScanFlag)
{
    buildTree();
    SCAN_LIVERIES.set(true);
    g_stopSession = true;
    EXPECT_NO_THROW(gf_scanLiveries());
    g_stopSession = false;
    EXPECT_TRUE(SCAN_LIVERIES.value());
    EXPECT_EQ(countLog("The livery scan was stopped before its end; it runs again at the next start"), 1);
}

TEST_F(LiveryScanFlowTest, EightWorkersTakeEachTitleOnceAndThrowingReadersEndCounted)
{
    g_maxBglTasks = 8;
    for (int i = 0; i < 40; ++i) {
        std::string text = "[General]\nicao_type_designator=A320\n";
        for (int k = 0; k < 5; ++k)
            text += "[fltsim." + std::to_string(k) + "]\ntitle=T" + std::to_string((i + k) % 12) + "\nicao_airline=KLM\n";
        writeCfg(m_work / "many" / std::to_string(i) / "aircraft.cfg", text);
    }
    LiveryWalkSeams seams;
    seams.ordinaryReader = [](int32_t RANK, const std::filesystem::path& PATH, const LiveryScanSnapshot& SCAN,
                              std::string* READ) {
        if (PATH.parent_path().filename() == "7" || PATH.parent_path().filename() == "31")
            throw std::runtime_error("broken reader");
        return lf_readLiveriesinFile(RANK, PATH, SCAN, READ);
    };
    LiveryScanRun run(lf_takeScanSnapshot());
    lf_searchLiveriesInFolder(1, m_work / "many", run, seams);
    std::set<std::string> titles;
    for (const ScannedLivery& L : g_scannedLiveries)
        EXPECT_TRUE(titles.insert(L.title).second) << L.title;
    EXPECT_EQ(titles.size(), 12u);
    EXPECT_EQ(countLog("broken reader"), 2);
    EXPECT_TRUE(gf_waitForBglTasks(5s));
    EXPECT_EQ(g_runningBglTasks.load(), 0);
}

// Three files share a title; their readers end in the reverse of walk order. The title goes to
// the file the walk meets first, as when one worker reads them one after the other, and the
// other two are reported.
TEST_F(LiveryScanFlowTest, SharedTitleGoesToTheFirstFileOfTheWalkWhicheverReaderEndsFirst)
{
    const auto root = m_work / "shared";
    for (const char* name : {"a", "b", "c"})
        std::filesystem::create_directories(root / name);
    std::vector<std::filesystem::path> order; // the walk's order: the listing's
    for (const auto& entry : std::filesystem::directory_iterator(root))
        order.push_back(entry.path() / "aircraft.cfg");
    const std::string airlines[] = {"KLM", "DLH", "AFR"};
    for (std::size_t i = 0; i < order.size(); ++i)
        writeCfg(order[i], "[General]\nicao_type_designator=A320\n[fltsim.0]\ntitle=Shared A320\nicao_airline=" +
                               airlines[i] + "\n[fltsim.1]\ntitle=Own " + airlines[i] + "\nicao_airline=" + airlines[i] + "\n");
    const auto scan = [&](unsigned WORKERS, const LiveryWalkSeams& SEAMS) {
        g_maxBglTasks = WORKERS;
        EXPECT_TRUE(lf_scanLiveryFolders({root}, SEAMS));
        return std::pair(scannedRecords(), readFile(g_errorsPath / "IncompleFltsimSections.txt"));
    };
    const auto alone = scan(1, {});

    // Each reader begins once the reader of the next file has ended; the scan clock stands, so
    // no reader times out while it waits.
    std::vector<std::promise<void>> ended(order.size());
    std::vector<std::shared_future<void>> next;
    for (std::promise<void>& p : ended)
        next.push_back(p.get_future().share());
    LiveryWalkSeams reversed;
    reversed.ordinaryReader = [&](int32_t RANK, const std::filesystem::path& PATH, const LiveryScanSnapshot& SCAN,
                                  std::string* READ) {
        const auto i = static_cast<std::size_t>(std::find(order.begin(), order.end(), PATH) - order.begin());
        struct Ends {
            std::promise<void>* promise;
            ~Ends()
            {
                if (promise != nullptr)
                    promise->set_value();
            }
        } ends{i < ended.size() ? &ended[i] : nullptr};
        if (i + 1 < next.size())
            next[i + 1].wait();
        return lf_readLiveriesinFile(RANK, PATH, SCAN, READ);
    };
    struct StandingClock {
        StandingClock() { gf_setScanClockForTests(ScanClock::time_point{}); }
        ~StandingClock() { gf_resetScanClockForTests(); }
    };
    const auto parallel = [&] {
        const StandingClock clock;
        return scan(static_cast<unsigned>(order.size()), reversed);
    }();

    EXPECT_EQ(parallel, alone);
    EXPECT_THAT(parallel.first, ::testing::Contains("    <l a=\"KLM\" m=\"A320\" t=\"Shared A320\" />"));
    std::vector<std::string> taken;
    for (std::size_t i = 1; i < order.size(); ++i)
        taken.push_back(order[i].parent_path().string() + " [fltsim.0] title 'Shared A320' already exists\n");
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(parallel.second, taken[0] + taken[1]);
}

// The listing reads each aircraft.cfg it meets and hands the text to the file's reader; a file
// it cannot take as text (no text, reached through a link) is read by its reader, which names
// what went wrong as a reader of the path does.
TEST_F(LiveryScanFlowTest, FilesReadWhileListedGiveWhatTheirReadersGiveAndTheOthersAreReadByPath)
{
    const auto root = m_work / "mixed";
    const std::string general = "[General]\nicao_type_designator=A320\n";
    writeCfg(root / "plain" / "aircraft.cfg", general + "[fltsim.0]\ntitle=PLAIN\nicao_airline=KLM\n");
    writeCfg(root / "wide" / "AIRCRAFT.cfg", general + "[fltsim.0]\ntitle=WIDE \xC3\xA9\nicao_airline=KLM\n",
             Encoding::utf16Crlf);
    writeFile(root / "binary" / "aircraft.cfg", std::string("\0\1\2[fltsim.0]\ntitle=BIN\n", 24));
    writeCfg(m_work / "target.cfg", general + "[fltsim.0]\ntitle=LINKED\nicao_airline=KLM\n");
    std::filesystem::create_directories(root / "linked");
    std::filesystem::create_symlink(m_work / "target.cfg", root / "linked" / "aircraft.cfg");
    std::mutex mutex;
    std::map<std::string, bool> handed; // folder -> whether the text came with the file
    LiveryWalkSeams seams;
    seams.ordinaryReader = [&](int32_t RANK, const std::filesystem::path& PATH, const LiveryScanSnapshot& SCAN,
                               std::string* READ) {
        {
            std::lock_guard lock(mutex);
            handed[PATH.parent_path().filename().string()] = READ != nullptr;
        }
        return lf_readLiveriesinFile(RANK, PATH, SCAN, READ);
    };
    for (unsigned workers : {1u, 2u}) {
        gf_resetLiveryScanForTests();
        clearLog();
        handed.clear();
        g_maxBglTasks = workers;
        LiveryScanRun run(lf_takeScanSnapshot());
        lf_searchLiveriesInFolder(1, root, run, seams);
        std::set<std::string> titles;
        for (const ScannedLivery& L : g_scannedLiveries)
            titles.insert(L.title);
        EXPECT_EQ(titles, (std::set<std::string>{"LINKED", "PLAIN", "WIDE \xC3\xA9"})) << workers;
        EXPECT_EQ(handed, (std::map<std::string, bool>{{"binary", false}, {"linked", false}, {"plain", true}, {"wide", true}}))
            << workers;
        EXPECT_EQ(g_invalidCfgFiles, std::list<std::string>{(root / "binary" / "aircraft.cfg").string() +
                                                            " is no text file: no text encoding detected"})
            << workers;
        EXPECT_EQ(countLog("! No text encoding detected for " + (root / "binary" / "aircraft.cfg").string()), 1);
    }
}

TEST_F(LiveryScanFlowTest, ReportsSummariseAndFailedWritesAreNotCalledDone)
{
    writeFile(g_errorsPath / "InvalidAirlineCodes.txt", "old\n");
    lf_removePreviousScanFiles();
    EXPECT_FALSE(std::filesystem::exists(g_errorsPath));
    lf_writeScanReport();
    EXPECT_EQ(countLog("No errors"), 1);

    lf_addInvalidAirline("QQQ", "/a/aircraft.cfg", "[fltsim.1]");
    lf_addIncompleteSection("same");
    lf_addIncompleteSection("same");
    lf_liveryScanLog("fix");
    writeFile(g_errorsPath, "a file where the folder should be");
    lf_writeScanReport();
    EXPECT_EQ(countLog("invalid airline code, see"), 0);
    EXPECT_GE(countLog("==> Error writing file"), 3);
    std::filesystem::remove(g_errorsPath);
    lf_writeScanReport();
    EXPECT_EQ(countLog("    1 invalid airline code, see "), 1);
    EXPECT_EQ(countLog("    2 incomplete [fltsim.x] sections, see "), 1);
    EXPECT_EQ(readFile(g_errorsPath / "IncompleFltsimSections.txt"), "same\n");
    lf_clearScanLists();
    EXPECT_TRUE(g_fixes.empty());

    g_scannedLiveries.push_back(ScannedLivery{"T", "", {1, 0, 1, 0, 0}, 1});
    std::filesystem::create_directories(gf_liveriesScannedPath());
    std::string failure;
    EXPECT_FALSE(lf_writeLiveriesScanned(failure));
    EXPECT_EQ(failure, "replacing LiveriesScanned.xml: Is a directory");
    EXPECT_EQ(countLog("1 liveries in"), 0);
}

// Whichever step of the scan's end a full disk or a kill stops, the next start finds the scanned
// liveries whole, or scans again: LiveriesScanned.xml is never cut, and SCAN_LIVERIES is cleared
// in parameters.xml only once the file is in place.
TEST_F(LiveryScanFlowTest, FullDiskOrKillAtAnyStepOfTheScansEndLosesNoLivery)
{
    buildTree();
    gf_scanLiveries();
    const std::vector<std::string> fresh = scannedRecords();
    ASSERT_EQ(fresh.size(), 7u);
    const auto flagCleared = [] {
        return readFile(g_parametersPath).find(R"(name="SCAN_LIVERIES" value="false")") != std::string::npos;
    };
    for (const FaultyDisk::Fault fault : {FaultyDisk::Fault::full, FaultyDisk::Fault::kill}) {
        bool failedScan = false;
        const int steps = gf_faultAtEachStep(
            fault,
            [] {
                gf_resetLiveryScanForTests();
                SCAN_LIVERIES.set(true);
                ASSERT_TRUE(gf_saveParameters(g_parametersPath));
            },
            [&failedScan] {
                try {
                    gf_scanLiveries();
                } catch (const UserErrorException& e) {
                    failedScan = true;
                    EXPECT_EQ(e.code(), 99);
                    EXPECT_THAT(e.what(), HasSubstr("LiveriesScanned.xml could not be saved (writing "
                                                    "LiveriesScanned.xml.tmp: No space left on device), the "
                                                    "liveries will be scanned again at the next start"));
                }
            },
            [&](int STEP) {
                const bool present = std::filesystem::exists(gf_liveriesScannedPath());
                if (present) {
                    EXPECT_EQ(scannedRecords(), fresh) << "step " << STEP;
                    EXPECT_TRUE(readFile(gf_liveriesScannedPath()).ends_with("</root>\n")) << "step " << STEP;
                }
                EXPECT_TRUE(present || !flagCleared()) << "step " << STEP;
            });
        EXPECT_GT(steps, 5);
        EXPECT_EQ(failedScan, fault == FaultyDisk::Fault::full);
    }
}

} // namespace
} // namespace qmt::test
