// The transport-stream reader on streams of the tests' own writer: ARIB
// broadcast data, the packet forms, the clock over head and tail, damaged
// sections, and the profile table on the records it reads.
#include <gtest/gtest.h>

#include <string>

#include "tag_tools.h"
#include "ts_item.h"
#include "ts_streams.h"

using namespace ts_test;
using tag_tools::duration_ms;
using tag_tools::element;
using tag_tools::elements;
using tag_tools::res_attribute;

namespace {

struct item_reading {
  tarvo_test::scratch_dir dir;
  std::string text;
  std::string read(const bytes &b, bool packets192)
  {
    std::string path = dir / "stream.ts";
    tarvo_test::write_file(path, std::string(b.begin(), b.end()));
    return text = ts_item(path, packets192);
  }
};

std::string profile_of(const std::string &item)
{
  std::string pi = res_attribute(item, "protocolInfo");
  size_t at = pi.find("DLNA.ORG_PN=");
  return at == std::string::npos ? "" : pi.substr(at + 12, pi.find(';', at) - at - 12);
}

std::string mime_of(const std::string &item)
{
  std::string pi = res_attribute(item, "protocolInfo");
  return pi.substr(11, pi.find(':', 11) - 11);
}

}  // namespace

TEST(MpegTs, AribPartialStreamsGiveChannelEventGenresAndTheJapaneseProfile)
{
  struct broadcast_case {
    const char *media, *type;
    uint32_t sf;
  } cases[] = {{"BS", "ARIB_BS", 3}, {"TB", "ARIB_TB", 5}, {"CS", "ARIB_CS", 3}};
  for (const broadcast_case &c : cases) {
    SCOPED_TRACE(c.type);
    item_reading r;
    std::string it = r.read(build(jp_broadcast(c.media, c.sf)), true);
    std::printf("%s\n", it.c_str());
    EXPECT_EQ(element(it, "arib:objectType"), c.type);
    EXPECT_EQ(element(it, "dc:title"), "ニュース７");
    EXPECT_EQ(element(it, "upnp:channelName"), "ＢＳテスト");
    EXPECT_EQ(element(it, "upnp:channelNr"), "110");
    EXPECT_EQ(elements(it, "upnp:genre"), (std::vector<std::string>{"スポーツ", "未定義", "スポーツ"}));
    EXPECT_EQ(res_attribute(it, "resolution"), "1920x1080");
    // 48 kHz and 32 kHz stereo AAC both fit the broadcast limit per channel.
    EXPECT_EQ(profile_of(it), "MPEG_TS_JP_T");
    EXPECT_EQ(mime_of(it), "video/vnd.dlna.mpeg-tts");
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), 20000, 200);
  }
  // No event and no genre: the service name is the title, the genre unknown.
  stream_spec quiet = jp_broadcast("BS", 3);
  quiet.event = false;
  quiet.genres.clear();
  item_reading r;
  std::string it = r.read(build(quiet), true);
  EXPECT_EQ(element(it, "dc:title"), "ＢＳテスト");
  EXPECT_EQ(elements(it, "upnp:genre"), (std::vector<std::string>{"不明"}));
  // Network PID 0x0010 is no partial stream: no broadcast data.
  stream_spec plain = jp_broadcast("BS", 3);
  plain.media = nullptr;
  plain.network = 0x0010;
  item_reading p;
  EXPECT_EQ(element(p.read(build(plain), false), "arib:objectType"), "");
}

TEST(MpegTs, SitSectionsOfUpTo4096Bytes)
{
  stream_spec s = jp_broadcast("CS", 3);
  s.sit_size = 4096;
  item_reading at;
  EXPECT_EQ(element(at.read(build(s), true), "arib:objectType"), "ARIB_CS");
  s.sit_size = 4097;
  item_reading over;
  std::string it = over.read(build(s), true);
  EXPECT_EQ(element(it, "arib:objectType"), "");
  EXPECT_EQ(mime_of(it), "application/octet-stream");
}

