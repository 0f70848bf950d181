// The image readers on pictures built from bytes: sizes, depths, EXIF and
// text fields, the JPEG profiles, damaged metadata and the bounds.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_image.h>
#include <tarvo_tag/tag_limits.h>
#include <tarvo_test.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "image_bytes.h"
#include "tag_test.h"

using namespace image_bytes;
using tag_test::props;

namespace {

// Each name has its value.
void expect_all(const props &p, std::initializer_list<std::pair<const char *, const char *>> want)
{
  for (auto [name, value] : want) EXPECT_EQ(p.get(name), value) << name;
}

// Bytes this process read from files while f ran.
template <class F>
uint64_t bytes_read(F f)
{
  auto rchar = [] {
    std::string io = tarvo_test::read_file("/proc/self/io");
    return std::stoull(io.substr(io.find("rchar: ") + 7));
  };
  uint64_t before = rchar();
  f();
  return rchar() - before;
}

struct jpeg_result {
  int ok;
  jpeg_info j;
  std::string date, comment, copyright;
};

jpeg_result parse_jpeg(const std::string &bytes)
{
  picture pic(bytes);
  jpeg_result r{};
  r.ok = jpeg_info_parse(&r.j, pic.fd);
  if (r.ok) {
    r.date = r.j.date ? r.j.date : "<none>";
    r.comment = r.j.comment ? r.j.comment : "<none>";
    r.copyright = r.j.copyright ? r.j.copyright : "<none>";
    jpeg_info_free(&r.j);
  }
  return r;
}

std::string profile_of(uint16_t w, uint16_t h)
{
  picture pic(jpeg(frame(w, h)));
  props p;
  if (!pic.read(tag_jpeg_read, "image/jpeg", p)) return "<failed>";
  std::string pi = p.get("res@protocolInfo");
  size_t at = pi.find("DLNA.ORG_PN=");
  return at == std::string::npos ? "none" : pi.substr(at + 12, pi.find(';', at) - at - 12);
}

// IFD0 with orientation and copyright, pointing to an Exif IFD with the
// original date.
std::string camera_exif(bool big)
{
  return tiff(big, {{short1(big, 0x0112, 6), ascii(0x8298, "(c) Someone"), pointer(0x8769, 1)},
                    {ascii(0x9003, "2009:05:03 12:34:56")}});
}

}  // namespace

TEST(TagImage, JpegProfileAndDepthFollowTheFrame)
{
  EXPECT_EQ(profile_of(640, 480), "JPEG_SM");
  EXPECT_EQ(profile_of(641, 480), "JPEG_MED");
  EXPECT_EQ(profile_of(1024, 768), "JPEG_MED");
  EXPECT_EQ(profile_of(4096, 4096), "JPEG_LRG");
  EXPECT_EQ(profile_of(4097, 10), "none");
  for (auto [components, depth] : {std::pair{1, 8u}, {3, 24u}, {4, 24u}}) {
    jpeg_result r = parse_jpeg(jpeg(frame(20, 10, components)));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.j.width, 20);
    EXPECT_EQ(r.j.height, 10);
    EXPECT_EQ(r.j.depth, depth);
  }
  // Only what comes before the scan counts.
  picture late("\xFF\xD8" + segment(0xFFDA, "x") + frame(20, 10));
  props p;
  ASSERT_TRUE(late.read(tag_jpeg_read, "image/jpeg", p));
  EXPECT_EQ(p.get("res@resolution"), "<none>");
  EXPECT_EQ(p.get("res@colorDepth"), "0");
  EXPECT_NE(p.get("res@protocolInfo").find("JPEG_SM"), std::string::npos);
}

