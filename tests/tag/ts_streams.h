// Whole streams of the tests' writer: a program of one video and one
// audio stream with PCRs, optionally an ARIB partial stream with its SIT,
// stamps, padding, a damaged PMT and a second recording after DITs.
#pragma once

#include "ts_writer.h"

namespace ts_test {

constexpr uint32_t kPmtPid = 0x101, kVideoPid = 0x111, kAudioPid = 0x112;

struct stream_spec {
  uint32_t packet_size = 188;
  bool zero_stamps = false;
  uint32_t lead_junk = 0;     // bytes cut from the front of the first packet
  const char *media = nullptr; // ARIB partial stream of that network type
  bool service = true;        // ARIB: a service descriptor
  bool event = true;          // ARIB: a short event
  uint16_t program = 1;
  uint32_t network = 0;       // a network PID in the PAT
  uint8_t video_type = 0x1B;
  bytes video;
  uint8_t audio_type = 0x0F;
  bytes audio;
  std::vector<uint8_t> genres = {0x1, 0xE, 0xC, 0x1};
  double seconds = 20;
  uint32_t units = 200;          // PES units, each with a PCR
  uint32_t padding = 0;          // null packets after each unit
  uint64_t pcr_start = 27000000;
  bool damaged_pmt = false;      // a repeated PMT with a bad CRC
  uint32_t sit_size = 0;        // ARIB: the SIT section padded to this size
  double second_segment = 0;     // seconds after a DIT, the clock restarting
  uint32_t pcr_pid = 0;          // PCR packets on a PID of their own
};

inline void psi(muxer &m, const stream_spec &s)
{
  std::vector<program> programs = {{s.program, kPmtPid}};
  if (s.media || s.network) programs.insert(programs.begin(), {0, s.media ? 0x001Fu : s.network});
  m.section(0, pat(0x7FE1, programs));
  if (s.media) {
    bytes service;
    if (s.service) service = service + service_descriptor(arib_text("ＢＳテスト"));
    if (s.event) service = service + short_event("jpn", arib_text("ニュース７"));
    if (!s.genres.empty()) service = service + content(s.genres);
    bytes transmission = network_identification(s.media) + ts_information(1);
    // Padding descriptors of a private tag up to the section size asked for.
    uint32_t fixed = 12 + 2 + uint32_t(transmission.size()) + 4;
    while (s.sit_size && fixed + service.size() < s.sit_size) {
      size_t room = s.sit_size - fixed - service.size();
      size_t body = room >= 257 ? 255 : room - 2;
      if (room - (body + 2) == 1) body--;
      service = service + descriptor(0x80, bytes(body, 0x20));
    }
    m.section(0x001F, sit(transmission, s.program, service));
  }
  std::vector<es_entry> es = {{s.video_type, kVideoPid, {}}, {s.audio_type, kAudioPid, {}}};
  m.section(kPmtPid, pmt(s.program, s.pcr_pid ? s.pcr_pid : kVideoPid, es));
  if (s.damaged_pmt) m.section(kPmtPid, pmt(s.program, kVideoPid, {{s.video_type, kVideoPid, {}}}, 1, true));
}

inline void segment(muxer &m, const stream_spec &s, double seconds, uint64_t pcr0, bool with_psi)
{
  uint32_t units = uint32_t(s.units * seconds / s.seconds + 0.5);
  double tick = seconds * 27000000.0 / units;
  for (uint32_t i = 0; i < units; i++) {
    if (with_psi && i % 50 == 0) psi(m, s);
    uint64_t pcr = (pcr0 + uint64_t(i * tick)) % ((uint64_t(1) << 33) * 300);
    if (s.pcr_pid) m.pcr(s.pcr_pid, pcr);
    m.pes(kVideoPid, 0xE0, (pcr / 300) & ((uint64_t(1) << 33) - 1), s.video, s.pcr_pid ? nullptr : &pcr);
    m.pes(kAudioPid, s.audio_type == 0x81 ? 0xBD : 0xC0, pcr / 300, s.audio);
    for (uint32_t k = 0; k < s.padding; k++) m.packet(0x1FFF, false, bytes(184, 0xFF));
  }
}

inline bytes build_pass(const stream_spec &s, uint64_t stamp_step)
{
  muxer m;
  m.packet_size = s.packet_size;
  m.zero_stamps = s.zero_stamps;
  m.stamp = 0x3FF00000; // the 30-bit counter wraps soon
  m.stamp_step = stamp_step;
  segment(m, s, s.seconds, s.pcr_start, true);
  if (s.second_segment > 0) {
    m.dit();
    m.dit();
    segment(m, s, s.second_segment, 5 * 27000000ull, true);
  }
  return bytes(m.out.begin() + s.lead_junk, m.out.end());
}

// The stream, with arrival stamps that span its seconds.
inline bytes build(const stream_spec &s)
{
  bytes first = build_pass(s, 0);
  double total = s.seconds + s.second_segment;
  uint64_t packets = first.size() / s.packet_size;
  return s.packet_size == 192 ? build_pass(s, uint64_t(total * 27000000.0 / packets)) : first;
}

inline stream_spec sd_avc_aac()
{
  stream_spec s;
  s.video = avc_video({});
  adts_fields a;
  a.id = 0;
  a.protection_absent = 1;
  s.audio = adts_frames(a);
  return s;
}

inline stream_spec jp_broadcast(const char *media, uint32_t sf)
{
  stream_spec s;
  s.packet_size = 192;
  s.media = media;
  s.program = 0x0400;
  s.video_type = 0x02;
  s.video = mpeg2_video({});
  adts_fields a;
  a.sf = sf;
  s.audio = adts_frames(a);
  return s;
}


}  // namespace ts_test
