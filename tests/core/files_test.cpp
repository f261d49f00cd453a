#include "CoreTestSupport.h"
#include "core/Files.h"
#include "core/FolderHandle.h"
#include "core/Log.h"

namespace qmt::test {
namespace {

using FilesTest = CoreTest;

std::string utf16(const std::u16string& s, bool bigEndian, bool bom)
{
    std::string out;
    if (bom) out += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t u : s) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

TEST_F(FilesTest, SixEncodingsReadToIdenticalLines)
{
    const std::vector<std::string> expected = {"title=Z\xC3\xBCrich caf\xC3\xA9", "ui_type=\"A320\"", "", "end"};
    const std::u16string wide = u"title=Z\u00fcrich caf\u00e9\r\nui_type=\"A320\"\r\n\r\nend\r\n";
    const std::string utf8 = "title=Z\xC3\xBCrich caf\xC3\xA9\r\nui_type=\"A320\"\r\n\r\nend\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        FileEncoding encoding;
    };
    const std::vector<Case> cases = {
        {"utf8bom", "\xEF\xBB\xBF" + utf8, FileEncoding::UTF8_with_BOM},
        {"utf8", utf8, FileEncoding::UTF8_without_BOM},
        {"ansi", "title=Z\xFCrich caf\xE9\nui_type=\"A320\"\n\nend", FileEncoding::ANSI},
        {"utf16le", utf16(wide, false, true), FileEncoding::Unicode},
        {"utf16be", utf16(wide, true, true), FileEncoding::Unicode_big_endian},
        {"utf16le_nobom", utf16(wide, false, false), FileEncoding::Unicode},
    };
    for (const auto& c : cases) {
        const auto path = dir() / (std::string(c.name) + ".cfg");
        writeFile(path, c.bytes);
        EXPECT_EQ(gf_detectFileEncoding(path), c.encoding) << c.name;
        std::vector<std::string> lines;
        ASSERT_TRUE(gf_readTextFile(gf_detectFileEncoding(path), path, lines)) << c.name;
        EXPECT_EQ(lines, expected) << c.name;
        const auto fl = gf_readFileLines(path);
        EXPECT_TRUE(fl.ok());
        EXPECT_EQ(fl.lines, expected) << c.name;
    }
}

// What the readers pass on is valid UTF-8 without NUL, whatever hides after a byte order mark,
// late in the file, or in UTF-16 units.
TEST_F(FilesTest, LinesAreValidUtf8WithoutNulWhateverTheFileHolds)
{
    const std::string fffd = "\xEF\xBF\xBD";
    const std::string padding(5000, 'a');
    struct Case {
        const char* name;
        std::string bytes;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"bomnul", std::string("\xEF\xBB\xBFok\0", 6), "ok" + fffd},
        // Windows-1252 bytes behind a UTF-8 mark (an editor that kept the mark): read as what
        // they are, not as replacement characters.
        {"bom1252", "\xEF\xBB\xBFtitle=Z\xFCrich \xFF\xC0\x80", "title=Z\xC3\xBCrich \xC3\xBF\xC3\x80\xE2\x82\xAC"},
        // All of a file decides: bytes that are no UTF-8 make it Windows-1252, however late.
        {"late", padding + "caf\xE9 \x80", padding + "caf\xC3\xA9 \xE2\x82\xAC"},
        {"latenul", padding + std::string("x\0y", 3), padding + "x" + fffd + "y"},
        {"utf16nul", utf16(std::u16string(u"a\u0000b", 3), false, true), "a" + fffd + "b"},
        {"utf16lone", utf16(u"\xD800x", true, true), fffd + "x"},
    };
    for (const auto& c : cases) {
        const auto path = dir() / (std::string(c.name) + ".txt");
        writeFile(path, c.bytes);
        const auto fl = gf_readFileLines(path);
        ASSERT_TRUE(fl.ok()) << c.name;
        ASSERT_EQ(fl.lines.size(), 1u) << c.name;
        EXPECT_EQ(fl.lines[0], c.line) << c.name;
        EXPECT_EQ(gf_cleanUtf8(fl.lines[0]), fl.lines[0]) << c.name;
    }
    // A character cut by the end of the sample does not make a UTF-8 file ANSI.
    writeFile(dir() / "cut.txt", std::string(4095, 'a') + "\xC3\xBC");
    EXPECT_EQ(gf_detectFileEncoding(dir() / "cut.txt"), FileEncoding::UTF8_without_BOM);
    writeFile(dir() / "bom1252.txt", "\xEF\xBB\xBF" + padding + "\xE9");
    EXPECT_EQ(gf_detectFileEncoding(dir() / "bom1252.txt"), FileEncoding::ANSI);
}

