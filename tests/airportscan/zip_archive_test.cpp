// The zip writer: entries compressed ahead and entries compressed by the archive read back as
// they were written, and the archive passes a zip tool's test.
#include "airportscan/ZipArchive.h"
#include "TestFolder.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

namespace qmt::test {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> zipContents(const fs::path& ZIP)
{
    std::map<std::string, std::string> contents;
    int error = 0;
    zip_t* archive = zip_open(ZIP.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (archive == nullptr) {
        return contents;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
        std::string bytes(st.size, '\0');
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (file != nullptr && zip_fread(file, bytes.data(), st.size) == static_cast<zip_int64_t>(st.size)) {
            contents[st.name] = bytes;
        }
        if (file != nullptr) {
            zip_fclose(file);
        }
    }
    zip_close(archive);
    return contents;
}

TEST(ZipArchiveTest, EntriesReadBackAsWritten)
{
    std::mt19937 random(7);
    std::string noise(70000, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    std::string xml;
    while (xml.size() < 300000) {
        xml += "    <parkpos id=\"A" + std::to_string(xml.size() % 97) + "\" latitude=\"40.000800\" type=\"1\" />\n";
    }
    struct Case {
        const char* name;
        std::string bytes;
        bool ahead;  // compressed ahead, else by the archive
    };
    const std::vector<Case> cases = {
        {"empty.xml", "", true},         {"one.xml", "x", true},          {"airport.xml", xml, true},
        {"noise.bin", noise, true},      {"by-archive.xml", xml, false},  {"empty-by-archive.xml", "", false},
    };
    const fs::path folder = gf_testFolder("zip-archive");
    fs::create_directories(folder);
    const fs::path path = folder / "t.zip";
    ZipArchive archive(path.string());
    ASSERT_TRUE(archive.open(ZipArchive::OpenMode::New));
    std::vector<DeflatedEntry> kept;
    kept.reserve(cases.size());
    for (const Case& c : cases) {
        if (c.ahead) {
            EXPECT_TRUE(archive.addDeflated(c.name, kept.emplace_back(gf_deflateEntry(c.bytes.data(), c.bytes.size()))));
        } else {
            EXPECT_TRUE(archive.addData(c.name, c.bytes.data(), c.bytes.size()));
        }
    }
    ASSERT_TRUE(archive.close()) << archive.errorText();
    const auto contents = zipContents(path);
    ASSERT_EQ(contents.size(), cases.size());
    for (const Case& c : cases) {
        ASSERT_TRUE(contents.contains(c.name)) << c.name;
        EXPECT_EQ(contents.at(c.name), c.bytes) << c.name;
    }
    EXPECT_LT(fs::file_size(path), noise.size() + xml.size());  // the text was compressed
    EXPECT_EQ(std::system(("unzip -tq " + path.string() + " > /dev/null").c_str()), 0);
    fs::remove_all(folder);
}

} // namespace
} // namespace qmt::test
