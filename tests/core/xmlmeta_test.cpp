#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "CoreTestSupport.h"
#include "core/XmlMeta.h"

namespace qmt::test {
namespace {

using XmlMetaTest = CoreTest;

TEST_F(XmlMetaTest, VersionData)
{
    EXPECT_EQ(gf_programVersionText(), "12.0.0");
    EXPECT_GE(gf_programVersion(), (VersionData{11, 10, 0}));
    const auto v = VersionData::fromText("11.9.12");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->text(), "11.9.12");
    EXPECT_LT(*v, (VersionData{11, 10, 0})); // numbers, not text
    EXPECT_LT((VersionData{1, 99, 99}), (VersionData{2, 0, 0}));
    for (const char* bad : {"", "1.2", "1.2.3.4", "a.b.c", "1..3", "1.2.-3", " 1.2.3", "1.2.3x"})
        EXPECT_FALSE(VersionData::fromText(bad).has_value()) << bad;
    const auto j = VersionData::fromJson(nlohmann::json::parse(R"({"major":12,"minor":1,"patch":3})"));
    ASSERT_TRUE(j.has_value());
    EXPECT_EQ(*j, (VersionData{12, 1, 3}));
    EXPECT_FALSE(VersionData::fromJson(nlohmann::json::parse(R"({"major":"12","minor":1,"patch":3})")).has_value());
    EXPECT_FALSE(VersionData::fromJson(nlohmann::json::parse(R"([1,2,3])")).has_value());
}

TEST_F(XmlMetaTest, WriteSaveAndReadBack)
{
    pugi::xml_document doc;
    ASSERT_TRUE(gf_writeXmlMeta(doc, gf_programVersionText(), 2024));
    EXPECT_FALSE(gf_writeXmlMeta(doc, "12.0.0")); // only on a new document
    auto p = doc.child("root").append_child("parameters").append_child("parameter");
    p.append_attribute("name") = "altitude";
    p.append_attribute("value") = "-11";
    auto q = doc.child("root").child("parameters").append_child("parameter");
    q.append_attribute("name") = "handmade";
    q.append_attribute("value") = "true";
    const auto path = dir() / "EHAM.xml";
    ASSERT_TRUE(gf_saveXmlWithDeclaration(doc, path));
    EXPECT_TRUE(readFile(path).starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));

    pugi::xml_document in;
    ASSERT_TRUE(in.load_file(path.c_str()));
    const auto meta = gf_readXmlMeta(in, 0);
    EXPECT_TRUE(meta.accepted);
    EXPECT_EQ(meta.version, "12.0.0");
    EXPECT_EQ(meta.sim, "2024");
    EXPECT_EQ(gf_findParameter(in, "altitude").value, std::optional<int>(-11));
    EXPECT_EQ(gf_findParameter(in, "handmade").error, "handmade: 'true' is not a whole number");
    EXPECT_FALSE(gf_findParameter(in, "missing").value.has_value());
    EXPECT_EQ(gf_findParameter(in, "missing").error, "");
    EXPECT_EQ(gf_stringParameterByName(in, "handmade"), std::optional<std::string>("true"));
    EXPECT_EQ(gf_boolParameterByName(in, "handmade"), std::optional<bool>(true));
    EXPECT_FALSE(gf_boolParameterByName(in, "publisher").has_value());
}

TEST_F(XmlMetaTest, RefusedBlocks)
{
    pugi::xml_document none;
    none.append_child("root");
    EXPECT_FALSE(gf_readXmlMeta(none, 0).accepted);

    pugi::xml_document other;
    ASSERT_TRUE(other.load_string(R"(<root><meta><info name="author" value="someone"/><info name="version" value="1.0.0"/></meta></root>)"));
    EXPECT_FALSE(gf_readXmlMeta(other, 0).accepted);

    pugi::xml_document badVersion;
    ASSERT_TRUE(badVersion.load_string(R"(<root><meta><info name="author" value="Quillon"/><info name="version" value="twelve"/></meta></root>)"));
    const auto r = gf_readXmlMeta(badVersion, 0);
    EXPECT_FALSE(r.accepted);
    EXPECT_EQ(r.version, "twelve");

    pugi::xml_document newer;
    ASSERT_TRUE(newer.load_string(R"(<root><meta><info name="author" value="Quillon"/><info name="version" value="13.0.0"/></meta></root>)"));
    EXPECT_TRUE(gf_readXmlMeta(newer, 0).accepted);
    EXPECT_FALSE(gf_readXmlMeta(newer, 1).accepted);
}

} // namespace
} // namespace qmt::test