TEST(MpegTs, ADamagedRepeatedPmtLeavesTheItemAsItWas)
{
  stream_spec s = jp_broadcast("BS", 3);
  item_reading a, b;
  std::string whole = a.read(build(s), true);
  s.damaged_pmt = true;
  std::string damaged = b.read(build(s), true);
  ASSERT_NE(whole, "<failed>");
  for (const char *attribute : {"duration", "resolution", "protocolInfo"})
    EXPECT_EQ(res_attribute(damaged, attribute), res_attribute(whole, attribute)) << attribute;
  for (const char *name : {"dc:title", "arib:objectType", "upnp:channelName", "upnp:channelNr"})
    EXPECT_EQ(element(damaged, name), element(whole, name)) << name;
  EXPECT_EQ(profile_of(damaged), "MPEG_TS_JP_T");
}

TEST(MpegTs, PacketFormsGiveMimeTypeAndProfileSuffix)
{
  struct form_case {
    uint32_t size;
    bool zero;
    uint32_t junk;
    const char *mime, *profile;
  } cases[] = {
      {188, false, 0, "video/mpeg", "AVC_TS_MP_SD_AAC_MULT5_ISO"},
      {192, true, 0, "video/vnd.dlna.mpeg-tts", "AVC_TS_MP_SD_AAC_MULT5"},
      {192, false, 0, "video/vnd.dlna.mpeg-tts", "AVC_TS_MP_SD_AAC_MULT5_T"},
      // The file starts 2 bytes into a stamp: reading starts at the next
      // whole packet.
      {192, false, 2, "video/vnd.dlna.mpeg-tts", "AVC_TS_MP_SD_AAC_MULT5_T"},
  };
  for (const form_case &c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.zero ? " zero stamps" : "") + " junk " + std::to_string(c.junk));
    stream_spec s = sd_avc_aac();
    s.packet_size = c.size;
    s.zero_stamps = c.zero;
    s.lead_junk = c.junk;
    item_reading r;
    std::string it = r.read(build(s), c.size == 192);
    EXPECT_EQ(mime_of(it), c.mime);
    EXPECT_EQ(profile_of(it), c.profile);
    EXPECT_EQ(res_attribute(it, "resolution"), "720x576");
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), 20000, 200);
    EXPECT_NE(res_attribute(it, "bitrate"), "");
    if (c.size == 188 && !c.junk) std::printf("%s\n", it.c_str());
  }
  // AAC in ADTS of either ID is the same AAC.
  stream_spec mpeg2_aac = sd_avc_aac();
  mpeg2_aac.audio = adts_frames({1, 3, 2, 1});
  item_reading id1;
  EXPECT_EQ(profile_of(id1.read(build(mpeg2_aac), false)), "AVC_TS_MP_SD_AAC_MULT5_ISO");
  // Read as the other packet size, the grid does not fit: no item of ours.
  item_reading r;
  EXPECT_EQ(profile_of(r.read(build(sd_avc_aac()), true)), "");
}

TEST(MpegTs, DurationOfLongFilesFromHeadAndTailAcrossClockWraps)
{
  // 50 s of 192-byte packets: the 30-bit arrival counter wraps at 39.8 s
  // under set copy-permission bits, and the PCR wraps at 2^33 x 300.
  stream_spec s = sd_avc_aac();
  s.packet_size = 192;
  s.seconds = 50;
  s.units = 500;
  s.padding = 120; // about 13 MB: head and tail are apart
  s.pcr_start = (uint64_t(1) << 33) * 300 - 10 * 27000000ull;
  item_reading r;
  EXPECT_NEAR(double(duration_ms(res_attribute(r.read(build(s), true), "duration"))), 50000, 500);
  s.packet_size = 188;
  item_reading q;
  EXPECT_NEAR(double(duration_ms(res_attribute(q.read(build(s), false), "duration"))), 50000, 500);
  // Two recordings joined at DIT packets, the clock restarting: both
  // segments count.
  s.seconds = 20;
  s.units = 200;
  s.second_segment = 30;
  item_reading d;
  EXPECT_NEAR(double(duration_ms(res_attribute(d.read(build(s), false), "duration"))), 50000, 1000);
}

