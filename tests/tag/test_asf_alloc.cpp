// Every allocation of the Windows Media readers failing in turn: each call
// must fail cleanly or give the whole result, and leave nothing allocated
// behind.  The heap is interposed here, so the test runs only in builds
// without a sanitizer, which bring their own.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_asf.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "asf_bytes.h"
#include "tag_test.h"
#include "tarvo_alloc_fail.h"

using namespace asf_bytes;
using alloc_fail::every_failure;

TEST(AsfAlloc, HeaderWalkAndReader)
{
  std::string collection = guid("12345678-9ABC-DEF0-0102-030405060708");
  std::string codecs = object(kCodecList, std::string(16, 'r') + le32(1) + le16(2) + le16(4) + utf16("WMA", false) +
                                              std::string(2, '\0') + le16(1) + utf16("") + le16(0));
  std::string bytes = file({file_properties(100000000, 0, 2, 128000), audio(1, 0x161, 2, 44100, 128000), codecs,
                            content_description({utf16("Title"), utf16("Ann"), "", "", ""}),
                            extended_content({{"WM/AlbumTitle", 0, utf16("Album")}, {"WM/Track", 3, le32(2)}}),
                            header_extension(metadata_library({metadata_record("WM/WMCollectionID", 6, collection)}))});
  tarvo_test::scratch_dir d;
  tarvo_test::write_file(d / "a.wma", bytes);
  int fd = open((d / "a.wma").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  sys_file_stat_rec st;
  ASSERT_TRUE(sys_file_fstat(fd, &st));
  every_failure("WMTag_New", [&] {
    lseek(fd, 0, SEEK_SET);
    WMTag *t = WMTag_New(fd);
    if (!t) return 0;
    const char *id = WMTag_GetWMCollectionID(t);
    int r = id && std::strcmp(id, "12345678-9abc-def0-0102-030405060708") == 0 ? 1 : -1;
    WMTag_Delete(t);
    return r;
  }, true);
  every_failure("tag_asf_read", [&] {
    lseek(fd, 0, SEEK_SET);
    tag_test::props p;
    if (!tag_asf_read(fd, &st, "audio/x-ms-wma", p.n(), p.v())) return 0;
    if (p.l.names.len != p.l.values.len) return -1;
    return p.get("dc:title") == "Title" && p.get("upnp:album") == "Album" && p.get("upnp:originalTrackNumber") == "3"
               ? 1
               : 0;
  }, true);
  close(fd);
}
