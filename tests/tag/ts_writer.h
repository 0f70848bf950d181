// The tests' own transport-stream writer: PSI sections with their CRC
// (PAT, PMT, ARIB SIT), a PES packetiser, PCR packets, 192-byte packets
// with arrival stamps and DIT packets, and the elementary-stream headers
// the readers look for.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "es_bytes.h"
#include "mpegts_impl.h"

namespace ts_test {

using es_test::bit_writer;
using es_test::bytes;

inline bytes operator+(bytes a, const bytes &b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline bytes text_bytes(const std::string &s) { return bytes(s.begin(), s.end()); }

inline bytes descriptor(uint8_t tag, const bytes &body) { return bytes{tag, uint8_t(body.size())} + body; }

// A long-form section: the 8 header bytes, body and CRC.
inline bytes section(uint8_t table_id, uint16_t id, uint8_t version, const bytes &body, bool bad_crc = false)
{
  uint32_t len = uint32_t(body.size()) + 9;
  bytes s = {table_id, uint8_t(0xB0 | (len >> 8)), uint8_t(len), uint8_t(id >> 8), uint8_t(id),
             uint8_t(0xC1 | (version << 1)), 0, 0};
  s = s + body;
  unsigned char crc[4];
  crc32_mpeg2_store(crc, crc32_mpeg2(s.data(), uint32_t(s.size())) ^ (bad_crc ? 1u : 0u));
  return s + bytes(crc, crc + 4);
}

inline bytes pid_bytes(uint32_t pid) { return {uint8_t(0xE0 | (pid >> 8)), uint8_t(pid)}; }
inline bytes len12(uint32_t n, uint8_t top = 0xF0) { return {uint8_t(top | (n >> 8)), uint8_t(n)}; }

struct program {
  uint16_t number;
  uint32_t pid;
};

inline bytes pat(uint16_t tsid, const std::vector<program> &programs, uint8_t version = 0)
{
  bytes body;
  for (const program &p : programs) body = body + bytes{uint8_t(p.number >> 8), uint8_t(p.number)} + pid_bytes(p.pid);
  return section(0x00, tsid, version, body);
}

struct es_entry {
  uint8_t type;
  uint32_t pid;
  bytes info;
};

inline bytes pmt(uint16_t number, uint32_t pcr_pid, const std::vector<es_entry> &es, uint8_t version = 0,
                 bool bad_crc = false, const bytes &program_info = {})
{
  bytes body = pid_bytes(pcr_pid) + len12(uint32_t(program_info.size())) + program_info;
  for (const es_entry &e : es) body = body + bytes{e.type} + pid_bytes(e.pid) + len12(uint32_t(e.info.size())) + e.info;
  return section(0x02, number, version, body, bad_crc);
}

inline bytes sit(const bytes &transmission_info, uint16_t service_id, const bytes &service, uint8_t version = 0)
{
  bytes body = len12(uint32_t(transmission_info.size())) + transmission_info +
               bytes{uint8_t(service_id >> 8), uint8_t(service_id)} + len12(uint32_t(service.size()), 0x80) + service;
  return section(0x7F, 0xFFFF, version, body);
}

// ARIB text of full-width characters: JIS X 0208 in GL, the initial kanji set.
inline bytes arib_text(const std::string &utf8)
{
  iconv_t cd = iconv_open("EUC-JP", "UTF-8");
  std::string out(utf8.size() * 2 + 8, '\0');
  char *ip = const_cast<char *>(utf8.data()), *op = out.data();
  size_t il = utf8.size(), ol = out.size();
  iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  out.resize(out.size() - ol);
  bytes b;
  for (char c : out) b.push_back(uint8_t(c) & 0x7F);
  return b;
}

inline bytes network_identification(const char *media) { return descriptor(0xC2, bytes{'J', 'P', 'N', uint8_t(media[0]), uint8_t(media[1]), 0, 0}); }
inline bytes ts_information(uint8_t key) { return descriptor(0xCD, bytes{key, 0}); }
inline bytes service_descriptor(const bytes &name) { return descriptor(0x48, bytes{1, 0, uint8_t(name.size())} + name); }
inline bytes short_event(const char *lang, const bytes &title)
{
  return descriptor(0x4D, text_bytes(lang) + bytes{uint8_t(title.size())} + title + bytes{0});
}
inline bytes content(const std::vector<uint8_t> &nibbles)
{
  bytes body;
  for (uint8_t n : nibbles) body = body + bytes{uint8_t(n << 4), 0xFF};
  return descriptor(0x54, body);
}

// The packets of a stream, with continuity counters per PID.
struct muxer {
  uint32_t packet_size = 188;
  // Arrival stamps: the first, the step per packet (27 MHz ticks) and the
  // bits above the 30-bit counter; zero_stamps writes zero prefixes.
  uint64_t stamp = 0, stamp_step = 0;
  uint32_t stamp_top = 0xC0000000u;
  bool zero_stamps = false;
  bytes out;
  std::map<uint32_t, uint8_t> cc;

  void raw(const bytes &ts188)
  {
    if (packet_size == 192) {
      uint32_t v = zero_stamps ? 0 : uint32_t(stamp & 0x3FFFFFFFu) | stamp_top;
      out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    }
    stamp += stamp_step;
    out.insert(out.end(), ts188.begin(), ts188.end());
  }
  // One packet: an adaptation field of af bytes (with the flags byte) when
  // af is non-empty or stuffing is needed, then payload.
  void packet(uint32_t pid, bool start, const bytes &payload, bytes af = {})
  {
    size_t room = 184 - payload.size();
    if (!af.empty() || room) {
      size_t af_len = std::max(af.size(), room ? room - 1 : 0);
      if (af.empty() && af_len) af.push_back(0x00);
      af.resize(af_len, 0xFF);
    }
    uint8_t control = payload.empty() ? 0x20 : (af.empty() && !room ? 0x10 : 0x30);
    bytes p = {0x47, uint8_t((start ? 0x40 : 0) | (pid >> 8)), uint8_t(pid), uint8_t(control | (cc[pid]++ & 15))};
    if (control != 0x10) p = p + bytes{uint8_t(af.size())} + af;
    raw(p + payload);
  }
  void section(uint32_t pid, const bytes &s)
  {
    bytes rest = bytes{0} + s;
    bool start = true;
    while (!rest.empty()) {
      size_t n = std::min<size_t>(184, rest.size());
      bytes chunk(rest.begin(), rest.begin() + n);
      rest.erase(rest.begin(), rest.begin() + n);
      if (rest.empty()) chunk.resize(184, 0xFF);
      packet(pid, start, chunk);
      start = false;
    }
  }
  static bytes pcr_field(uint64_t pcr)
  {
    uint64_t base = pcr / 300, ext = pcr % 300;
    return {0x10, uint8_t(base >> 25), uint8_t(base >> 17), uint8_t(base >> 9), uint8_t(base >> 1),
            uint8_t(((base & 1) << 7) | 0x7E | (ext >> 8)), uint8_t(ext)};
  }
  void pcr(uint32_t pid, uint64_t value) { packet(pid, false, {}, pcr_field(value)); }
  void dit() { packet(mpegts_dit_pid, false, bytes(184, 0xFF)); }
  // A PES packet with a PTS, cut into packets; the first may carry a PCR.
  void pes(uint32_t pid, uint8_t stream_id, uint64_t pts, const bytes &es, const uint64_t *pcr = nullptr)
  {
    bytes h = {0, 0, 1, stream_id, 0, 0, 0x80, 0x80, 5, uint8_t(0x21 | ((pts >> 29) & 0x0E)), uint8_t(pts >> 22),
               uint8_t(((pts >> 14) & 0xFE) | 1), uint8_t(pts >> 7), uint8_t(((pts << 1) & 0xFE) | 1)};
    bytes rest = h + es;
    bool start = true;
    while (!rest.empty()) {
      bytes af = start && pcr ? pcr_field(*pcr) : bytes{};
      size_t room = 184 - (af.empty() ? 0 : af.size() + 1);
      size_t n = std::min(room, rest.size());
      packet(pid, start, bytes(rest.begin(), rest.begin() + n), af);
      rest.erase(rest.begin(), rest.begin() + n);
      start = false;
    }
  }
  static constexpr uint32_t mpegts_dit_pid = 0x001E;
};

// --- elementary-stream headers ---

struct mpeg2_fields {
  uint32_t width = 1920, height = 1080, aspect = 3, rate_code = 4, bit_rate = 16000000, pli = 0x44, progressive = 0;
};

inline bytes mpeg2_video(const mpeg2_fields &f)
{
  bit_writer b;
  uint32_t units = f.bit_rate / 400;
  b.put(0x1B3, 32);
  b.put(f.width & 0xFFF, 12);
  b.put(f.height & 0xFFF, 12);
  b.put(f.aspect, 4);
  b.put(f.rate_code, 4);
  b.put(units & 0x3FFFF, 18);
  b.put(1, 1);
  b.put(112, 10);
  b.put(0, 3);
  b.put(0x1B5, 32);
  b.put(1, 4);
  b.put(f.pli, 8);
  b.put(f.progressive, 1);
  b.put(1, 2);
  b.put(f.width >> 12, 2);
  b.put(f.height >> 12, 2);
  b.put(units >> 18, 12);
  b.put(1, 1);
  b.put(0, 8);
  b.put(0, 1);
  b.put(0, 2);
  b.put(0, 5);
  return b.out + bytes{0, 0, 1, 0xB8, 0, 0, 0, 0, 0, 0, 1, 0x00, 0, 0x0F, 0xFF, 0xF8};
}

struct sps_fields {
  uint32_t profile = 77, level = 30, width_mbs = 45, height_units = 36, frame_mbs_only = 1;
  uint32_t time_scale = 50, units_in_tick = 1; // 25 frames per second
  bool constraint1 = true;
};

inline bytes avc_video(const sps_fields &f)
{
  bit_writer b;
  b.put(f.profile, 8);
  b.put(f.constraint1 ? 0x40 : 0, 8);
  b.put(f.level, 8);
  b.ue(0);
  b.ue(0);
  b.ue(0);
  b.ue(2);
  b.ue(1);
  b.put(0, 1);
  b.ue(f.width_mbs - 1);
  b.ue(f.height_units - 1);
  b.put(f.frame_mbs_only, 1);
  if (!f.frame_mbs_only) b.put(0, 1);
  b.put(1, 1);
  b.put(0, 1);
  b.put(1, 1); // VUI
  b.put(1, 1); // aspect_ratio_info
  b.put(1, 8); // 1:1
  b.put(0, 3);
  b.put(1, 1); // timing
  b.put(f.units_in_tick, 32);
  b.put(f.time_scale, 32);
  b.put(1, 1);
  b.put(0, 5);
  b.trail();
  bytes nal;
  uint32_t zeros = 0;
  for (uint8_t c : b.out) {
    if (zeros >= 2 && c <= 3) {
      nal.push_back(3);
      zeros = 0;
    }
    nal.push_back(c);
    zeros = c ? 0 : zeros + 1;
  }
  return bytes{0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67} + nal + bytes{0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80} +
         bytes{0, 0, 0, 1, 0x65, 0x88, 0x84};
}

struct adts_fields {
  uint32_t id = 1, sf = 3, channels = 2, protection_absent = 0;
};

// Ten frames of one raw data block each, constant fullness.
inline bytes adts_frames(const adts_fields &f, uint32_t count = 12)
{
  bytes all;
  for (uint32_t i = 0; i < count; i++) {
    bit_writer b;
    uint32_t size = 64;
    b.put(0xFFF, 12);
    b.put(f.id, 1);
    b.put(0, 2);
    b.put(f.protection_absent, 1);
    b.put(1, 2);
    b.put(f.sf, 4);
    b.put(0, 1);
    b.put(f.channels, 3);
    b.put(0, 4);
    b.put(size, 13);
    b.put(0x100, 11);
    b.put(0, 2);
    if (!f.protection_absent) b.put(0, 16);
    b.put(1, 3); // a channel pair element
    b.put(0, 4);
    b.put(0, 8);
    b.put(7, 3); // END
    b.out.resize(size, 0);
    all = all + b.out;
  }
  return all;
}

// AC-3 sync frames: 48 kHz, frmsizecod of the rate, 3/2 channels.
inline bytes ac3_frames(uint32_t frmsizecod = 0x1C, uint32_t count = 8)
{
  static const uint32_t words[19] = {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280};
  bytes all;
  for (uint32_t i = 0; i < count; i++) {
    bit_writer b;
    b.put(0x0B77, 16);
    b.put(0, 16);
    b.put(0, 2);
    b.put(frmsizecod, 6);
    b.put(8, 5); // bsid
    b.put(0, 3); // bsmod
    b.put(7, 3); // acmod 3/2
    b.put(0, 2);
    b.put(0, 2);
    b.put(1, 1); // lfe
    b.out.resize(words[frmsizecod / 2] * 2, 0);
    all = all + b.out;
  }
  return all;
}

}  // namespace ts_test