TEST(TagImage, JpegExifInBothByteOrdersGivesDateRightsAndOrientation)
{
  for (bool big : {false, true}) {
    std::string bytes = jpeg(exif_segment(camera_exif(big)) + segment(0xFFFE, "first") + frame(800, 600) +
                             segment(0xFFFE, "A comment"));
    jpeg_result r = parse_jpeg(bytes);
    ASSERT_TRUE(r.ok) << big;
    EXPECT_EQ(r.j.orientation, 6u);
    EXPECT_EQ(r.date, "2009:05:03 12:34:56");
    EXPECT_EQ(r.copyright, "(c) Someone");
    EXPECT_EQ(r.comment, "A comment");

    picture pic(bytes);
    setenv("TZ", "UTC", 1);
    std::string item = tag_test::item(pic.path, "image/jpeg");
    EXPECT_NE(item.find("<dc:date>2009-05-03T12:34:56</dc:date>"), std::string::npos) << item;
    EXPECT_NE(item.find("<dc:rights>(c) Someone</dc:rights>"), std::string::npos);
    EXPECT_NE(item.find("<dc:description>A comment</dc:description>"), std::string::npos);
    EXPECT_NE(item.find("<upnp:album>Pictures</upnp:album>"), std::string::npos);
    EXPECT_NE(item.find("resolution=\"800x600\""), std::string::npos);
  }
  // A date that is not all digits gives the file's own date.
  std::string odd = tiff(false, {{ascii(0x9003, "2009:05:03 12:34:5x")}});
  picture pic(jpeg(exif_segment(odd) + frame(8, 8)));
  props p;
  ASSERT_TRUE(pic.read(tag_jpeg_read, "image/jpeg", p));
  EXPECT_EQ(p.get("dc:date"), "<none>");
}

// A photo with damaged EXIF used to fail as a whole and vanish from the
// server; the block is now passed over and the frame behind it still read.
TEST(TagImage, DamagedExifIsIgnoredAndTheWalkGoesOn)
{
  std::string good = camera_exif(false);
  auto patched = [&](size_t at, const std::string &bytes) { return std::string(good).replace(at, bytes.size(), bytes); };
  std::string bad_count = tiff(false, {{{0x0112, 3, 2, le16(6) + le16(6)}, ascii(0x8298, "(c) Someone")}});
  const std::pair<const char *, std::string> cases[] = {
      {"unknown byte order", patched(0, "XX")},
      {"bad magic", patched(2, le16(43))},
      {"IFD0 out of bounds", patched(4, le32(0x7FFFFFF0))},
      {"entries out of bounds", patched(8, le16(5000))},
      {"orientation count 2", bad_count},
      {"value out of bounds", tiff(false, {{{0x8298, 2, 0xFFFFFFF0u, "long"}}}).replace(18, 4, le32(0xFFFFFFF0u))},
  };
  for (const auto &[name, block] : cases) {
    jpeg_result r = parse_jpeg(jpeg(exif_segment(block) + frame(1024, 768)));
    ASSERT_TRUE(r.ok) << name;
    EXPECT_EQ(r.j.width, 1024) << name;
    EXPECT_EQ(r.j.height, 768) << name;
    EXPECT_EQ(r.j.orientation, 0u) << name;
    EXPECT_EQ(r.copyright, "<none>") << name;
  }
}

// Any number of 0xFF fill bytes may stand before a marker code.
TEST(TagImage, FillBytesBeforeAMarkerAreSkipped)
{
  jpeg_result r = parse_jpeg(jpeg(segment(0xFFE0, "JFIF") + "\xFF\xFF\xFF" + frame(300, 200)));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.j.width, 300);
  EXPECT_EQ(r.j.height, 200);
}

