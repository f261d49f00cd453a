// Publishers from paths and manifests, archive links and generated airport files.
#include "ScanFixture.h"

#include "airportscan/ApfLinks.h"
#include "airportscan/Manifest.h"
#include "core/XmlMeta.h"
#include "stands/StandTable.h"

#include <tuple>

namespace qmt::test {
namespace {

class PublisherTest : public ScanTest {
protected:
    fs::path manifest(const fs::path& FOLDER, const std::string& JSON)
    {
        writeFile(FOLDER / "manifest.json", JSON);
        return FOLDER / "manifest.json";
    }
};

TEST_F(PublisherTest, ManifestOfTheCommunityPackageOnly)
{
    const fs::path package = dir() / "Community" / "acme-ehle";
    manifest(package, R"({"title":"EHLE Lelystad","manufacturer":"Acme","creator":"Bob"})");
    manifest(package / "scenery", R"({"title":"inner","manufacturer":"Inner","creator":"Inner"})");
    const auto found = gf_searchManifest(package / "scenery" / "world" / "ap.bgl");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->title, "EHLE Lelystad");
    EXPECT_EQ(found->manufacturer, "Acme");
    EXPECT_TRUE(scanLogHas("Manifest file: title:'EHLE Lelystad, manufacturer:'Acme', creator:'Bob"));

    // A package without its own manifest has none, whatever lies below it.
    fs::remove(package / "manifest.json");
    EXPECT_FALSE(gf_searchManifest(package / "scenery" / "world" / "ap.bgl"));
}

TEST_F(PublisherTest, ManifestOutsideCommunityIsTheNearestUpTheTree)
{
    const fs::path official = dir() / "Official" / "OneStore";
    manifest(official / "pkg", R"({"title":"outer"})");
    manifest(official / "pkg" / "scenery", R"({"title":"inner"})");
    const auto found = gf_searchManifest(official / "pkg" / "scenery" / "world" / "ap.bgl");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->title, "inner");
    // One that is not an object is passed over on the way up.
    manifest(official / "pkg" / "scenery", "[1, 2]");
    EXPECT_EQ(gf_searchManifest(official / "pkg" / "scenery" / "world" / "ap.bgl")->title, "outer");
}

TEST_F(PublisherTest, BrokenManifestsGiveNoManifest)
{
    const fs::path package = dir() / "Community" / "broken";
    const fs::path bgl = package / "scenery" / "ap.bgl";
    for (const char* text : {"{\"title\": ", "{\"title\": 5}", "", "\"just text\""}) {
        manifest(package, text);
        EXPECT_FALSE(gf_searchManifest(bgl)) << text;
    }
    const auto lines = scanLog();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& l) {
                                return l.starts_with("exception in gf_searchManifest: " + (package / "manifest.json").string() + ": ");
                            }),
              2);
    // A member without a value (null) is an empty text: the rest of the manifest counts.
    manifest(package, R"({"title":"EHLE Lelystad","manufacturer":null,"creator":"Northwind"})");
    const auto found = gf_searchManifest(bgl);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->title, "EHLE Lelystad");
    EXPECT_EQ(found->creator, "Northwind");
    // A manifest too large to be a real one is not read at all.
    writeFile(package / "manifest.json", "{\"title\":\"" + std::string(kManifestMaxBytes, 'x') + "\"}");
    EXPECT_FALSE(gf_readManifest(package / "manifest.json"));
}