TEST(MpegTs, QuickFlagExtrapolatesFromTheFirstPackets)
{
  // 50 s, the PCR wrapping after 10 s and the stamps after a few packets;
  // quick reads no tail, the first thousand packets' clock stands for the
  // file.
  stream_spec s = sd_avc_aac();
  s.seconds = 50;
  s.units = 500;
  s.padding = 120;
  s.pcr_start = (uint64_t(1) << 33) * 300 - 10 * 27000000ull;
  for (uint32_t size : {188u, 192u}) {
    SCOPED_TRACE(size);
    s.packet_size = size;
    item_reading r;
    std::string path = r.dir / "long.ts";
    bytes b = build(s);
    tarvo_test::write_file(path, std::string(b.begin(), b.end()));
    std::string it = ts_item(path, size == 192, true);
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), 50000, 500);
    EXPECT_EQ(res_attribute(it, "resolution"), "720x576");
  }
}

TEST(MpegTs, DurationOfShortFilesAndOfAPcrPidOfItsOwn)
{
  auto duration_of = [](const bytes &b, bool packets192) {
    item_reading r;
    return res_attribute(r.read(b, packets192), "duration");
  };
  // The PCR on a PID that no stream uses, head and tail apart and within
  // one window.
  for (uint32_t padding : {120u, 0u}) {
    stream_spec s = sd_avc_aac();
    s.pcr_pid = 0x1F0;
    s.padding = padding;
    SCOPED_TRACE(padding);
    EXPECT_NEAR(double(duration_ms(duration_of(build(s), false))), 20000, 200);
    s.packet_size = 192;
    EXPECT_NEAR(double(duration_ms(duration_of(build(s), true))), 20000, 200);
  }
  // Half a second, smaller than the tail window: 188 bytes, 192 with
  // stamps and with zero stamps agree.
  stream_spec s = sd_avc_aac();
  s.seconds = 0.5;
  s.units = 10;
  std::string ts = duration_of(build(s), false);
  EXPECT_NEAR(double(duration_ms(ts)), 500, 50);
  s.packet_size = 192;
  EXPECT_NEAR(double(duration_ms(duration_of(build(s), true))), 500, 50);
  // Stamps that are no clock (a muxer's byte count, about 33 s a packet)
  // give way to the PCR: the same duration as without stamps.
  s.zero_stamps = true;
  std::string zero = duration_of(build(s), true);
  EXPECT_NEAR(double(duration_ms(zero)), 500, 50);
  s.zero_stamps = false;
  EXPECT_EQ(duration_of(build_pass(s, 879552550), true), zero);
  // A single PCR and such stamps: no duration rather than minutes.
  s.units = 1;
  EXPECT_EQ(duration_of(build_pass(s, 879552550), true), "");
}

TEST(MpegTs, CrcAndDescriptorLoops)
{
  const unsigned char check[] = "123456789";
  EXPECT_EQ(crc32_mpeg2(check, 9), 0x0376E6E7u);
  EXPECT_EQ(crc32_mpeg2(check, 0), 0xFFFFFFFFu);
  EXPECT_EQ(crc32_mpeg2_check(check, 0), 0);
  bytes sec = pat(1, {{1, 0x100}});
  EXPECT_EQ(crc32_mpeg2_check(sec.data(), uint32_t(sec.size())), 1);
  sec[4] ^= 1;
  EXPECT_EQ(crc32_mpeg2_check(sec.data(), uint32_t(sec.size())), 0);

  static uint32_t seen;
  static const descriptor_handler_row rows[] = {
      {0x48, [](const unsigned char *, uint32_t len, mpegts_info *) { return int(seen += len); }}, {0, nullptr}};
  mpegts_info info{};
  bytes loop = descriptor(0x10, {1, 2}) + descriptor(0x48, {1, 2, 3}) + descriptor(0x48, {});
  seen = 0;
  EXPECT_EQ(descriptor_walk(rows, loop.data(), uint32_t(loop.size()), &info), 1);
  EXPECT_EQ(seen, 5u + 2u);
  EXPECT_EQ(descriptor_walk(rows, loop.data(), uint32_t(loop.size()) - 1, &info), 0);
  EXPECT_EQ(descriptor_walk(rows, loop.data(), 0, &info), 1);
  sys_memalloc_rec m{loop.data(), uint32_t(loop.size()), uint32_t(loop.size())};
  const unsigned char *d;
  uint32_t len;
  ASSERT_EQ(descriptor_find(&m, 0x48, &d, &len), 1);
  EXPECT_EQ(d, loop.data() + 4);
  EXPECT_EQ(len, 5u);
  m.len = 5; // the first 0x48 runs past the end
  EXPECT_EQ(descriptor_find(&m, 0x48, &d, &len), 0);
}
