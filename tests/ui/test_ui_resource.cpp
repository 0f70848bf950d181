// Resource tables in both languages with an override library beside the
// program, and the version record read back from a built program.
#include <tarvo_ui/ui_resource.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tarvo_test.h"

namespace {

const UI_RESOURCE_ROW strings[] = {
    {0, 7, "Mine", "私の"}, {0, 8, "Title", "タイトル"}, {0, 9, "English only", nullptr}};
const UI_RESOURCE_ROW menus[] = {{5, 1, "Open", "開く"}, {6, 1, "Open", nullptr}, {6, 0, nullptr, nullptr},
                                 {6, 2, "Exit", "終了"}};
const UI_RESOURCE_ROW dialogs[] = {{100, 0, "About", "バージョン情報"}, {100, 1, "OK", nullptr}};
const UI_RESOURCE_TABLE table = {strings, 3, menus, 4, dialogs, 2};

std::string text(UINT id)
{
  char buf[64];
  return LoadString(id, buf, sizeof buf) ? buf : "(none)";
}

TEST(UiResource, LanguagesOverrideAndLimits)
{
  // The override library is looked for once, in the program's folder.
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  setenv("TARVO_SERVICE_DIR", std::filesystem::path(self).parent_path().c_str(), 1);
  UiSetResources(&table);
  setenv("LC_ALL", "en_US.UTF-8", 1);
  EXPECT_EQ(text(7), "Overridden");
  EXPECT_EQ(text(8), "Title");
  EXPECT_EQ(text(10), "(none)");
  UI_RESOURCE_ROW items[4];
  EXPECT_EQ(LoadMenuItems(5, items, 4), 1u);  // the override's menu, whole
  EXPECT_STREQ(items[0].en, "Only");
  ASSERT_EQ(LoadMenuItems(6, items, 2), 3u);
  EXPECT_STREQ(UiRowText(&items[1]), nullptr);  // separator
  char small[5];
  EXPECT_EQ(LoadString(8, small, sizeof small), 0u);  // "Title" and its NUL need 6
  char buf[64];
  ASSERT_EQ(LoadDialogText(100, 0, buf, sizeof buf), 5u);
  EXPECT_STREQ(buf, "About");

  setenv("LC_ALL", "ja_JP.UTF-8", 1);
  EXPECT_EQ(text(7), "上書き");
  EXPECT_EQ(text(8), "タイトル");
  EXPECT_EQ(text(9), "English only");
  ASSERT_TRUE(LoadDialogText(100, 0, buf, sizeof buf));
  EXPECT_STREQ(buf, "バージョン情報");
  setenv("LC_ALL", "jav_ID.UTF-8", 1);  // another language that begins with "ja"
  EXPECT_EQ(text(8), "Title");
  unsetenv("LC_ALL");
  setenv("LC_MESSAGES", "ja", 1);
  EXPECT_EQ(text(8), "タイトル");
  unsetenv("LC_MESSAGES");
}

TEST(UiResource, VersionRecordOfABuiltProgram)
{
  std::string haldor = std::string(std::getenv("TARVO_BIN")) + "/haldor";
  char buf[64];
  ASSERT_TRUE(UiVersionValue(haldor.c_str(), "ProductName", buf, sizeof buf));
  EXPECT_STREQ(buf, "Tarvo Media Server Tool");
  ASSERT_TRUE(UiVersionValue(haldor.c_str(), "ProductVersion", buf, sizeof buf));
  EXPECT_STREQ(buf, "1.0.0");
  EXPECT_FALSE(UiVersionValue(haldor.c_str(), "Product", buf, sizeof buf));
  EXPECT_FALSE(UiVersionValue(haldor.c_str(), "ProductVersion", buf, 5));  // "1.0.0" needs 6
  // A program without the section, a cut image and a text file have none.
  std::string uictl = std::string(std::getenv("TARVO_BIN")) + "/uictl";
  EXPECT_FALSE(UiVersionValue(uictl.c_str(), "ProductName", buf, sizeof buf));
  std::string image = tarvo_test::read_file(haldor);
  EXPECT_FALSE(UiVersionValueIn(reinterpret_cast<const uint8_t *>(image.data()), image.size() - 64, "ProductName", buf,
                                sizeof buf));  // the section table is at the end
  EXPECT_FALSE(UiVersionValue("/etc/hostname", "ProductName", buf, sizeof buf));
}

}  // namespace
