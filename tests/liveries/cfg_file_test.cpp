// The rules by which one aircraft.cfg (ordinary or IVAO) becomes liveries and report lines.
#include <algorithm>

#include "LiveryScanSupport.h"

namespace qmt::test {
namespace {

using CfgFileTest = LiveryScanTest;

const std::filesystem::path CFG = "/pkg/SimObjects/Airplanes/A320/aircraft.cfg";

LiveryList readSections(const std::string& TEXT, const std::string& MODEL = "A320", const LiveryScanSnapshot& SCAN = {})
{
    const std::vector<std::string> lines = splitLines(TEXT);
    return lf_processFltSimSections(3, views(lines), MODEL, CFG, CFG.parent_path(), SCAN);
}

bool fltsimNumbers(const std::string& TEXT)
{
    const std::vector<std::string> lines = splitLines(TEXT);
    return lf_fltsimNumbers(views(lines), CFG);
}

std::string modelCode(const std::filesystem::path& PATH, const std::string& TEXT)
{
    const std::vector<std::string> lines = splitLines(TEXT);
    return lf_cfgModelCode(PATH, views(lines));
}

std::string titleOf(const LiveryList& L)
{
    return L.empty() ? std::string("(none)") : L.front().title;
}

TEST_F(CfgFileTest, SectionRulesGiveTitleAirlineRegcodeAndKind)
{
    struct Case {
        const char* text;
        const char* model;
        const char* title;    // "(none)": no livery
        const char* airline;
        const char* regcode;
    };
    const Case cases[] = {
        {"[fltsim.0]\ntitle= \"KLM A320\" \nicao_airline=klm\natc_id=PH-AAA\n", "A320", "KLM A320", "KLM", "PH-AAA"},
        {"[fltsim.0]\ntitle=DLH X\nicao_airline=DLHC\natc_id=N123AB;comment\n", "A320", "DLH X", "DLH", "N123AB"},
        {"[fltsim.0]\ntitle=AAL X\nicao_airline=AALX\natc_id=D-ABCD,D-ABCE\n", "A320", "AAL X", "AAL", ""},
        {"[fltsim.0]\ntitle=Some-STUB\nicao_airline=KLM\natc_id=PH-AAB\n", "A320", "Some-STUB", "ZZZ", ""},
        {"[fltsim.0]\ntitle=Cessna N12AB white\n", "C172", "Cessna N12AB white", "PVT", "N12AB"},
        {"[fltsim.0]\ntitle=Cessna plain\n", "C172", "Cessna plain", "PVT", ""},
        {"[fltsim.0]\ntitle=Heavy plain\n", "B77W", "(none)", "", ""},
        {"[fltsim.0]\ntitle=Heavy reg\natc_id=XX-NONE\n", "B77W", "(none)", "", ""},
        {"[fltsim.0]\ntitle=A Fictional one\nicao_airline=KLM\n", "A320", "(none)", "", ""},
        {"[fltsim.0]\nicao_airline=KLM\ntitle=FenixA320 KLM\n", "A320", "(none)", "", ""},
        // The same airline written twice is no second key.
        {"[fltsim.0]\ntitle=KLM twice\nicao_airline=KLM\nicao_airline = \"klm\" ; again\n", "A320", "KLM twice", "KLM", ""},
        {"[fltsim.0]\ntitle=Foo RFO\nicao_airline=RFO\n", "A320", "(none)", "", ""},
        // A comment line holding a key is no second key.
        {"[fltsim.0]\ntitle=KLM C\nicao_airline=KLM\natc_id=PH-AAC\n//atc_id=PH-OLD\n// icao_airline=X\nx=1\n",
         "A320", "KLM C", "KLM", "PH-AAC"},
        {"[fltsim.0]\ntitle=KLM D\nicao_airline=KLM\natc_id=PH-AAD\natc_id=PH-AAE\n", "A320", "(none)", "", ""},
        // The registration record's kind wins over the file's airline and model.
        {"[fltsim.0]\ntitle=Rec\nicao_airline=DLH\natc_id=PHBXZ\n", "A320", "Rec", "KLM", "PHBXZ"},
    };
    for (const Case& c : cases) {
        const LiveryList result = readSections(c.text, c.model);
        ASSERT_EQ(titleOf(result), c.title) << c.text;
        if (result.empty())
            continue;
        EXPECT_EQ(gf_airlineCode(result.front().kind.airlineId), c.airline) << c.text;
        EXPECT_EQ(result.front().regcode, c.regcode) << c.text;
        EXPECT_EQ(result.front().folderRank, 3);
    }
    const ScannedLivery rec = readSections("[fltsim.0]\ntitle=Rec2\nicao_airline=DLH\natc_id=PH-BXZ\n").front();
    EXPECT_EQ(gf_airlineCode(rec.kind.operatorId), "KLC");
    EXPECT_EQ(gf_modelCode(rec.kind.modelId), "B738");
    EXPECT_EQ(rec.kind.cargo, 1);
    EXPECT_EQ(rec.kind.marker, 1);

    EXPECT_EQ(lines(g_incompleteSections),
              (std::vector<std::string>{
                  "/pkg/SimObjects/Airplanes/A320/aircraft.cfg [fltsim.0] icao_airline is missing, or it has invalid info ",
                  "/pkg/SimObjects/Airplanes/A320/aircraft.cfg [fltsim.0] icao_airline is missing, or it has invalid info ",
                  "/pkg/SimObjects/Airplanes/A320/aircraft.cfg [fltsim.0] icao_airline is missing, or it has invalid info ",
                  "'/pkg/SimObjects/Airplanes/A320' '[fltsim.0]' has no airline and no regcode info",
                  "/pkg/SimObjects/Airplanes/A320/aircraft.cfg [fltsim.0] icao_airline is missing, or it has invalid info ",
                  "'/pkg/SimObjects/Airplanes/A320' '[fltsim.0]' has no airline and regcode not in dbase",
                  "/pkg/SimObjects/Airplanes/A320/aircraft.cfg [fltsim.0] icao_airline is missing, or it has invalid info ",
                  "/pkg/SimObjects/Airplanes/A320, [fltsim.0], has more than one atc_id key"}));
}

TEST_F(CfgFileTest, RealPackageWritingKeepsCleanTitlesAndEveryDroppedSectionHasItsReason)
{
    g_dbaseRecords.push_back({"PH-NOM", gf_kindValue({gf_airlineId("KLM"), 0, 0, 0, 1})}); // no model
    LiveryScanSnapshot scan;
    scan.dontUseTitles = {"Do not use"};
    struct Case {
        std::string text;
        const char* title;  // "(none)": no livery
        const char* report; // the line (or its end) that says why there is none
    };
    const std::string folder = CFG.parent_path().string();
    const Case cases[] = {
        {"[FLTSIM.0]\nTitle = KLM E ; Variation name\nICAO_Airline = KLM ; ###\n; icao_airline = \"DLH\" (old)\n"
         "atc_id = PH-AAE ; tail number\n",
         "KLM E", ""},
        {"[fltsim.1]\ntitle = \"KLM F; the second\" ; Variation name\nicao_airline = \"KLM\" ;\n", "KLM F; the second", ""},
        {"[fltsim.2]\ntitle=KLM G\nicao_airline=KLM\nicao_airline=DLH\n", "(none)",
         " [fltsim.2] has more than one icao_airline key"},
        {"[fltsim.3]\ntitle=" + std::string(257, 'x') + "\nicao_airline=KLM\n", "(none)",
         " [fltsim.3] title is longer than 256 characters"},
        {"[fltsim.4]\ntitle=" + std::string(256, 'x') + "\nicao_airline=KLM\n", "", ""},
        {"[fltsim.5]\ntitle=No model\natc_id=PH-NOM\n", "(none)", " [fltsim.5] title 'No model' has no airline or no model code"},
        {"[fltsim.6]\ntitle=A Fictional one\nicao_airline=KLM\n", "(none)", " [fltsim.6] title 'A Fictional one' is a fictional livery"},
        {"[fltsim.7]\ntitle=Do not use\nicao_airline=KLM\n", "(none)", " [fltsim.7] title 'Do not use' is a don't-use title"},
        {"[fltsim.8]\ntitle=Foo RFO\nicao_airline=RFO\n", "(none)", " [fltsim.8] airline RFO is not used"},
    };
    for (const Case& c : cases) {
        const LiveryList result = readSections(c.text, "A320", scan);
        EXPECT_EQ(titleOf(result), std::string(c.title).empty() ? std::string(256, 'x') : c.title) << c.text;
        if (*c.report == '\0')
            continue;
        std::vector<std::string> reports = lines(g_incompleteSections);
        reports.insert(reports.end(), g_skippedSections.begin(), g_skippedSections.end());
        EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [&](const std::string& R) {
            return R.ends_with(c.report) && (R.starts_with(folder));
        })) << c.report;
    }
}

