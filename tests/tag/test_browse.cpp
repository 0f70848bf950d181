// Browse metadata of one file or folder through a filter.
#include <gtest/gtest.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "mp3_test.h"
#include "tag_test.h"

namespace {

struct browsed {
  avcp_didl_object *o = nullptr;
  ~browsed() { avcp_didl_object_free(o); }
  std::string text(const char *element) const
  {
    avcp_didl_property *p = avcp_didl_property_find(o, element);
    return p ? p->text : "<none>";
  }
  std::string res_attribute(const char *name) const
  {
    avcp_didl_property *p = avcp_didl_property_find(o, "res");
    const char *v = p ? avcp_didl_attribute_find(p->attribute_names, p->attribute_values, name) : nullptr;
    return v ? v : "<none>";
  }
};

}  // namespace

TEST(TagBrowse, FolderIsAContainerWithoutRes)
{
  setenv("TZ", "UTC", 1);
  tarvo_test::scratch_dir d;
  std::string p = d / "My.Folder";
  sys_file_stat_rec st{SYS_FILE_IS_DIR, 1241354096, 0, 0, 0, 0, 0};
  browsed b;
  ASSERT_EQ(tarvo_tag_browse_metadata(p.c_str(), -1, &st, "*", &b.o), 1);
  EXPECT_STREQ(b.o->element, "container");
  EXPECT_EQ(b.text("upnp:class"), "object.container");
  EXPECT_EQ(b.text("dc:title"), "My.Folder");
  EXPECT_EQ(b.text("dc:date"), "2009-05-03T12:34:56");
  EXPECT_EQ(b.text("res"), "<none>");
}

TEST(TagBrowse, FileResCarriesItsUriAndFilteredAttributes)
{
  tarvo_test::scratch_dir d;
  std::string p = d / "Music/a b.mp3";
  std::filesystem::create_directories(d.path / "Music");
  std::string mp3 = mp3_test::frames(mp3_test::kind{}, 3);
  tarvo_test::write_file(p, mp3);
  int fd = open(p.c_str(), O_RDONLY);
  sys_file_stat_rec st;
  ASSERT_EQ(sys_file_fstat(fd, &st), 1);

  browsed all;
  ASSERT_EQ(tarvo_tag_browse_metadata(p.c_str(), fd, &st, "*", &all.o), 1);
  EXPECT_STREQ(all.o->element, "item");
  EXPECT_EQ(all.text("res"), "file://" + d.path.string() + "/Music/a%20b.mp3");
  EXPECT_EQ(all.res_attribute("size"), std::to_string(mp3.size()));
  EXPECT_EQ(all.text("upnp:album"), "Music");
  EXPECT_EQ(all.text("dc:title"), "a b");

  // The filter decides what is left of the item.
  browsed some;
  ASSERT_EQ(tarvo_tag_browse_metadata(p.c_str(), fd, &st, "", &some.o), 1);
  EXPECT_EQ(some.text("res"), "<none>");
  EXPECT_EQ(some.text("upnp:album"), "<none>");
  EXPECT_EQ(some.text("upnp:class"), "object.item.audioItem.musicTrack");
  close(fd);
}