TEST_F(PublisherTest, PublisherFromPathThenManifest)
{
    EXPECT_EQ(gf_findPublisher("/sim/Official/OneStore/Asobo-AIRPORT-ehle/x.bgl", std::nullopt).publisher, "simaddon");
    EXPECT_TRUE(scanLogHas("from BGL path => publisher simaddon"));
    EXPECT_EQ(gf_findPublisher("/sim/Community/NorthWind-egcc/x.bgl", std::nullopt).publisher,
              "Northwind Sceneries");

    // Manifest with an empty manufacturer and a creator of the table.
    const ManifestInfo byCreator = ManifestData{"", "skyforge", "Dusseldorf"};
    const PublisherInfo found = gf_findPublisher("/sim/Community/eddl/x.bgl", byCreator);
    EXPECT_EQ(found.publisher, "SkyForge Studio");
    EXPECT_EQ(found.title, "Dusseldorf");
    EXPECT_TRUE(scanLogHas("-> publisher 'SkyForge Studio'"));

    const PublisherInfo unknown = gf_findPublisher("/sim/Community/eddl/x.bgl", ManifestData{"Acme", "Bob", "t"});
    EXPECT_EQ(unknown.publisher, "");
    EXPECT_EQ(unknown.manufacturer, "Acme");
    EXPECT_TRUE(scanLogHas("no valid info found in manifest about publisher"));

    EXPECT_EQ(gf_findPublisher(dir() / "nowhere" / "x.bgl", std::nullopt).publisher, "");
    EXPECT_TRUE(scanLogHas("===> No publisher found"));
    // Only the part below the scan folder names a publisher, not the folders above it.
    EXPECT_EQ(gf_findPublisher("/disks/northwind/Community/acme-eddl/x.bgl", ManifestData{"Acme", "", ""},
                               "/disks/northwind/Community")
                  .publisher,
              "");

    // An empty name in the table matches every path that no earlier entry matched.
    g_publishers.push_back({"Catch All", ""});
    EXPECT_EQ(gf_publisherInPath(std::string_view("/anything")), "Catch All");
}

TEST_F(PublisherTest, KnownOriginOfAGeneratedFile)
{
    const auto apf = [&](const std::string& PARAMETERS) {
        writeFile(dir() / "a.xml", "<root><parameters>" + PARAMETERS + "</parameters></root>");
        return lf_hasKnownOrigin(dir() / "a.xml");
    };
    EXPECT_TRUE(apf(R"(<parameter name="publisher" value="Acme"/>)"));
    EXPECT_FALSE(apf(R"(<parameter name="manufacturer" value="Abc"/><parameter name="creator" value=""/>)"));
    EXPECT_TRUE(apf(R"(<parameter name="manufacturer" value="Abc"/><parameter name="creator" value="Dave"/>)"));
    EXPECT_FALSE(lf_hasKnownOrigin(dir() / "missing.xml"));
    EXPECT_THAT(logText(), ::testing::HasSubstr("missing.xml' not found"));
}

class LinksTest : public ScanTest {
protected:
    AirportFile record(const char* CODE, int STANDS, int HELIPADS = 0)
    {
        AirportFile r;
        r.code = IcaoCode(CODE);
        r.altitudeFt = 12;
        for (int i = STANDS; i >= 1; --i) {
            r.stands.emplace_back("P" + std::to_string(i), std::vector<StandOption>{}, 52.0 + i * 0.001, 5.0, 1.0, 20.0,
                                  1, false, false, false);
        }
        for (int i = 1; i <= HELIPADS; ++i) {
            r.stands.emplace_back("helipad" + std::to_string(i), std::vector<StandOption>{}, 52.1 + i * 0.001, 5.0,
                                  0.0, 10.0, 0, false, false, true);
        }
        return r;
    }
};

TEST_F(LinksTest, ThirdpartyAirportOfTheArchiveIsLinkedWithItsCount)
{
    AirportFile r;
    r.code = IcaoCode("EHRD");
    std::int32_t archived = -1;
    EXPECT_TRUE(lf_linkToArchive(r, std::nullopt, archived, "/sim/Community/polderworks-ehrd/scenery/ap.bgl"));
    EXPECT_EQ(archived, 20);
    EXPECT_EQ(r.publisher, "Polder Works");
    EXPECT_EQ(readFile(g_myThirdpartyPath / "EHRD.txt"), "archive/thirdparty/Polder%20Works/EHRD.xml\n");
    EXPECT_TRUE(scanLogHas("thirdparty airport EHRD linked to archive/thirdparty/Polder%20Works/EHRD.xml\n"));

    // The code followed by something that is not a number still links, with a warning.
    AirportFile odd;
    odd.code = IcaoCode("EHEH");
    EXPECT_TRUE(lf_linkToArchive(odd, std::nullopt, archived, "/sim/Community/polderworks-eheh/ap.bgl"));
    EXPECT_THAT(logText(), ::testing::HasSubstr("EHEH EHEH x invalid number"));

    // Not archived for that publisher.
    AirportFile missing;
    missing.code = IcaoCode("EHLE");
    EXPECT_FALSE(lf_linkToArchive(missing, std::nullopt, archived, "/sim/Community/polderworks-ehle/ap.bgl"));
    EXPECT_TRUE(scanLogHas("thirdparty Polder Works EHLE does not exist"));
}

