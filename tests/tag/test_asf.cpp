// ASF headers built from bytes: the collection id, the item the reader
// makes of a header, the Windows Media profiles, and headers whose objects
// lie about their sizes.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_asf.h>
#include <tarvo_test.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/utf8file.h>

#include <cctype>
#include <memory>

#include "asf_bytes.h"
#include "tag_test.h"
#include "tag_tools.h"

using namespace asf_bytes;
using tag_test::props;

namespace {

const std::string kCollection = guid("12345678-9ABC-DEF0-0102-030405060708");

class Asf : public ::testing::Test {
 protected:
  tarvo_test::scratch_dir d;
  std::unique_ptr<props> p;

  std::string put(const std::string &bytes)
  {
    std::string path = d / "file.asf";
    tarvo_test::write_file(path, bytes);
    return path;
  }
  // WMTag_New on the bytes; the object is freed by the caller.
  WMTag *tag(const std::string &bytes)
  {
    int file;
    if (!utf8file_open_read(&file, put(bytes).c_str())) return nullptr;
    WMTag *t = WMTag_New(file);
    sys_file_close(file);
    return t;
  }
  bool readable(const std::string &bytes)
  {
    WMTag *t = tag(bytes);
    WMTag_Delete(t);
    return t != nullptr;
  }
  props &read(const std::string &bytes, const char *mime)
  {
    std::string path = put(bytes);
    p = std::make_unique<props>();
    EXPECT_EQ(tarvo_tag_get_properties(path.c_str(), mime, p->n(), p->v()), 1);
    return *p;
  }
  // The profile name of the protocolInfo, "" for none.
  static std::string profile(const props &r)
  {
    std::string info = r.get("res@protocolInfo");
    size_t at = info.find("DLNA.ORG_PN=");
    return at == std::string::npos ? "" : info.substr(at + 12, info.find(';', at) - at - 12);
  }
};

std::string wma_file(std::vector<std::string> more, uint32_t max_bitrate = 128000)
{
  more.insert(more.begin(), {file_properties(100000000, 0, 2, max_bitrate), audio(1, 0x161, 2, 44100, 128000)});
  return file(more);
}

}  // namespace

TEST_F(Asf, CollectionIdFromTheMetadataLibrary)
{
  std::string library = metadata_library({metadata_record("WM/Picture", 1, std::string(300, 'p')),
                                          metadata_record("WM/WMCollectionID", 6, kCollection),
                                          metadata_record("WM/Other", 6, kCollection)});
  WMTag *t = tag(wma_file({header_extension(library)}));
  ASSERT_NE(t, nullptr);
  char *id = WMTag_GetWMCollectionID(t);
  ASSERT_NE(id, nullptr);
  EXPECT_STREQ(id, "12345678-9abc-def0-0102-030405060708");
  // The caller may change the letters in place.
  for (char *c = id; *c; c++) *c = char(std::toupper(static_cast<unsigned char>(*c)));
  EXPECT_STREQ(WMTag_GetWMCollectionID(t), "12345678-9ABC-DEF0-0102-030405060708");
  WMTag_Delete(t);

  tag_tools::result r = tag_tools::dump({"--wm-collection-id", put(wma_file({library}))});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "12345678-9abc-def0-0102-030405060708\n");
  r = tag_tools::dump({"--wm-collection-id", put(wma_file({}))});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  // A record reaching past its object refuses the header.
  std::string cut = metadata_library({metadata_record("WM/WMCollectionID", 6, kCollection)});
  cut.replace(16, 8, le64(cut.size() - 4));
  EXPECT_FALSE(readable(wma_file({cut, std::string(40, '\0')})));
}

