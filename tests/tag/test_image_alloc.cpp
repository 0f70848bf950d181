// The image readers with every allocation failing in turn: each fails
// cleanly, frees what it took and never reports a partial record.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_image.h>
#include <tarvo_test.h>

#include <unistd.h>

#include <cstring>

#include "image_bytes.h"
#include "tag_test.h"
#include "tarvo_alloc_fail.h"

using namespace image_bytes;
using alloc_fail::every_failure;

namespace {

// The reader's result: 1 with the expected property count, 0 failed with
// nothing left behind, -1 otherwise.
int read_count(picture &pic, tag_reader reader, const char *mime, uint32_t count)
{
  lseek(pic.fd, 0, SEEK_SET);
  tag_property_list l{};
  int ok = reader(pic.fd, &pic.st, mime, &l.names, &l.values);
  int r = ok ? (l.names.len == count ? 1 : -1) : 0;
  tag_property_list_clear(&l.names, &l.values);
  sys_ptralloc_free(&l.names);
  sys_ptralloc_free(&l.values);
  return r;
}

}  // namespace

TEST(TagImageAlloc, EveryAllocationFailingInTurn)
{
  std::string exif = tiff(false, {{short1(false, 0x0112, 6), ascii(0x8298, "(c) Someone"), pointer(0x8769, 1)},
                                  {ascii(0x9003, "2009:05:03 12:34:56")}});
  picture jpg(jpeg(exif_segment(exif) + segment(0xFFFE, "A comment") + frame(800, 600)));
  every_failure("jpeg_info_parse", [&] {
    lseek(jpg.fd, 0, SEEK_SET);
    jpeg_info j;
    if (!jpeg_info_parse(&j, jpg.fd)) return 0;
    bool right = j.date && j.comment && j.copyright && !std::strcmp(j.copyright, "(c) Someone");
    jpeg_info_free(&j);
    return right ? 1 : -1;
  });
  // The readers' texts go through the charset conversion, which cannot tell
  // a failed allocation from text it cannot read; the readers are tried on
  // pictures whose properties need none.
  picture plain_jpg(jpeg(exif_segment(tiff(false, {{ascii(0x9003, "2009:05:03 12:34:56")}})) + frame(800, 600)));
  // date, resolution, depth, protocolInfo
  every_failure("jpeg reader", [&] { return read_count(plain_jpg, tag_jpeg_read, "image/jpeg", 4); });

  picture png_file(png(ihdr(3, 2, 8, 2) + chunk("tEXt", std::string("Comment\0T", 9)) +
                       chunk("tIME", be16(2009) + "\x05\x03\x0C\x22\x38")));
  // resolution, depth, date, protocolInfo
  every_failure("png reader", [&] { return read_count(png_file, tag_png_read, "image/png", 4); });

  picture bmp_file(bmp(40, le32(100) + le32(50) + le16(1) + le16(24)));
  every_failure("bmp reader", [&] { return read_count(bmp_file, tag_bmp_read, "image/bmp", 3); });

  picture gif_file(gif(30, 20, 8));
  every_failure("gif reader", [&] { return read_count(gif_file, tag_gif_read, "image/gif", 3); });
  // TIFF is left out: libtiff 4.5 itself crashes closing a directory whose
  // reading ran out of memory.
}