TEST_F(LinksTest, SimaddonLinksAndAFailedLinkWriteIsReported)
{
    AirportFile r;
    r.code = IcaoCode("EHAM");
    std::int32_t archived = 0;
    EXPECT_TRUE(lf_linkToArchive(r, std::nullopt, archived, "/sim/Official/asobo-airport-eham/ap.bgl"));
    EXPECT_EQ(readFile(g_mySimaddonPath / "EHAM.txt"), "archive/simaddon/EHAM.xml\n");
    EXPECT_TRUE(scanLogHas("simaddon airport EHAM linked to archive/simaddon/EHAM.xml\n"));

    fs::remove_all(g_mySimaddonPath);
    writeFile(g_mySimaddonPath, "a file where the folder belongs");
    AirportFile again;
    again.code = IcaoCode("EHAM");
    EXPECT_TRUE(lf_linkToArchive(again, std::nullopt, archived, "/sim/Official/asobo-airport-eham/ap.bgl"));
    EXPECT_TRUE(scanLogHas("===> could not write link file " + (g_mySimaddonPath / "EHAM.txt").string()));
}

TEST_F(LinksTest, GeneratedFilesAndTheirAnnouncements)
{
    AirportFile big = record("EHLE", 40, 2);
    big.publisher = "Northwind Sceneries";
    big.bglPath = "C:\\Users\\x\\Community\\northwind-ehle\\scenery\\ap.bgl";
    lf_generateApf(big, 2);
    EXPECT_TRUE(scanLogHas("Generated EHLE.xml from C:\\Users\\x\\Community\\northwind-ehle\\scenery\\ap.bgl: 42 positions, of which 2 helipads\n"));

    // Read back through the airport-file reader: every stand, sorted by name.
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((g_myThirdpartyPath / "EHLE.xml").c_str()));
    std::vector<Stand> stands;
    lf_readStands(doc, stands);
    ASSERT_EQ(stands.size(), 42u);
    EXPECT_EQ(stands.front().name, "P1");
    EXPECT_EQ(stands[1].name, "P10");
    EXPECT_EQ(stands.back().name, "helipad2");
    EXPECT_EQ(stands.back().heli, 1);
    EXPECT_EQ(gf_stringParameterByName(doc, "num_parkpos"), "42");

    AirportFile one = record("EHHV", 1);
    lf_generateApf(one, 0);
    EXPECT_TRUE(scanLogHas("Generated EHHV.xml: 1 position"));

    AirportFile none = record("EDDL", 0);
    lf_generateApf(none, 0);
    EXPECT_FALSE(fs::exists(g_myThirdpartyPath / "EDDL.xml"));
}