TEST_F(Asf, ItemFromTheHeader)
{
  std::string one_title = std::string("\x00\x4e", 2) + utf16(" title");  // U+4E00 first
  std::string f = file({file_properties(103000000, 300, 2, 192000), audio(1, 0x161, 2, 44100, 128000),
                        content_description({utf16("First"), utf16("Ann"), utf16("(c) Ann"), "", ""}),
                        extended_content({{"Title", 0, one_title},
                                          {"WM/AlbumTitle", 0, utf16("Album")},
                                          {"WM/Genre", 0, utf16("Jazz")},
                                          {"WM/Track", 3, le32(4)},
                                          {"WM/Empty", 0, ""}})});
  props &r = read(f, "audio/x-ms-wma");
  EXPECT_EQ(r.get("res@duration"), "0:00:10");
  EXPECT_EQ(r.get("res@bitrate"), std::to_string(f.size() / 10));
  EXPECT_EQ(r.get("res@nrAudioChannels"), "2");
  EXPECT_EQ(r.get("res@sampleFrequency"), "44100");
  EXPECT_EQ(profile(r), "WMABASE");
  // The value read last wins.
  EXPECT_EQ(r.get("dc:title"), "\xe4\xb8\x80 title");
  EXPECT_EQ(r.get("dc:creator"), "Ann");
  EXPECT_EQ(r.get("upnp:artist"), "Ann");
  EXPECT_EQ(r.get("dc:rights"), "(c) Ann");
  EXPECT_EQ(r.get("upnp:album"), "Album");
  EXPECT_EQ(r.get("upnp:genre"), "Jazz");
  EXPECT_EQ(r.get("upnp:originalTrackNumber"), "5");
  // In a video item the author is no artist.
  props &v = read(file({file_properties(10000000, 0, 2, 900000), video(1, 320, 240), audio(2, 0x161, 1, 22050, 64000),
                        content_description({"", utf16("Ann"), "", "", ""})}),
                  "video/x-ms-wmv");
  EXPECT_EQ(v.get("dc:creator"), "Ann");
  EXPECT_EQ(v.get("upnp:artist"), "<none>");
  EXPECT_EQ(v.get("res@resolution"), "320x240");
}