TEST(TagImage, JpegBoundsAndBrokenFiles)
{
  // Exif-IFD pointers are followed four deep, not five.
  auto chain = [](int depth) {
    std::vector<std::vector<entry>> ifds;
    for (int i = 0; i < depth; i++) ifds.push_back({pointer(0x8769, i + 1)});
    ifds.push_back({ascii(0x9003, "2009:05:03 12:34:56")});
    return jpeg(exif_segment(tiff(false, ifds)) + frame(8, 8));
  };
  EXPECT_EQ(parse_jpeg(chain(TAG_EXIF_DEPTH_MAX)).date, "2009:05:03 12:34:56");
  EXPECT_EQ(parse_jpeg(chain(TAG_EXIF_DEPTH_MAX + 1)).date, "<none>");

  // The longest comment kept, and one byte more passed over unread.
  std::string at_cap(TAG_JPEG_COMMENT_MAX, 'c');
  EXPECT_EQ(parse_jpeg(jpeg(segment(0xFFFE, at_cap) + frame(8, 8))).comment, at_cap);
  EXPECT_EQ(parse_jpeg(jpeg(segment(0xFFFE, at_cap + "c") + frame(8, 8))).comment, "<none>");

  // Other APP1 blocks (XMP) and other segments are passed by seeking.
  std::string xmp = segment(0xFFE1, "http://ns.adobe.com/xap/1.0/" + std::string(60000, 'x'));
  std::string icc = segment(0xFFE2, std::string(60000, 'i'));
  picture large(jpeg(xmp + icc + xmp + exif_segment(camera_exif(true)) + frame(8, 8)));
  jpeg_info j;
  EXPECT_LE(bytes_read([&] { ASSERT_TRUE(jpeg_info_parse(&j, large.fd)); }), 1024u);
  EXPECT_EQ(j.orientation, 6u);
  jpeg_info_free(&j);

  // Segment headers past the read budget: the walk gives up.
  std::string many;
  for (uint32_t i = 0; i < TAG_IMAGE_READ_MAX / 4; i++) many += segment(0xFFE5, "");
  EXPECT_FALSE(parse_jpeg(jpeg(many + frame(8, 8))).ok);

  std::string whole = jpeg(frame(8, 8));
  EXPECT_FALSE(parse_jpeg("GIF89a").ok);
  EXPECT_FALSE(parse_jpeg(whole.substr(0, 12)).ok);                       // ends in the frame
  EXPECT_FALSE(parse_jpeg("\xFF\xD8" + be16(0xFFE2) + be16(60000)).ok);  // segment past the end
  EXPECT_FALSE(parse_jpeg("\xFF\xD8" + be16(0xFFE2) + be16(1)).ok);      // length below 2
}

TEST(TagImage, BmpHeaderKinds)
{
  auto parse = [](const std::string &bytes, bmp_info *b) {
    picture pic(bytes);
    return bmp_info_parse(b, pic.fd);
  };
  bmp_info b;
  ASSERT_TRUE(parse(bmp(12, le16(33) + le16(22) + le16(1) + le16(8)), &b));
  EXPECT_EQ(b.kind, 1u);
  EXPECT_EQ(b.width, 33u);
  EXPECT_EQ(b.height, 22u);
  EXPECT_EQ(b.bit_count, 8);

  ASSERT_TRUE(parse(bmp(40, le32(100) + le32(uint32_t(-100)) + le16(1) + le16(24) + le32(0) + le32(1234)), &b));
  EXPECT_EQ(b.kind, 3u);
  EXPECT_EQ(b.height, 100u);
  EXPECT_EQ(b.top_down, 1u);
  EXPECT_EQ(b.image_size, 1234u);

  std::string v5 = le32(7) + le32(5) + le16(1) + le16(32) + std::string(24, '\0') + le32(0xFF0000);
  v5.resize(104, '\0');
  ASSERT_TRUE(parse(bmp(124, v5 + le32(4)), &b));
  EXPECT_EQ(b.kind, 5u);
  EXPECT_EQ(b.ext.v4.red_mask, 0xFF0000u);
  EXPECT_EQ(b.intent, 4u);
  EXPECT_EQ(b.top_down, 0u);

  // OS/2 2.x: fields only as far as the header reaches; a field cut by the
  // end of the header is not taken.
  ASSERT_TRUE(parse(bmp(18, le32(640) + le32(480) + le16(1) + le16(4) + le16(0xBEEF)), &b));
  EXPECT_EQ(b.kind, 2u);
  EXPECT_EQ(b.width, 640u);
  EXPECT_EQ(b.compression, 0u);

  EXPECT_FALSE(parse(bmp(65, ""), &b));
  EXPECT_FALSE(parse(bmp(14, ""), &b));
  EXPECT_FALSE(parse(bmp(40, "").substr(0, 30), &b));
  EXPECT_FALSE(parse("BA" + bmp(40, "").substr(2), &b));

  picture pic(bmp(40, le32(100) + le32(50) + le16(1) + le16(24)));
  props p;
  ASSERT_TRUE(pic.read(tag_bmp_read, "image/bmp", p));
  EXPECT_EQ(p.get("res@resolution"), "100x50");
  EXPECT_EQ(p.get("res@colorDepth"), "24");
}