TEST_F(CfgFileTest, SectionsAndFileChecks)
{
    // Titles are taken once per scan; a [General] line ends a section; an invalid atc_id and
    // an unknown airline are reported and the section goes on.
    const LiveryList result = readSections("[General]\ntitle=Not a livery\n[fltsim.1]\ntitle=T1\nicao_airline=KLM\n"
                                           "[VIEWS]\ntitle=T9\n[fltsim.x]\ntitle=T1\nicao_airline=KLM\n\n"
                                           "[fltsim.2]\ntitle=T2\nicao_airline=XYZ\nicao_airline=KLM\natc_id=ABC*D\n");
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result.front().title, "T1");
    EXPECT_EQ(result.back().title, "T2");
    EXPECT_EQ(lines(g_invalidAirlines), (std::vector<std::string>{"XYZ          in " + CFG.string() + " [fltsim.2]"}));
    // The list is sorted when its report is written; a file's titles are claimed after its sections.
    std::vector<std::string> incomplete = lines(g_incompleteSections);
    std::sort(incomplete.begin(), incomplete.end());
    EXPECT_EQ(incomplete, (std::vector<std::string>{"/pkg/SimObjects/Airplanes/A320 [fltsim.x] title 'T1' already exists",
                                                    "invalid atc_id=ABC*D in: T2"}));

    EXPECT_TRUE(fltsimNumbers("[fltsim.0]\n[fltsim.10000]\n[fltsim.x]"));
    EXPECT_FALSE(fltsimNumbers("[fltsim.0]\n[fltsim.10001]"));
    EXPECT_FALSE(fltsimNumbers("[fltsim.99999999999]"));
    EXPECT_TRUE(fltsimNumbers("[General]\ntitle=x"));
    EXPECT_EQ(lines(g_invalidCfgFiles),
              (std::vector<std::string>{CFG.string() + " contains a [fltsim.x] section with a number < 0 or > 10000",
                                        CFG.string() + " has a [fltsim.x] section whose number is too large: "
                                                       "[fltsim.99999999999]"}));
    EXPECT_EQ(lines(g_noFltsimFiles), (std::vector<std::string>{CFG.string()}));
    EXPECT_EQ(countLog("==> fltsim num [fltsim.99999999999] incorrect"), 1);
}