// The tblo step tells a generated file's origin from what the scan handed along instead of reading
// the file again: what is handed along must be what the file says, and nothing once a package
// loaded later replaced the file.
TEST_F(LinksTest, GeneratedFileHandsAlongTheOriginItNames)
{
    const auto said = [](const fs::path& FILE) {
        pugi::xml_document doc;
        EXPECT_TRUE(doc.load_file(FILE.c_str())) << FILE;
        return std::tuple{gf_stringParameterByName(doc, "publisher").value_or(""),
                          gf_stringParameterByName(doc, "manufacturer").value_or(""),
                          gf_stringParameterByName(doc, "creator").value_or("")};
    };
    const std::vector<std::tuple<const char*, std::string, std::string, std::string>> cases = {
        {"EHLE", "Northwind Sceneries", "Acme", "Bob"},
        {"EHHV", "", "Abc", ""},
        {"EHEH", "", std::string("Ab\0cdef", 7), "Dave"},
        {"EHGG", "", "<Acme & \"co\">\t\r\n", "\x01\x1f"},
        {"EHTW", std::string("\0hidden", 7), "Acme", "Dave"},
    };
    for (const auto& [code, publisher, manufacturer, creator] : cases) {
        AirportFile r = record(code, 2);
        r.publisher = publisher;
        r.manufacturer = manufacturer;
        r.creator = creator;
        lf_generateApf(r, 0);
        const fs::path file = g_myThirdpartyPath / (std::string(code) + ".xml");
        const std::optional<ApfOrigin> origin = lf_generatedOrigin(file);
        ASSERT_TRUE(origin) << code;
        EXPECT_EQ(std::tuple(origin->publisher, origin->manufacturer, origin->creator), said(file)) << code;
        EXPECT_EQ(lf_isKnownOrigin(*origin), lf_hasKnownOrigin(file)) << code;
    }

    // A package loaded later links the airport to the archive: the generated file goes, and so
    // does its origin.
    const fs::path community = "/sim/Community";
    AirportFile earlier = record("EHRD", 2);
    earlier.publisher = "Polder Works";
    lf_generateApf(earlier, 0, lf_packageOrder(community / "aaa-ehrd" / "ap.bgl", community));
    ASSERT_TRUE(lf_generatedOrigin(g_myThirdpartyPath / "EHRD.xml"));
    AirportFile later;
    later.code = IcaoCode("EHRD");
    std::int32_t archived = 0;
    EXPECT_TRUE(lf_linkToArchive(later, std::nullopt, archived, community / "polderworks-ehrd" / "ap.bgl", community));
    EXPECT_FALSE(fs::exists(g_myThirdpartyPath / "EHRD.xml"));
    EXPECT_FALSE(lf_generatedOrigin(g_myThirdpartyPath / "EHRD.xml"));

    lf_clearAirportOwners();
    EXPECT_FALSE(lf_generatedOrigin(g_myThirdpartyPath / "EHLE.xml"));
}

TEST_F(LinksTest, SimaddonMissingFromTheListIsGenerated)
{
    AirportFile r = record("RJAA", 3);
    std::int32_t archived = 0;
    EXPECT_FALSE(lf_linkToArchive(r, std::nullopt, archived, "/sim/Official/microsoft-airport-rjaa/ap.bgl"));
    EXPECT_TRUE(scanLogHas("RJAA does not exist as simaddon"));
    lf_generateApf(r, 0);
    EXPECT_TRUE(fs::exists(g_mySimaddonPath / "RJAA.xml"));
}

// The BGL path of a linked or generated airport starts at its package folder: the user mails
// these files to us, and the folders above the package are the user's own.
TEST_F(LinksTest, BglPathStartsAtThePackageFolder)
{
    const fs::path official = dir() / "Official";
    writeFile(official / "OneStore" / "asobo-airport-rjaa" / "manifest.json", "{}");
    const std::vector<std::tuple<fs::path, fs::path, std::string>> cases = {
        {"/home/x/MSFS/Community/northwind-egcc/scenery/ap.bgl", "/home/x/MSFS/Community", "northwind-egcc/scenery/ap.bgl"},
        {official / "OneStore" / "asobo-airport-rjaa" / "ap.bgl", official, "asobo-airport-rjaa/ap.bgl"},
        {"/home/x/Community/northwind-egcc/ap.bgl", "", "northwind-egcc/ap.bgl"},
        {"/home/x/ap.bgl", "", "ap.bgl"},
    };
    for (const auto& [path, scanFolder, expected] : cases) {
        AirportFile r = record("EGCC", 1);
        std::int32_t archived = 0;
        lf_linkToArchive(r, std::nullopt, archived, path, scanFolder);
        EXPECT_EQ(r.bglPath, expected) << path;
    }
}

} // namespace
} // namespace qmt::test
