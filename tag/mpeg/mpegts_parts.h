// What the transport-stream reader's files share: the packet source, the
// clock facts of a run of packets and the steps that each file implements.
#pragma once

#include <tarvo_tag/tag_limits.h>

#include "mpegts_impl.h"

namespace ts {

constexpr uint32_t kPacket = 188;
constexpr uint32_t kSync = 0x47;
constexpr uint32_t kPidPat = 0x0000;
constexpr uint32_t kPidDit = 0x001E;
constexpr uint32_t kPidSit = 0x001F;
// The PCR counts a 27 MHz clock: a 33-bit base of 90 kHz times 300.
constexpr int64_t kPcrWrap = (int64_t(1) << 33) * 300;
constexpr int64_t kStampWrap = int64_t(1) << 30;
constexpr uint32_t kStampMask = 0x3FFFFFFFu;
// PCRs come at least every 100 ms; a step of more than this is a jump.
constexpr int64_t kPcrJumpMax = int64_t(10) * 27000000;

inline uint64_t has(const mpegts_info *info, int bit) { return info->presence & MPEGTS_HAS(bit); }
inline void set(mpegts_info *info, int bit) { info->presence |= MPEGTS_HAS(bit); }

// Packets of one grid read in order through one file buffer.
struct packet_source {
  int file = SYS_FILE_INVALID;
  uint32_t size = kPacket;
  sys_filebuffer_rec fb{};
  char buf[TAG_TS_BUFFER_SIZE];
  bool open_at(int f, uint32_t packet_size, uint64_t offset);
  bool next(unsigned char *packet) { return sys_filebuffer_fill(&fb, packet, size) != 0; }
};

// The PCRs of one PID within a run of packets.
struct pcr_track {
  uint32_t pid;
  uint32_t count;
  uint32_t jumps; // steps that are no passing of time (a new recording)
  int64_t first, last;
  uint64_t first_index, last_index;
  int64_t ticks;          // the steps that are time, wraps included
  uint64_t steady, gaps;  // packets across those steps and across the jumps
  double rate() const { return steady ? double(ticks) / double(steady) : 0; }
  // Time from first to last, a jump counted at the steady pace.
  int64_t span() const { return ticks + int64_t(rate() * double(gaps)); }
};

// What the clock steps learn from a run of packets: PCRs (of every PID, or
// of one), arrival stamps and DIT packets.
struct clock_facts {
  uint32_t only_pid = UINT32_MAX; // UINT32_MAX: every PID, up to TAG_TS_PCR_TRACKS
  pcr_track pcr[TAG_TS_PCR_TRACKS]{};
  uint32_t tracks = 0;
  bool dit = false;
  bool stamped = false;
  uint32_t first_stamp = 0, last_stamp = 0;
  uint64_t first_stamp_index = 0, last_stamp_index = 0;
  uint64_t stamp_ticks = 0; // masked stamp steps summed over the run
  uint64_t packets = 0;     // the index after the last packet seen
  const pcr_track *track(uint32_t pid) const;
};

// unit is a whole packet unit of the grid (its prefix included).
void clock_observe(clock_facts *c, const unsigned char *unit, uint32_t header_offset, uint64_t index);
// The PCR of a 188-byte packet; false without one.
bool packet_pcr(const unsigned char *p, int64_t *pcr);

// --- PSI and PES (mpegts_psi.cpp) ---
int section_assemble(mpegts_demux *d, const unsigned char *payload, uint32_t len);
int pes_assemble(mpegts_demux *d, const unsigned char *payload, uint32_t len);
void demux_free(mpegts_demux *d);
bool known_video(uint32_t stream_type);
bool known_audio(uint32_t stream_type);
const pmt_es_entry *pmt_entry(const pmt_record *pmt, uint32_t pid);

// --- derivation steps (mpegts_derive.cpp, mpegts_arib.cpp, mpegts_clock.cpp) ---
int derive(mpegts_info *info, mpegts_demux *d, int file, const sys_file_stat_rec *st, int quick,
           const clock_facts *head);
int arib_system_step(mpegts_info *info, const mpegts_demux *d);
int arib_si_step(mpegts_info *info, const mpegts_demux *d);
int program_number_step(mpegts_info *info, const mpegts_demux *d);
int duration_step(mpegts_info *info, const mpegts_demux *d, int file, const sys_file_stat_rec *st, int quick,
                  const clock_facts *head);

}  // namespace ts