TEST_F(Asf, TrackNumberForms)
{
  struct {
    descriptor track;
    const char *want;
  } cases[] = {{{"WM/TrackNumber", 0, utf16("4/12")}, "4"},
               {{"WM/TrackNumber", 0, utf16("A1")}, "A1"},
               {{"WM/Track", 0, utf16("4")}, "5"},
               {{"WM/Track", 0, utf16("A1")}, "<none>"},
               // A DWORD of two bytes is no number.
               {{"WM/TrackNumber", 3, le16(7)}, "<none>"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(read(wma_file({extended_content({c.track})}), "audio/x-ms-wma").get("upnp:originalTrackNumber"), c.want);
  }
}

TEST_F(Asf, Profiles)
{
  struct {
    const char *name, *mime;
    std::vector<std::string> streams;
    uint32_t max_bitrate;
    const char *profile, *resolution;
  } cases[] = {
      {"wma at 192000", "audio/x-ms-wma", {audio(1, 0x161, 2, 44100, 128000)}, 192000, "WMABASE", "<none>"},
      {"wma at 193000", "audio/x-ms-wma", {audio(1, 0x161, 2, 44100, 128000)}, 193000, "WMAFULL", "<none>"},
      {"mp3 in asf", "audio/x-ms-wma", {audio(1, 0x55, 2, 44100, 128000)}, 128000, "", "<none>"},
      {"wmv cif", "video/x-ms-wmv", {video(1, 352, 288), audio(2, 0x161, 2, 44100, 128000)}, 2000000, "", "352x288"},
      {"wmv high pro", "video/x-ms-wmv", {video(1, 1280, 720), audio(2, 0x162, 2, 44100, 128000)}, 6000000,
       "WMVHIGH_PRO", "1280x720"},
      {"wmv high without audio", "video/x-ms-wmv", {video(1, 1280, 720)}, 6000000, "", "1280x720"},
      {"two videos", "video/x-ms-wmv", {video(1, 720, 480), video(2, 720, 480), audio(3, 0x161, 2, 44100, 128000)},
       2000000, "", "<none>"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> objects{file_properties(50000000, 0, 2, c.max_bitrate)};
    objects.insert(objects.end(), c.streams.begin(), c.streams.end());
    props &r = read(file(objects), c.mime);
    EXPECT_EQ(profile(r), c.profile);
    EXPECT_EQ(r.get("res@resolution"), c.resolution);
  }
  // ASF without video is served as audio and profiled as audio.
  props &a = read(wma_file({}, 128000), "video/x-ms-asf");
  EXPECT_EQ(a.get("upnp:class"), "object.item.audioItem.musicTrack");
  EXPECT_EQ(a.get("res@protocolInfo").rfind("http-get:*:audio/x-ms-asf:DLNA.ORG_PN=WMABASE;", 0), 0u);
  // A video item without a maximum bitrate, or without video, is no item.
  for (const std::string &bad : {file({file_properties(50000000, 0, 2, 0), video(1, 720, 480)}), wma_file({})}) {
    EXPECT_EQ(read(bad, "video/x-ms-wmv").get("res@protocolInfo").find("application/octet-stream"), 11u);
  }
}

TEST_F(Asf, BinaryMediaStreams)
{
  std::string wfx = waveformatex(0x50, 2, 48000, 24000);
  auto channels = [&](const std::string &stream) {
    return read(file({file_properties(50000000, 0, 2, 400000), stream}), "audio/x-ms-wma").get("res@nrAudioChannels");
  };
  EXPECT_EQ(channels(binary(1, kMajorRecordedAudio, kMpeg1Payload, kFormatWaveFormatEx, wfx)), "2");
  // Wrapped types stand for the GUIDs at the end of the format data.
  EXPECT_EQ(channels(binary(1, kMajorRecordedAudio, kWrapped, kWrapped, wfx + kMpeg1Payload + kFormatWaveFormatEx)),
            "2");
  EXPECT_FALSE(readable(file({binary(1, kMajorRecordedAudio, kWrapped, kWrapped, wfx)})));
  // Video carried as binary media refuses the header; so does a short
  // WAVEFORMATEX.
  EXPECT_FALSE(readable(file({binary(1, kMajorVideo, kMpeg1Payload, kFormatWaveFormatEx, wfx)})));
  EXPECT_FALSE(readable(file({binary(1, kMajorRecordedAudio, kMpeg1Payload, kFormatWaveFormatEx, wfx.substr(0, 16))})));
}

TEST_F(Asf, TimingWithoutAValidDuration)
{
  // Preroll (ms) as long as the play duration, or longer: no duration, no
  // bitrate, where the subtraction used to wrap to thousands of hours.
  for (uint64_t preroll : {uint64_t(5000), uint64_t(6000), UINT64_MAX / 1000}) {
    props &r = read(file({file_properties(50000000, preroll, 2, 128000), audio(1, 0x161, 2, 44100, 128000)}),
                    "audio/x-ms-wma");
    EXPECT_EQ(r.get("res@duration"), "<none>") << preroll;
    EXPECT_EQ(r.get("res@bitrate"), "<none>") << preroll;
  }
  props &just = read(file({file_properties(50000000, 4999, 2, 128000), audio(1, 0x161, 2, 44100, 128000)}),
                     "audio/x-ms-wma");
  EXPECT_EQ(just.get("res@duration"), "0:00:00.001");
  // A broadcast file has neither.
  props &b = read(file({file_properties(50000000, 0, 3, 128000), audio(1, 0x161, 2, 44100, 128000)}),
                  "audio/x-ms-wma");
  EXPECT_EQ(b.get("res@duration"), "<none>");
  EXPECT_EQ(b.get("res@nrAudioChannels"), "2");
}

TEST_F(Asf, ObjectsThatLieAboutTheirSize)
{
  std::string good = wma_file({});
  ASSERT_TRUE(readable(good));
  // An unknown object smaller than its own header, or one past the file.
  std::string unknown = guid("01020304-0506-0708-090A-0B0C0D0E0F10");
  for (uint64_t size : {uint64_t(0), uint64_t(23), uint64_t(1) << 40})
    EXPECT_FALSE(readable(wma_file({unknown + le64(size)}))) << size;
  // A codec entry whose name runs past the codec list.
  std::string codecs = object(kCodecList, std::string(16, 'r') + le32(1) + le16(2) + le16(40) + utf16("WMA"));
  EXPECT_FALSE(readable(wma_file({codecs, std::string(100, '\0')})));
  // A video format shorter than BITMAPINFOHEADER; an index before the data;
  // no data object at all.
  std::string video_short = stream_properties(kVideoMedia, 1, le32(16) + le32(16) + "\x02" + le16(39) +
                                                                  std::string(39, '\0'));
  EXPECT_FALSE(readable(wma_file({video_short})));
  EXPECT_FALSE(readable(wma_file({}).insert(good.size() - 50, object(kSimpleIndex, std::string(40, '\0')))));
  EXPECT_FALSE(readable(good.substr(0, good.size() - 50)));
  // Text of odd length is read to its last whole unit, and never past the
  // value (the sanitizer builds see any byte beyond).
  props &r = read(wma_file({content_description({std::string("A\0B", 3), "", "", "", ""})}), "audio/x-ms-wma");
  EXPECT_EQ(r.get("dc:title"), "A");
}
