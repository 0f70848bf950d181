// The management tool's settings: the item rules of its XML files, the
// paths composed from them, and the exit when anything is missing.
#include "tarvo_test.h"
#include "tool_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace tarvo_test;

namespace {

std::string load(const scratch_dir &dir, const std::string &xml, int *ok)
{
  write_file(dir / "f.xml", xml);
  std::map<std::string, std::string> items;
  *ok = tool_xml_items_load(dir / "f.xml", &items);
  std::string out;
  for (auto &[k, v] : items) out += k + "=" + v + ";";
  return out;
}

TEST(ToolSettings, ItemRules)
{
  scratch_dir dir;
  int ok = 0;
  // The root's first child counts whatever its name; later items win; other
  // siblings are skipped.
  EXPECT_EQ(load(dir,
                 "<r><first><id>A</id><value>1</value></first><other><id>B</id><value>2</value></other>"
                 "<item><id>A</id><value>3</value></item><item><id>C</id><value>x &amp; y</value></item></r>",
                 &ok),
            "A=3;C=x & y;");
  EXPECT_EQ(ok, 1);
  load(dir, "<r/>", &ok);
  EXPECT_EQ(ok, 1);
  load(dir, "<r><item><id>A</id><value></value></item></r>", &ok);
  EXPECT_EQ(ok, 0);
  load(dir, "<r><!-- c --><item><id>A</id><value>1</value></item></r>", &ok);
  EXPECT_EQ(ok, 0);
  load(dir, "<r><item><id>A</id><value>1</value></item><item><value>2</value></item></r>", &ok);
  EXPECT_EQ(ok, 0);
  load(dir, "<r><item>", &ok);
  EXPECT_EQ(ok, 0);
  // A UTF-8 sequence cut by the end of the file took the parser past the
  // text (found by fuzz_tool_xml); ill-formed UTF-8 and NUL bytes fail.
  load(dir, "<r><item><id>APPLICA\xe3" "A", &ok);
  EXPECT_EQ(ok, 0);
  load(dir, std::string("<r><item><id>A\0</id><value>1</value></item></r>", 47), &ok);
  EXPECT_EQ(ok, 0);
  load(dir, "<r>" + std::string(TOOL_XML_FILE_MAX, ' ') + "</r>", &ok);
  EXPECT_EQ(ok, 0);
  std::map<std::string, std::string> none;
  EXPECT_FALSE(tool_xml_items_load(dir / "missing.xml", &none));

  EXPECT_EQ(tool_port("30002"), 30002u);
  EXPECT_EQ(tool_port("65535x"), 65535u);
  EXPECT_EQ(tool_port("65536"), 0u);
  EXPECT_EQ(tool_port("abc"), 0u);
}

// A program folder with the shipped setting.xml and texts, and an
// application-data folder with the ini file.
struct tool_tree {
  scratch_dir prog, data;
  tool_tree(const char *ini)
  {
    std::filesystem::path bin = std::getenv("TARVO_BIN");
    std::filesystem::copy(bin / "setting.xml", prog.path / "setting.xml");
    std::filesystem::copy(bin / "text", prog.path / "text", std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(data.path / "tarvo/haldor");
    if (ini) write_file(data / "tarvo/haldor/haldor.ini", ini);
    setenv("TARVO_SERVICE_DIR", prog.path.c_str(), 1);
    setenv("TARVO_COMMON_APPDATA", data.path.c_str(), 1);
  }
};

TEST(ToolSettings, PathsAndTextsFromTheShippedFiles)
{
  tool_tree tree("[General]\r\nLang=ja\r\n");
  CToolSettings s;
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(tool_port(s.Setting("DMSM_PORT")), 30002u);
  EXPECT_EQ(tool_port(s.Setting("UPNP_PORT")), 30000u);
  EXPECT_EQ(s.Setting("NO_SUCH_KEY"), "");
  std::string path;
  ASSERT_TRUE(s.TextPath(&path));
  EXPECT_EQ(path, tree.prog / "text/text_ja.xml");
  ASSERT_TRUE(s.PagePath(&path));
  EXPECT_EQ(path, tree.prog / "page/ja/index.html");
  ASSERT_TRUE(s.IniPath(&path));
  EXPECT_EQ(path, tree.data / "tarvo/haldor/haldor.ini");
  EXPECT_EQ(s.Text("CONTROL_START_SERVER"), "サーバーを開始");
  // Both languages carry every key.
  std::map<std::string, std::string> en, ja;
  ASSERT_TRUE(tool_xml_items_load(tree.prog / "text/text_en.xml", &en));
  ASSERT_TRUE(tool_xml_items_load(tree.prog / "text/text_ja.xml", &ja));
  EXPECT_EQ(en.size(), 17u);
  for (auto &[k, v] : en) EXPECT_TRUE(ja.count(k)) << k;
}

TEST(ToolSettingsDeathTest, MissingIniOrEmptyLanguageEndsTheProgram)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  {
    tool_tree tree(nullptr);
    EXPECT_EXIT(CToolSettings::Instance(), testing::ExitedWithCode(1), "");
  }
  {
    tool_tree tree("[General]\nLang=\n");
    EXPECT_EXIT(CToolSettings::Instance(), testing::ExitedWithCode(1), "");
  }
  {
    tool_tree tree("[General]\nLang=xx\n");  // no text file for that language
    EXPECT_EXIT(CToolSettings::Instance(), testing::ExitedWithCode(1), "");
  }
}

}  // namespace
