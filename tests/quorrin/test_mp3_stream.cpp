// The stream parser on streams made here: frame arithmetic, wrappers and
// tags, VBR headers, duration and seek positions, delivery and resync.
#include "helper_mp3.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

uint16_t le16(const std::vector<BYTE> &f, size_t at) { return uint16_t(f[at] | f[at + 1] << 8); }
uint32_t le32v(const std::vector<BYTE> &f, size_t at) { return le16(f, at) | uint32_t(le16(f, at + 2)) << 16; }

void add_le32(std::vector<BYTE> &v, uint32_t x)
{
  for (int i = 0; i < 4; i++) v.push_back(BYTE(x >> (8 * i)));
}
void add_chunk(std::vector<BYTE> &v, const char *id, const std::vector<BYTE> &body)
{
  v.insert(v.end(), id, id + 4);
  add_le32(v, uint32_t(body.size()));
  v.insert(v.end(), body.begin(), body.end());
}

// Feeds the whole audio to the parser in blocks, as the pending region
// grows and shrinks; returns the last result.
HRESULT deliver(Mp3StreamParser &p, RecordingSink &sink, const std::vector<BYTE> &d, size_t from,
                size_t block = 4096)
{
  sink.base = d.data();
  size_t read = from, end = from;
  HRESULT hr = S_OK;
  while (end < d.size()) {
    end = std::min(d.size(), end + block);
    LONG used = 0;
    hr = p.Receive(d.data() + read, LONG(end - read), &used);
    read += size_t(used);
    if (hr != S_OK) break;
  }
  return hr;
}

TEST(Mp3Stream, FrameArithmetic)
{
  Mp3FrameHeader a = mp3_frame_header(H_128_44);
  EXPECT_TRUE(a.valid);
  EXPECT_EQ(a.frame_bytes, 417);
  EXPECT_EQ(mp3_frame_header(H_128_44 | 0x200).frame_bytes, 418);
  EXPECT_EQ(a.duration, 261224);
  EXPECT_EQ(mp3_frame_header(H_128_48).duration, 240000);
  EXPECT_EQ(mp3_frame_header(0xFFFFC400).frame_bytes, 384);  // Layer I 384 kbps 48 kHz
  EXPECT_EQ(mp3_frame_header(H_64_22).frame_bytes, 208);
  EXPECT_EQ(mp3_frame_header(H_64_22).samples, 576);
  // Reserved version, reserved layer, free format, bad index, bad rate.
  for (uint32_t h : {0xFFEB9000u, 0xFFF99000u, 0xFFFB0000u, 0xFFFBF000u, 0xFFFB9C00u, 0xFF7B9000u})
    EXPECT_FALSE(mp3_frame_header(h).valid) << std::hex << h;
}

