// Builders of MPEG audio and ID3 bytes for the MP3 and ID3 tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace mp3_test {

// A stream kind: version 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5; layer 3 I, 2 II,
// 1 III; indexes into the standard tables.
struct kind {
  int version = 3, layer = 1, rate_index = 9, freq_index = 0, mode = 0;
  bool crc = false;
};

inline const int kRates[2][3][16] = {
    {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},
    {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}}};

inline int bitrate(const kind &k) { return kRates[k.version == 3 ? 0 : 1][k.layer - 1][k.rate_index] * 1000; }

inline int sample_rate(const kind &k)
{
  static const int base[3] = {44100, 48000, 32000};
  return base[k.freq_index] / (k.version == 3 ? 1 : k.version == 2 ? 2 : 4);
}

inline int samples(const kind &k) { return k.layer == 3 ? 384 : k.layer == 1 && k.version != 3 ? 576 : 1152; }

inline std::string header(const kind &k, bool pad)
{
  std::string h(4, '\0');
  h[0] = char(0xFF);
  h[1] = char(0xE0 | k.version << 3 | k.layer << 1 | (k.crc ? 0 : 1));
  h[2] = char(k.rate_index << 4 | k.freq_index << 2 | (pad ? 2 : 0));
  h[3] = char(k.mode << 6);
  return h;
}

// n frames of silence-like zero bytes, padded the way an encoder pads to
// keep the bitrate exact.
inline std::string frames(const kind &k, int n)
{
  std::string s;
  int64_t spf = samples(k), br = bitrate(k), sr = sample_rate(k), slot = k.layer == 3 ? 4 : 1;
  int64_t unit = k.layer == 3 ? 12 : spf / 8;
  int64_t acc = 0;
  for (int i = 0; i < n; i++) {
    int64_t base = unit * br / sr * slot;
    acc += unit * br % sr;
    bool pad = acc >= sr;
    if (pad) acc -= sr;
    std::string f = header(k, pad);
    f.resize(size_t(base + (pad ? slot : 0)), '\0');
    s += f;
  }
  return s;
}

inline std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

inline std::string syncsafe(uint32_t v)
{
  return {char(v >> 21 & 0x7F), char(v >> 14 & 0x7F), char(v >> 7 & 0x7F), char(v & 0x7F)};
}

// An ID3v2 tag of the given major version around frame bytes.
inline std::string id3v2(int version, const std::string &frames, int flags = 0)
{
  return std::string("ID3") + char(version) + '\0' + char(flags) + syncsafe(uint32_t(frames.size())) + frames;
}

// A frame of ID3v2.3 (plain size) or 2.4 (syncsafe size, or plain when
// plain_size is set, as some old writers did).
inline std::string frame(int version, const char *id, const std::string &body, bool plain_size = false)
{
  if (version == 2) {
    uint32_t n = uint32_t(body.size());
    return std::string(id, 3) + char(n >> 16) + char(n >> 8) + char(n) + body;
  }
  uint32_t n = uint32_t(body.size());
  return std::string(id, 4) + (version == 4 && !plain_size ? syncsafe(n) : be32(n)) + std::string(2, '\0') + body;
}

// A Latin-1 text frame body.
inline std::string text(const std::string &s) { return '\0' + s; }

inline std::string id3v1(const std::string &title, int genre, int track = 0)
{
  std::string t = "TAG" + title;
  t.resize(128, '\0');
  t[126] = char(track);
  t[127] = char(genre);
  return t;
}

// Bytes this process has read through read(2) so far.
inline uint64_t bytes_read()
{
  FILE *f = std::fopen("/proc/self/io", "r");
  if (!f) return 0;
  char line[128];
  uint64_t v = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "rchar:", 6) == 0) v = std::strtoull(line + 6, nullptr, 10);
  std::fclose(f);
  return v;
}

}  // namespace mp3_test