// -2^31 has no positive int32: its magnitude is taken in unsigned
// arithmetic (a signed negation is undefined behaviour).
TEST(TagImage, BmpHeightOfMinusTwoToTheThirtyFirst)
{
  picture pic(bmp(40, le32(1) + le32(uint32_t(INT32_MIN)) + le16(1) + le16(24)));
  bmp_info b;
  ASSERT_TRUE(bmp_info_parse(&b, pic.fd));
  EXPECT_EQ(b.height, 2147483648u);
  EXPECT_EQ(b.top_down, 1u);
}

TEST(TagImage, PngDepthTextsAndTime)
{
  auto depth = [](int bits, int type) {
    picture pic(png(ihdr(4, 3, bits, type)));
    props p;
    return pic.read(tag_png_read, "image/png", p) ? p.get("res@colorDepth") : "<failed>";
  };
  EXPECT_EQ(depth(8, 3), "24");  // palette
  EXPECT_EQ(depth(8, 6), "24");  // RGBA: alpha not counted
  EXPECT_EQ(depth(16, 0), "16");
  EXPECT_EQ(depth(8, 4), "8");
  EXPECT_EQ(depth(8, 5), "<failed>");

  std::string text = chunk("tEXt", std::string("Title\0 ", 7)) + chunk("tEXt", std::string("Title\0First", 11)) +
                     chunk("tEXt", std::string("Title\0Second", 12)) + chunk("tEXt", std::string("Author\0Ann", 10)) +
                     chunk("tEXt", std::string("Copyright\0(c) Ann", 17)) +
                     chunk("tEXt", std::string("Description\0A view", 18)) + chunk("tEXt", std::string("\0x", 2)) +
                     chunk("tIME", be16(2009) + "\x05\x03\x0C\x22\x38") + chunk("tIME", be16(2010) + "\x01\x01\x01\x01\x01");
  picture pic(png(ihdr(300, 200, 8, 2) + text + chunk("IDAT", "data")));
  props p;
  ASSERT_TRUE(pic.read(tag_png_read, "image/png", p));
  expect_all(p, {{"res@resolution", "300x200"},
                 {"dc:title", "First"},
                 {"dc:creator", "Ann"},
                 {"dc:rights", "(c) Ann"},
                 {"dc:description", "A view"},
                 {"dc:date", "2009-05-03T12:34:56"}});
}

TEST(TagImage, PngBoundsAndBrokenFiles)
{
  auto title = [](const std::string &bytes) {
    picture pic(bytes);
    props p;
    return pic.read(tag_png_read, "image/png", p) ? p.get("dc:title") : "<failed>";
  };
  std::string at_cap(TAG_PNG_TEXT_MAX, 't');
  EXPECT_EQ(title(png(ihdr(1, 1, 8, 2) + chunk("tEXt", std::string("Title\0", 6) + at_cap))), at_cap);
  EXPECT_EQ(title(png(ihdr(1, 1, 8, 2) + chunk("tEXt", std::string("Title\0", 6) + at_cap + "t"))), "<none>");

  EXPECT_EQ(title(png(ihdr(1, 1, 8, 2)).substr(0, 20)), "<failed>");          // cut in IHDR
  EXPECT_EQ(title(png(chunk("IHDR", "short"))), "<failed>");                   // IHDR too short
  EXPECT_EQ(title(png(ihdr(1, 1, 8, 2) + be32(100) + "IDAT")), "<failed>");  // chunk past the end
  EXPECT_EQ(title("\x89PNG\r\n\x1B\n" + ihdr(1, 1, 8, 2)), "<failed>");

  // Image data is passed by seeking: two gigabytes of it (a sparse file)
  // cost nothing.
  std::string head = "\x89PNG\r\n\x1A\n" + ihdr(9, 9, 8, 2) + be32(0x7FFFFFF0u) + "IDAT";
  picture big(head);
  ASSERT_EQ(truncate(big.path.c_str(), off_t(head.size()) + 0x7FFFFFF0 + 4), 0);
  std::string tail = chunk("tEXt", std::string("Title\0After the data", 20)) + chunk("IEND", "");
  int fd = open(big.path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_EQ(write(fd, tail.data(), tail.size()), ssize_t(tail.size()));
  close(fd);
  sys_file_fstat(big.fd, &big.st);
  props p;
  EXPECT_LE(bytes_read([&] { ASSERT_TRUE(big.read(tag_png_read, "image/png", p)); }), 1024u);
  EXPECT_EQ(p.get("dc:title"), "After the data");
}

TEST(TagImage, GifScreen)
{
  picture pic(gif(30, 20, 8));
  props p;
  ASSERT_TRUE(pic.read(tag_gif_read, "image/gif", p));
  EXPECT_EQ(p.get("res@resolution"), "30x20");
  EXPECT_EQ(p.get("res@colorDepth"), "8");
  picture bad("JIF89a" + gif(30, 20, 8).substr(6));
  props q;
  EXPECT_FALSE(bad.read(tag_gif_read, "image/gif", q));
}

namespace {

std::vector<entry> tiff_ifd(const std::vector<entry> &extra, bool with_length = true)
{
  std::vector<entry> e = {long1(false, 256, 40)};
  if (with_length) e.push_back(long1(false, 257, 30));
  for (entry x : {short1(false, 258, 8), short1(false, 262, 1), long1(false, 273, 8), short1(false, 277, 3),
                  long1(false, 278, 30), long1(false, 279, 3600)})
    e.push_back(x);
  e.insert(e.end(), extra.begin(), extra.end());
  std::sort(e.begin(), e.end(), [](const entry &a, const entry &b) { return a.tag < b.tag; });
  return e;
}

// stderr while f runs.
template <class F>
std::string stderr_of(F f)
{
  tarvo_test::scratch_dir d;
  std::string path = d / "err";
  fflush(stderr);
  int saved = dup(2), fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 2);
  close(fd);
  f();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return tarvo_test::read_file(path);
}

}  // namespace