TEST_F(FilesTest, CrLfAndCrAloneEachEndALine)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"[fltsim.0]\rtitle=a\rx=1\r", {"[fltsim.0]", "title=a", "x=1"}},
        {"a\r\nb\n\nc\r", {"a", "b", "", "c"}},
        {"a\n\rb\r\r\nc", {"a", "", "b", "", "c"}},
    };
    for (const auto& [bytes, expected] : cases) {
        writeFile(dir() / "ends.cfg", bytes);
        EXPECT_EQ(gf_readFileLines(dir() / "ends.cfg").lines, expected) << bytes;
    }
}

TEST_F(FilesTest, UnreadableFilesAndUnknownCharsets)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    EXPECT_EQ(gf_detectFileEncoding(dir() / "missing.cfg"), FileEncoding::none_found);
    EXPECT_EQ(gf_readFileLines(dir() / "missing.cfg").error, "open_failed");
    writeFile(dir() / "binary.bgl", std::string("\x01\x02\x00\x00\x00\x00\x00\x9a\x00\x00\x07", 11));
    EXPECT_EQ(gf_detectFileEncoding(dir() / "binary.bgl"), FileEncoding::none_found);
    std::vector<std::string> lines;
    EXPECT_FALSE(gf_readTextFile(FileEncoding::none_found, dir() / "binary.bgl", lines));
    EXPECT_FALSE(gf_readTextFile(FileEncoding::ANSI, dir() / "missing.cfg", lines));
    EXPECT_TRUE(lines.empty());
    writeFile(dir() / "empty.cfg", "");
    EXPECT_NE(gf_detectFileEncoding(dir() / "empty.cfg"), FileEncoding::none_found);
    EXPECT_TRUE(gf_readFileLines(dir() / "empty.cfg").lines.empty());
    gf_closeLog();
    const std::string log = readFile(dir() / "Log.txt");
    EXPECT_NE(log.find("has unknown charset: none_found"), std::string::npos);
    EXPECT_NE(log.find("Read failed for '"), std::string::npos);
}

TEST_F(FilesTest, WriteHelpers)
{
    EXPECT_TRUE(gf_writeListToFile({"a", "b"}, dir() / "l.txt"));
    EXPECT_EQ(readFile(dir() / "l.txt"), "a\nb\n");
    EXPECT_TRUE(gf_writeStringToFile({"x"}, dir() / "l.txt"));
    EXPECT_EQ(readFile(dir() / "l.txt"), "x\n");
    EXPECT_TRUE(gf_writeTextFile("archive/simaddon/EHAM.xml", dir() / "EHAM.txt", true));
    EXPECT_EQ(readFile(dir() / "EHAM.txt"), "archive/simaddon/EHAM.xml\n");
    EXPECT_TRUE(gf_writeTextFile("t", dir() / "t.txt", false));
    EXPECT_EQ(readFile(dir() / "t.txt"), "t");
    EXPECT_FALSE(gf_writeListToFile({"a"}, dir() / "no" / "such" / "x.txt"));
}

TEST_F(FilesTest, Generations)
{
    const auto p = dir() / "parameters.xml";
    EXPECT_EQ(gf_generationPath(p, 1), dir() / "parameters0.xml");
    EXPECT_EQ(gf_generationPath(dir() / "a.b.xml", 2), dir() / "a.b00.xml");
    EXPECT_EQ(gf_generationPath(dir() / "noext", 1), dir() / "noext0");
    EXPECT_TRUE(gf_save1GenerationOf(p)); // nothing to keep
    writeFile(p, "one");
    EXPECT_TRUE(gf_save1GenerationOf(p));
    EXPECT_EQ(readFile(dir() / "parameters0.xml"), "one");
    EXPECT_EQ(readFile(p), "one");

    const auto log = dir() / "Log.txt";
    for (const char* gen : {"a", "b", "c", "d", "e"}) {
        writeFile(log, gen);
        EXPECT_TRUE(gf_rotateGenerations(log, 3));
    }
    EXPECT_FALSE(std::filesystem::exists(log));
    EXPECT_EQ(readFile(dir() / "Log0.txt"), "e");
    EXPECT_EQ(readFile(dir() / "Log00.txt"), "d");
    EXPECT_EQ(readFile(dir() / "Log000.txt"), "c");
    EXPECT_FALSE(std::filesystem::exists(dir() / "Log0000.txt"));
}