TEST(Mp3Stream, TagsFormatAndDelivery)
{
  std::vector<BYTE> d = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x20, 0};  // 4096 bytes of tag
  d.resize(4106, 0);
  for (int i = 0; i < 20; i++) add_frames(d, (i & 1) ? (H_128_44 | 0x200) : H_128_44, 1);
  size_t audio_end = d.size();
  std::vector<BYTE> tag(128, 0xFF);  // sync bytes inside, never to be taken for audio
  std::memcpy(tag.data(), "TAG", 3);
  d.insert(d.end(), tag.begin(), tag.end());

  RecordingSink sink;
  Mp3StreamParser p(&sink);
  MemSource src(d);
  ASSERT_EQ(p.Open(&src), S_OK);
  EXPECT_EQ(p.StartOffset(), 4106);
  EXPECT_TRUE(p.LengthKnown());
  EXPECT_TRUE(p.Seekable());
  ASSERT_EQ(sink.format.size(), 30u);
  EXPECT_EQ(le16(sink.format, 0), 0x55);
  EXPECT_EQ(le16(sink.format, 2), 2);
  EXPECT_EQ(le32v(sink.format, 4), 44100u);
  EXPECT_EQ(le32v(sink.format, 8), 16000u);
  EXPECT_EQ(le16(sink.format, 12), 1);   // block align at 44.1 kHz
  EXPECT_EQ(le16(sink.format, 16), 12);  // cbSize
  EXPECT_EQ(le16(sink.format, 18), 1);
  EXPECT_EQ(le16(sink.format, 24), 1);
  EXPECT_EQ(le16(sink.format, 26), 1);
  EXPECT_EQ(p.Duration(), (int64_t(audio_end) - 4106) * 80000000 / 128000);

  p.Reset(0, INT64_MAX);
  EXPECT_EQ(deliver(p, sink, d, size_t(p.StartOffset())), S_OK);
  ASSERT_EQ(sink.frames.size(), 20u);
  EXPECT_EQ(sink.frames[0].offset, 4106u);
  for (size_t i = 0; i < sink.frames.size(); i++) EXPECT_EQ(sink.frames[i].time, REFERENCE_TIME(i) * 261224);
  EXPECT_EQ(sink.frames.back().offset + size_t(sink.frames.back().length), audio_end);

  // A window that ends after the second frame stops the stream.
  RecordingSink s2;
  Mp3StreamParser q(&s2);
  ASSERT_EQ(q.Open(&src), S_OK);
  q.Reset(1000000, 1000000 + 300000);
  EXPECT_EQ(deliver(q, s2, d, 4106), S_FALSE);
  EXPECT_EQ(s2.frames.size(), 2u);

  // Three tags, the second 300 KiB (a picture, frame syncs inside) and one
  // with a footer: the audio after all of them.  Once only the first was
  // passed and the file refused.
  std::vector<BYTE> many = {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0, 20};
  many.resize(40, 0);
  many.insert(many.end(), {'I', 'D', '3', 3, 0, 0, 0, 0x12, 0x60, 0});  // 307200 bytes
  many.resize(many.size() + 307200, 0xFF);
  many.insert(many.end(), {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0});
  size_t audio = many.size();
  for (int i = 0; i < 10; i++) add_frames(many, H_128_44, 1);
  RecordingSink s3;
  Mp3StreamParser r(&s3);
  MemSource tagged(many);
  ASSERT_EQ(r.Open(&tagged), S_OK);
  EXPECT_EQ(r.StartOffset(), int64_t(audio));
}

TEST(Mp3Stream, FormatsRefusalsAndShortFiles)
{
  std::vector<BYTE> d48;
  add_frames(d48, H_128_48, 5);
  RecordingSink s;
  Mp3StreamParser p(&s);
  MemSource src48(d48);
  ASSERT_EQ(p.Open(&src48), S_OK);
  EXPECT_EQ(le16(s.format, 12), mp3_frame_header(H_128_48).frame_bytes);

  std::vector<BYTE> d22;
  add_frames(d22, H_64_22, 5);
  MemSource src22(d22);
  ASSERT_EQ(p.Open(&src22), S_OK);
  EXPECT_EQ(le16(s.format, 12), 1);

  std::vector<BYTE> l2;
  add_frames(l2, H_L2_128_44, 5);
  MemSource srcl2(l2);
  EXPECT_EQ(p.Open(&srcl2), VFW_E_TYPE_NOT_ACCEPTED);

  // Two frames are not a stream.
  std::vector<BYTE> two;
  add_frames(two, H_128_44, 2);
  MemSource srctwo(two);
  EXPECT_EQ(p.Open(&srctwo), VFW_E_TYPE_NOT_ACCEPTED);

  // A 60,000-byte tag ahead of a few frames, in a file shorter than the
  // tag and a full scan window.
  std::vector<BYTE> big = {'I', 'D', '3', 3, 0, 0, 0, 3, 0x54, 0x56};  // 60000 - 10
  big.resize(60000, 0);
  add_frames(big, H_128_44, 4);
  MemSource srcbig(big);
  ASSERT_EQ(p.Open(&srcbig), S_OK);
  EXPECT_EQ(p.StartOffset(), 60000);

  // A growing source is not seekable until it is complete.
  std::vector<BYTE> grow;
  add_frames(grow, H_128_44, 200);
  MemSource srcgrow(grow, 70000);
  ASSERT_EQ(p.Open(&srcgrow), S_OK);
  EXPECT_FALSE(p.LengthKnown());
  EXPECT_FALSE(p.Seekable());
  srcgrow.available = -1;
  p.CheckEnd(&srcgrow);
  EXPECT_TRUE(p.Seekable());
  EXPECT_EQ(p.EndOffset(), LONGLONG(grow.size()));
}

