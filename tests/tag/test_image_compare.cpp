// JPEG, PNG, GIF, BMP and TIFF files made by ImageMagick (tags set by
// exiftool), read through the dump program and held against what identify
// and exiftool say of them.
#include <gtest/gtest.h>

#include <string>

#include "tag_tools.h"

using namespace tag_tools;

namespace {

class ImageCompare : public compare_test {
 protected:
  std::string identify_size(const std::string &path)
  {
    return run("identify -format '%wx%h' " + quote(path + "[0]")).out;
  }
  bool convert(const std::string &args, const std::string &path)
  {
    return generate("convert " + args + " " + quote(path), path);
  }
  bool exiftool(const std::string &args, const std::string &path)
  {
    return run("exiftool -q -overwrite_original " + args + " " + quote(path)).status == 0;
  }
};

}  // namespace

TEST_F(ImageCompare, JpegAgreesWithIdentifyAndExiftool)
{
  TAG_TOOLS_REQUIRE("convert", "identify", "exiftool");
  std::string j = d / "photo.jpg";
  ASSERT_TRUE(convert("-size 1024x700 gradient:red-blue -set comment 'Taken at dawn'", j));
  ASSERT_TRUE(exiftool("-n -Orientation=6 -DateTimeOriginal='2009:05:03 12:34:56' -Copyright='(c) Ann'", j));
  std::string it = item(j, "image/jpeg");
  EXPECT_EQ(res_attribute(it, "resolution"), identify_size(j));
  EXPECT_EQ(res_attribute(it, "colorDepth"), "24");
  EXPECT_NE(res_attribute(it, "protocolInfo").find("DLNA.ORG_PN=JPEG_MED;"), std::string::npos);
  std::string date = exiftool_field(j, "DateTimeOriginal");  // 2009:05:03 12:34:56
  ASSERT_EQ(date.size(), 19u);
  EXPECT_EQ(element(it, "dc:date"), date.substr(0, 4) + "-" + date.substr(5, 2) + "-" + date.substr(8, 2) + "T" +
                                        date.substr(11));
  EXPECT_EQ(element(it, "dc:rights"), exiftool_field(j, "Copyright"));
  EXPECT_EQ(element(it, "dc:description"), exiftool_field(j, "Comment"));

  result r = dump({"--jpeg-info", j});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1024 700 24 " + exiftool_field(j, "Orientation", true) + "\n" + date + "\n" +
                       exiftool_field(j, "Comment") + "\n" + exiftool_field(j, "Copyright") + "\n");

  std::string grey = d / "grey.jpg";
  ASSERT_TRUE(convert("-size 640x480 gradient: -colorspace Gray", grey));
  it = item(grey, "image/jpeg");
  EXPECT_EQ(res_attribute(it, "colorDepth"), "8");
  EXPECT_NE(res_attribute(it, "protocolInfo").find("DLNA.ORG_PN=JPEG_SM;"), std::string::npos);
  EXPECT_EQ(dump({"--jpeg-info", d / "missing.jpg"}).status, 1);
}

TEST_F(ImageCompare, PngGifBmpAgreeWithIdentify)
{
  TAG_TOOLS_REQUIRE("convert", "identify", "exiftool");
  std::string p = d / "art.png", g = d / "anim.gif", b = d / "old.bmp", b3 = d / "os2.bmp";
  ASSERT_TRUE(convert("-size 300x200 gradient: -depth 8 -set Title 'A title' -set Author 'Ann' "
                      "-set Copyright '(c) Ann' -set Description 'Hills'",
                      p));
  ASSERT_TRUE(convert("-size 31x17 xc:blue -size 31x17 xc:red", g));
  ASSERT_TRUE(convert("-size 33x22 xc:green -type truecolor", b));
  ASSERT_TRUE(generate("convert -size 12x9 xc:green " + quote("bmp2:" + b3), b3));  // the 12-byte header
  std::string it = item(p, "image/png");
  EXPECT_EQ(res_attribute(it, "resolution"), identify_size(p));
  EXPECT_EQ(element(it, "dc:title"), exiftool_field(p, "Title"));
  EXPECT_EQ(element(it, "dc:creator"), exiftool_field(p, "Author"));
  EXPECT_EQ(element(it, "dc:rights"), exiftool_field(p, "Copyright"));
  EXPECT_EQ(element(it, "dc:description"), exiftool_field(p, "Description"));
  EXPECT_EQ(res_attribute(it, "colorDepth"), "8");  // grey, 8 bits

  it = item(g, "image/gif");
  EXPECT_EQ(res_attribute(it, "resolution"), identify_size(g));
  EXPECT_EQ(res_attribute(it, "colorDepth"), exiftool_field(g, "ColorResolutionDepth", true));

  for (const std::string &f : {b, b3}) {
    it = item(f, "image/bmp");
    EXPECT_EQ(res_attribute(it, "resolution"), identify_size(f)) << f;
    EXPECT_EQ(res_attribute(it, "colorDepth"), exiftool_field(f, "BitDepth", true)) << f;
  }
}

TEST_F(ImageCompare, TiffAgreesWithIdentifyAndExiftool)
{
  TAG_TOOLS_REQUIRE("convert", "identify", "exiftool");
  std::string t = d / "scan.tif";
  ASSERT_TRUE(convert("-size 64x48 gradient:red-blue -depth 8", t));
  ASSERT_TRUE(exiftool("-Artist=Bob -Copyright='(c) Bob' -ImageDescription='A scan' "
                       "-ModifyDate='2010:01:02 03:04:05'",
                       t));
  std::string it = item(t, "image/tiff");
  EXPECT_EQ(res_attribute(it, "resolution"), identify_size(t));
  EXPECT_EQ(res_attribute(it, "colorDepth"), "24");
  EXPECT_EQ(element(it, "dc:creator"), exiftool_field(t, "Artist"));
  EXPECT_EQ(element(it, "dc:rights"), exiftool_field(t, "Copyright"));
  EXPECT_EQ(element(it, "dc:description"), exiftool_field(t, "ImageDescription"));
  EXPECT_EQ(element(it, "dc:date"), "2010-01-02T03:04:05");
}