TEST_F(CfgFileTest, ModelCodeFromTypeContainerOrFolder)
{
    EXPECT_EQ(modelCode(CFG, "icao_type_designator=A320X\nicao_type_designator=B738"), "A320");
    EXPECT_EQ(modelCode(CFG, "icao_type_designator=\"a32n\""), "A20N");
    EXPECT_EQ(modelCode(CFG, "icao_type_designator=ZZ99\nbase_container=..\\Asobo_A320_NEO"), "");
    EXPECT_EQ(modelCode(CFG, "base_container=..\\Other\nbase_container=..\\Asobo_A320_NEO"), "A20N");
    EXPECT_EQ(modelCode("/c/pmdg-aircraft-77w/aircraft.cfg", "x=1"), "");
    EXPECT_EQ(modelCode(CFG, "x=1"), "");
    EXPECT_EQ(lf_ivaoModelFromPath("/c/IVAO_MTL/SimObjects/Airplanes/IVAO_B738WLfa/aircraft.cfg"), "B738");
    EXPECT_EQ(lf_ivaoModelFromPath("C:\\c\\IVAO_MTL\\SimObjects\\Airplanes\\IVAO_A20N\\aircraft.cfg"), "A20N");
    EXPECT_EQ(lf_ivaoModelFromPath("/c/IVAO_MTL/SimObjects/Airplanes/Other/aircraft.cfg"), "");

    EXPECT_EQ(g_fixes, (std::vector<std::string>{"Model fix: A32N found in " + CFG.string() + " changed into A20N"}));
    EXPECT_EQ(lines(g_invalidModels),
              (std::vector<std::string>{"ZZ99             in " + CFG.string(),
                                        "                 in /c/IVAO_MTL/SimObjects/Airplanes/Other/aircraft.cfg"}));
    EXPECT_EQ(lines(g_invalidCfgFiles),
              (std::vector<std::string>{"Line icao_type_designator= is missing in [General] section of " + CFG.string()}));
}