TEST(Mp3Stream, RiffWrappers)
{
  std::vector<BYTE> fmt = {0x55, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x80, 0x3E, 0, 0, 1, 0, 0, 0, 12, 0,
                           1, 0, 2, 0, 0, 0, 0xA1, 1, 1, 0, 0x71, 5};
  std::vector<BYTE> audio;
  add_frames(audio, H_128_44, 4);
  auto wave = [&](const std::vector<BYTE> &f, bool fact, const char *data_id) {
    std::vector<BYTE> v = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    add_chunk(v, "fmt ", f);
    if (fact) add_chunk(v, "fact", {1, 2, 3, 4});
    add_chunk(v, data_id, audio);
    return v;
  };
  RecordingSink s;
  Mp3StreamParser p(&s);
  std::vector<BYTE> w = wave(fmt, true, "data");
  MemSource src(w);
  ASSERT_EQ(p.Open(&src), S_OK);
  EXPECT_EQ(s.format, fmt);  // the file's own format, unchanged
  EXPECT_EQ(p.StartOffset(), LONGLONG(w.size() - audio.size()));

  Mp3Riff r;
  std::vector<BYTE> f16(fmt.begin(), fmt.begin() + 16);
  std::vector<BYTE> w16 = wave(f16, false, "data");
  ASSERT_EQ(mp3_riff_walk(w16.data(), w16.size(), &r), S_OK);
  EXPECT_EQ(r.format.size(), 18u);
  EXPECT_EQ(r.format[16] | r.format[17], 0);

  std::vector<BYTE> f12(fmt.begin(), fmt.begin() + 12), f41 = fmt;
  f41.resize(41, 0);
  std::vector<BYTE> pcm = fmt;
  pcm[0] = 1;
  for (const auto &bad : {wave(f12, false, "data"), wave(f41, false, "data"), wave(pcm, false, "data"),
                          wave(fmt, false, "LIST")}) {
    EXPECT_EQ(mp3_riff_walk(bad.data(), bad.size(), &r), VFW_E_TYPE_NOT_ACCEPTED);
  }
  // The data chunk's header lies past the bytes read.
  std::vector<BYTE> w2 = wave(fmt, false, "data");
  EXPECT_EQ(mp3_riff_walk(w2.data(), 12 + 8 + fmt.size() + 4, &r), VFW_E_TYPE_NOT_ACCEPTED);
  std::vector<BYTE> rmp3 = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'P', '3'};
  add_chunk(rmp3, "data", audio);
  ASSERT_EQ(mp3_riff_walk(rmp3.data(), rmp3.size(), &r), S_OK);
  EXPECT_TRUE(r.format.empty());
  EXPECT_EQ(r.start, 20);
  std::vector<BYTE> avi = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '};
  EXPECT_EQ(mp3_riff_walk(avi.data(), avi.size(), &r), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(Mp3Stream, DurationAndCbrPositions)
{
  std::vector<BYTE> d;
  while (d.size() + 418 <= 1000000) add_frames(d, H_128_44, 1);
  d.resize(1000000, 0);
  RecordingSink s;
  Mp3StreamParser p(&s);
  MemSource src(d);
  ASSERT_EQ(p.Open(&src), S_OK);
  EXPECT_EQ(p.Duration(), 625000000);
  REFERENCE_TIME ten = 100000000, zero = 0, all = 625000000;
  EXPECT_EQ(p.TimeToPosition(&ten), 160000);
  EXPECT_EQ(p.TimeToPosition(&zero), 0);
  EXPECT_EQ(p.TimeToPosition(&all), 1000000);
  EXPECT_EQ(p.TimeToPosition(nullptr), 0);

  // Declared twice as long: the duration is the declared one and times
  // map onto the file's own length.
  p.SetDeclaredDuration(1250000000);
  EXPECT_EQ(p.Duration(), 1250000000);
  EXPECT_EQ(p.TimeToPosition(&ten), 80000);
}

// A first frame carrying a Xing header with the given flags and fields.
std::vector<BYTE> xing_stream(uint32_t flags, uint32_t frames, uint32_t bytes, bool toc)
{
  std::vector<BYTE> d;
  add_frames(d, H_128_44, 1);
  size_t at = 36;
  std::memcpy(d.data() + at, "Xing", 4);
  std::vector<BYTE> f;
  put_be32(f, flags);
  put_be32(f, frames);
  put_be32(f, bytes);
  for (int i = 0; i < 100 && toc; i++) f.push_back(BYTE(i * 256 / 100));
  std::copy(f.begin(), f.end(), d.begin() + long(at) + 4);
  add_frames(d, H_128_44, 10);
  return d;
}

TEST(Mp3Stream, VbrHeaders)
{
  RecordingSink s;
  Mp3StreamParser p(&s);
  // Frames and bytes: the average rate, the frame-count duration and the
  // table of contents.
  std::vector<BYTE> x = xing_stream(7, 1000, 2000000, true);
  MemSource src(x);
  ASSERT_EQ(p.Open(&src), S_OK);
  EXPECT_EQ(le16(s.format, 12), 1);
  EXPECT_EQ(p.Duration(), 1000LL * 10000000 * 1152 / 44100);
  EXPECT_EQ(p.BitRate(), int(2000000.0 * 8 / (1000.0 * 1152 / 44100)));
  REFERENCE_TIME half = p.Duration() / 2;
  EXPECT_NEAR(double(p.TimeToPosition(&half)), 1000000.0, 20000.0);
  EXPECT_TRUE(p.Seekable());

  // Only the byte count flagged, or counts of zero: no division by zero,
  // the first frame's rate.
  for (auto [flags, frames, bytes] : {std::tuple{2u, 50000u, 0u}, std::tuple{3u, 0u, 0u}, std::tuple{1u, 0u, 0u}}) {
    std::vector<BYTE> y = xing_stream(flags, frames, bytes, false);
    MemSource sy(y);
    ASSERT_EQ(p.Open(&sy), S_OK);
    EXPECT_EQ(p.BitRate(), 128000);
    EXPECT_FALSE(p.Seekable());
  }
  // A table of contents with a zero duration: the start offset.
  p.SetDeclaredDuration(0);
  std::vector<BYTE> z = xing_stream(5, 0, 0, true);
  MemSource sz(z);
  ASSERT_EQ(p.Open(&sz), S_OK);
  REFERENCE_TIME t = 5;
  EXPECT_EQ(p.TimeToPosition(&t), 0);

  p.SetDeclaredDuration(-1);
  // A seek-table header: byte counts per entry; one with a zero scale is
  // ignored.
  auto vbri = [](uint16_t scale) {
    std::vector<BYTE> d;
    add_frames(d, H_128_44, 1);
    std::vector<BYTE> v = {'V', 'B', 'R', 'I', 0, 1, 0, 0, 0, 50};
    put_be32(v, 41800);  // bytes
    put_be32(v, 100);    // frames
    v.insert(v.end(), {0, 9, BYTE(scale >> 8), BYTE(scale), 0, 2, 0, 10});
    for (int i = 0; i < 10; i++) v.insert(v.end(), {BYTE(4180 >> 8), BYTE(4180 & 0xFF)});
    std::copy(v.begin(), v.end(), d.begin() + 36);
    add_frames(d, H_128_44, 10);
    return d;
  };
  std::vector<BYTE> vb = vbri(1);
  MemSource svb(vb);
  ASSERT_EQ(p.Open(&svb), S_OK);
  EXPECT_EQ(p.Duration(), 100LL * 10000000 * 1152 / 44100);
  EXPECT_TRUE(p.Seekable());
  REFERENCE_TIME mid = p.Duration() / 2;
  EXPECT_NEAR(double(p.TimeToPosition(&mid)), 20900.0, 500.0);
  std::vector<BYTE> vb0 = vbri(0);
  MemSource svb0(vb0);
  ASSERT_EQ(p.Open(&svb0), S_OK);
  EXPECT_EQ(p.Duration(), (LONGLONG(vb0.size()) * 80000000) / 128000);
}

TEST(Mp3Stream, Resynchronisation)
{
  RecordingSink s;
  Mp3StreamParser p(&s);
  std::vector<BYTE> garbage(70000, 0x5A);
  p.Reset(0, INT64_MAX);
  EXPECT_EQ(deliver(p, s, garbage, 0), VFW_E_RUNTIME_ERROR);
  EXPECT_TRUE(s.frames.empty());

  std::vector<BYTE> d(10000, 0xFF);  // sync bits everywhere, no valid run
  add_frames(d, H_128_44, 8);
  d.resize(d.size() + 300, 0x11);  // lost sync
  add_frames(d, H_128_44, 4);
  p.Reset(0, INT64_MAX);
  EXPECT_EQ(deliver(p, s, d, 0), S_OK);
  ASSERT_EQ(s.frames.size(), 12u);
  EXPECT_EQ(s.frames[0].offset, 10000u);
  EXPECT_EQ(s.frames[8].offset, 10000u + 8 * 417 + 300);
  EXPECT_EQ(s.frames[11].time, 11 * 261224);
}

}  // namespace