TEST(TagImage, TiffFieldsAndDate)
{
  picture pic(tiff(false, {tiff_ifd({ascii(315, "Bob"), ascii(33432, "(c) Bob"), ascii(270, "A scan"),
                                     ascii(306, "2010:01:02 03:04:05")})}));
  props p;
  ASSERT_TRUE(pic.read(tag_tiff_read, "image/tiff", p));
  expect_all(p, {{"res@resolution", "40x30"},
                 {"res@colorDepth", "24"},
                 {"dc:date", "2010-01-02T03:04:05"},
                 {"dc:creator", "Bob"},
                 {"dc:rights", "(c) Bob"},
                 {"dc:description", "A scan"}});

  // A field larger than the read budget is dropped unread; the others stay.
  std::string xmp(4 * TAG_IMAGE_READ_MAX, 'x');
  picture big(tiff(false, {tiff_ifd({ascii(315, "Bob"), {700, 1, uint32_t(xmp.size()), xmp}})}));
  props b;
  EXPECT_LE(bytes_read([&] { ASSERT_TRUE(big.read(tag_tiff_read, "image/tiff", b)); }), TAG_IMAGE_READ_MAX);
  EXPECT_EQ(b.get("dc:creator"), "Bob");
  EXPECT_EQ(b.get("res@resolution"), "40x30");

  // Without ImageLength the reader fails, and libtiff's complaints stay out
  // of the server's output.
  picture bad(tiff(false, {tiff_ifd({}, false)}));
  props q;
  std::string err = stderr_of([&] { EXPECT_FALSE(bad.read(tag_tiff_read, "image/tiff", q)); });
  EXPECT_EQ(err, "");
  picture junk("II*\0" + le32(0x7FFFFFFF));
  err = stderr_of([&] { EXPECT_FALSE(junk.read(tag_tiff_read, "image/tiff", q)); });
  EXPECT_EQ(err, "");
}

// A DateTime shorter than its 19 characters gave a date from the bytes
// behind its end; it now gives none.
TEST(TagImage, TiffShortDateTimeGivesNoDate)
{
  picture pic(tiff(false, {tiff_ifd({ascii(306, "2010:01:02")})}));
  props p;
  ASSERT_TRUE(pic.read(tag_tiff_read, "image/tiff", p));
  EXPECT_EQ(p.get("dc:date"), "<none>");
  EXPECT_EQ(p.get("res@resolution"), "40x30");
}