TEST_F(FilesTest, FolderHelpers)
{
    const auto f = dir() / "airports";
    EXPECT_EQ(gf_countFolderEntries(f), 0u);
    std::filesystem::create_directories(f / "sub");
    for (const char* n : {"EHAM.xml", "eglL.XML", "EHAM.txt", "EHAMX.xml", "EH-M.xml", "park_airport.xml"}) writeFile(f / n, "x");
    EXPECT_EQ(gf_countFolderEntries(f), 7u);
    const auto xml = gf_collectXmlFiles(f);
    ASSERT_EQ(xml.size(), 2u);
    EXPECT_EQ(xml[0].filename(), "EHAM.xml");
    EXPECT_EQ(xml[1].filename(), "eglL.XML");
    EXPECT_TRUE(gf_collectXmlFiles(dir() / "missing").empty());

    std::filesystem::create_directories(g_tbloPath);
    writeFile(g_tbloPath / "EHAM.xml", "x");
    writeFile(g_tbloPath / "keep.txt", "x");
    gf_removeXMLFilesFromDirectory();
    EXPECT_FALSE(std::filesystem::exists(g_tbloPath / "EHAM.xml"));
    EXPECT_TRUE(std::filesystem::exists(g_tbloPath / "keep.txt"));

    gf_removeFilesFromDirectory(f);
    EXPECT_EQ(gf_countFolderEntries(f), 1u); // the subfolder stays
    EXPECT_TRUE(gf_removeFileWarn(f / "gone.txt"));
    writeFile(f / "x.txt", "x");
    EXPECT_TRUE(gf_removeFileWarn(f / "x.txt"));
    EXPECT_FALSE(std::filesystem::exists(f / "x.txt"));
}

// Folders opened side by side through one parent answer as folders opened by their paths: a
// folder gone after the listing that named it, a link, a file in a folder's place; the files of
// a folder read through it read as by their paths.
TEST_F(FilesTest, FoldersOpenedBesideEachOtherAnswerAsOpenedByTheirPaths)
{
    namespace fs = std::filesystem;
    const fs::path pkg = dir() / "pkg";
    for (const char* name : {"a", "gone", "e", "elsewhere/inner"})
        fs::create_directories((std::string(name).starts_with("elsewhere") ? dir() : pkg) / name);
    fs::create_directory_symlink(dir() / "elsewhere", pkg / "link");
    writeFile(pkg / "file", "x");
    writeFile(pkg / "a" / "aircraft.cfg", utf16(u"[fltsim.0]\r\ntitle=Z\u00fcrich\r\n", false, true));
    struct Case {
        const char* name;
        bool opened;
        int error;
    };
    const std::vector<Case> cases = {{"a", true, 0}, {"gone", false, ENOENT}, {"link", true, 0},
                                     {"file", false, ENOTDIR}, {"e", true, 0}, {"missing", false, ENOENT}};
    FolderOpener opener;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        opener.setFollowing(i + 1 < cases.size() ? (pkg / cases[i + 1].name).string() : std::string());
        if (std::string_view(c.name) == "gone")
            fs::remove(pkg / "gone"); // listed, then gone before its turn
        errno = 0;
        const auto folder = opener.open((pkg / c.name).string());
        const int error = errno;
        EXPECT_EQ(folder->opened(), c.opened) << c.name;
        if (!c.opened)
            EXPECT_EQ(error, c.error) << c.name;
        const FolderHandle byPath((pkg / c.name).c_str());
        EXPECT_EQ(byPath.opened(), c.opened) << c.name;
        if (!c.opened)
            continue;
        std::vector<std::string> names;
        for (const dirent* entry = folder->next(); entry != nullptr; entry = folder->next())
            if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
                names.push_back(entry->d_name);
        EXPECT_EQ(names, std::string_view(c.name) == "a"      ? std::vector<std::string>{"aircraft.cfg"}
                         : std::string_view(c.name) == "link" ? std::vector<std::string>{"inner"}
                                                              : std::vector<std::string>{})
            << c.name;
    }
    const FolderHandle a(FolderHandle((pkg).c_str()), "a");
    TextFile read;
    a.readTextFile("aircraft.cfg", 1 << 20, read);
    EXPECT_EQ(read.status, TextReadStatus::ok);
    EXPECT_EQ(read.text, "[fltsim.0]\r\ntitle=Z\xC3\xBCrich\r\n");
    EXPECT_EQ(read.text, gf_readWholeTextFile(pkg / "a" / "aircraft.cfg").text);
    a.readTextFile("texture.cfg", 1 << 20, read);
    EXPECT_EQ(read.status, TextReadStatus::cannotOpen);
    EXPECT_EQ(read.error, gf_readWholeTextFile(pkg / "a" / "texture.cfg").error);
}

} // namespace
} // namespace qmt::test