TEST_F(CfgFileTest, IvaoSectionsTakeTheAirlineFromTheTitle)
{
    const std::filesystem::path folder = m_work / "IVAO_MTL" / "SimObjects" / "Airplanes" / "IVAO_B738";
    const std::filesystem::path special = m_work / "IVAO_MTL" / "SimObjects" / "Airplanes" / "IVAO_A320wCFM";
    for (const char* texture : {"texture.KLM", "texture.DLH", "texture.", "texture.X"})
        std::filesystem::create_directories(folder / texture);
    std::filesystem::create_directories(special / "texture.");
    auto read = [](const std::filesystem::path& FOLDER, const std::string& MODEL, const std::string& TEXT) {
        const std::vector<std::string> lines = splitLines(TEXT);
        return lf_processIvaoFltSimSections(1, views(lines), MODEL, FOLDER / "aircraft.cfg", FOLDER, {});
    };
    const LiveryList b738 = read(folder, "B738",
                                 "[fltsim.0]\ntitle=\"  B738KLM \"\ntexture=KLM\n"
                                 "[fltsim.1]\ntitle=B738 DLH\ntexture=DLH\ndescription=[B738]\ntitle=second\n"
                                 "[fltsim.2]\ntitle=KLM B738\n"
                                 "[fltsim.3]\ntitle=KLM B738 reg\natc_id=D-AIZZ\n"
                                 "[fltsim.4]\ntitle=B738klm\n"
                                 "[fltsim.5]\ntitle=B738 NOPE\ntexture=NONE\n"
                                 "[fltsim.6]\ntitle=B738KLM\n"
                                 "[fltsim.7]\ntitle=B738 KLM 7\ntexture=KLM\natc_parking_types=GATE\natc_parking_types=CARGO\n"
                                 "[fltsim.8]\ntitle=B738 KLM 8\ntexture=KLM\natc_id=PH-AAA\natc_id=PH-BBB\n");
    std::vector<std::string> titles;
    for (const ScannedLivery& L : b738)
        titles.push_back(L.title + "/" + gf_airlineCode(L.kind.airlineId) + "/" + gf_modelCode(L.kind.modelId));
    EXPECT_EQ(titles, (std::vector<std::string>{"B738KLM/KLM/B738", "B738 DLH/DLH/B738", "KLM B738 reg/DLH/A320"}));
    EXPECT_EQ(b738.front().kind.cargo, 0);
    EXPECT_EQ(countLog("removed spaces around title '  B738KLM ' --> 'B738KLM'"), 1);

    EXPECT_TRUE(read(special, "A320", "[fltsim.0]\ntitle=A320DLH\n").empty());
    EXPECT_EQ(read(special, "A320", "[fltsim.1]\ntitle=a320w DLH\n").size(), 1u);

    const std::string f = folder.string();
    EXPECT_EQ(lines(g_incompleteSections),
              (std::vector<std::string>{f + " [fltsim.2] misses airlinecode in title: KLM B738, and no regcode",
                                        f + "/texture.NONE [fltsim.5] does not exist",
                                        f + " [fltsim.6] title already exists: B738KLM",
                                        f + " [fltsim.7] has more than one atc_parking_types key",
                                        f + ", [fltsim.8], has more than one atc_id key",
                                        special.string() + " [fltsim.0] misses airlinecode in title: A320DLH, and no regcode"}));
    EXPECT_EQ(lines(g_invalidAirlines), (std::vector<std::string>{"klm          in " + f + "/aircraft.cfg [fltsim.4]"}));
}

TEST_F(CfgFileTest, FilesThatCannotBeReadAreListedWithTheirCause)
{
    const auto folder = m_work / "folder" / "aircraft.cfg";
    const auto missing = m_work / "missing" / "aircraft.cfg";
    const auto ivao = m_work / "IVAO_MTL" / "SimObjects" / "Airplanes" / "IVAO_B738" / "aircraft.cfg";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(lf_searchLiveriesinFile(1, folder, {}).empty());
    EXPECT_TRUE(lf_searchLiveriesinFile(1, missing, {}).empty());
    EXPECT_TRUE(lf_searchLiveriesinIVAOFile(1, ivao, {}).empty());
    EXPECT_EQ(lines(g_invalidCfgFiles),
              (std::vector<std::string>{folder.string() + " cannot be read: Is a directory",
                                        missing.string() + " cannot be opened: No such file or directory",
                                        ivao.string() + " cannot be opened: No such file or directory"}));
    EXPECT_EQ(countLog("No text encoding detected"), 0);
    EXPECT_EQ(countLog("! Failed reading "), 3);
}

TEST_F(CfgFileTest, AnyBytesNeverBreakTheReaders)
{
    // Binary noise, NULs, endless lines, thousands of sections and a file that is a folder.
    std::string noise;
    for (int i = 0; i < 200000; ++i)
        noise += static_cast<char>((i * 7919) % 251);
    writeFile(m_work / "a" / "aircraft.cfg", noise);
    std::string many = "[General]\nicao_type_designator=A320\n";
    for (int i = 0; i < 3000; ++i)
        many += "[fltsim." + std::to_string(i % 10001) + "]\ntitle=T" + std::to_string(i % 700) + "\nicao_airline=KLM\n";
    writeFile(m_work / "b" / "aircraft.cfg", many + std::string(3'000'000, 'x'));
    std::filesystem::create_directories(m_work / "c" / "aircraft.cfg");
    EXPECT_NO_THROW(lf_searchLiveriesinFile(1, m_work / "a" / "aircraft.cfg", {}));
    EXPECT_EQ(lf_searchLiveriesinFile(1, m_work / "b" / "aircraft.cfg", {}).size(), 700u);
    EXPECT_NO_THROW(lf_searchLiveriesinFile(1, m_work / "c" / "aircraft.cfg", {}));
    EXPECT_NO_THROW(lf_searchLiveriesinIVAOFile(1, m_work / "a" / "aircraft.cfg", {}));
}

} // namespace
} // namespace qmt::test
