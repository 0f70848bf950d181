// The duration of a transport stream from its first and last clock values:
// the head of the packet loop and a window at the end of the file, with a
// bounded probe between them when the clock jumps.
#include <cmath>
#include <initializer_list>

#include "mpegts_parts.h"

namespace ts {
namespace {

uint32_t stamp_of(const unsigned char *unit)
{
  uint32_t v = uint32_t(unit[0]) << 24 | uint32_t(unit[1]) << 16 | uint32_t(unit[2]) << 8 | unit[3];
  // Camcorders keep two copy-permission bits above a 30-bit counter.
  return v & kStampMask;
}

pcr_track *track_for(clock_facts *c, uint32_t pid)
{
  for (uint32_t i = 0; i < c->tracks; i++)
    if (c->pcr[i].pid == pid) return &c->pcr[i];
  if (c->tracks == TAG_TS_PCR_TRACKS) return nullptr;
  pcr_track *t = &c->pcr[c->tracks++];
  *t = pcr_track{};
  t->pid = pid;
  return t;
}

// The step from the last PCR, past a wrap; a step back or far ahead is a
// jump of the clock.
int64_t pcr_step(int64_t from, int64_t to)
{
  int64_t d = to - from;
  return d < 0 ? d + kPcrWrap : d;
}

void pcr_add(pcr_track *t, int64_t pcr, uint64_t index)
{
  if (t->count == 0) {
    t->first = pcr;
    t->first_index = index;
  } else {
    int64_t d = pcr_step(t->last, pcr);
    uint64_t n = index - t->last_index;
    if (d <= kPcrJumpMax) {
      t->ticks += d;
      t->steady += n;
    } else {
      t->gaps += n;
      t->jumps++;
    }
  }
  t->last = pcr;
  t->last_index = index;
  t->count++;
}

// Packets of the grid in the file after the start offset.
uint64_t packet_count(const mpegts_info *info, const sys_file_stat_rec *st)
{
  return st->size > info->start_offset ? (st->size - info->start_offset) / info->packet_size : 0;
}

// Observes packets [from, to) of the grid; false when the seek fails.
bool scan(clock_facts *c, const mpegts_info *info, int file, uint64_t from, uint64_t to)
{
  packet_source src;
  if (!src.open_at(file, info->packet_size, info->start_offset + from * info->packet_size)) return false;
  unsigned char unit[256];
  for (uint64_t i = from; i < to && src.next(unit); i++) clock_observe(c, unit, info->header_offset, i);
  return true;
}

// The k for which span + k * wrap comes nearest to the estimate (0 without
// one, or 1 when the span went backwards).
int64_t wraps_near(int64_t span, double estimate, int64_t wrap)
{
  if (estimate <= 0) return span < 0 ? 1 : 0;
  double k = std::floor((estimate - double(span)) / double(wrap) + 0.5);
  return k < 0 ? 0 : int64_t(k);
}

struct pcr_span {
  int64_t ticks = 0; // 27 MHz, first to last PCR
  uint64_t first_index = 0, last_index = 0;
  double rate = 0; // ticks per packet in the head, 0 when unknown
  bool ok = false;
};

// The most 27 MHz ticks one packet can stand for: a stream of at least
// 32 kbit/s.  A step of the clock beyond it over its packets is a jump.
constexpr double kTicksPerPacketMax = 188.0 * 8 * 27000000 / 32000;

bool plausible(int64_t d, uint64_t packets) { return d <= kPcrJumpMax || double(d) <= kTicksPerPacketMax * double(packets); }

// Probes between head and tail when the clock jumps: the steps between the
// samples that are time are summed, the packets across the others are
// counted at the pace of those.
int64_t probe_ticks(const mpegts_info *info, int file, uint32_t pid, const pcr_track &a, const pcr_track &b)
{
  uint64_t gap = b.first_index > a.last_index ? b.first_index - a.last_index : 0;
  uint64_t step = gap / (TAG_TS_PROBE_READS + 1);
  uint64_t read_packets = TAG_TS_PROBE_READ_SIZE / info->packet_size;
  int64_t prev = a.last, ticks = 0;
  uint64_t prev_index = a.last_index, steady = 0, jumped = 0;
  auto add = [&](int64_t pcr, uint64_t index) {
    int64_t d = pcr_step(prev, pcr);
    uint64_t n = index - prev_index;
    // A sample only a little past the last one is time; far past it, time
    // only at a pace a stream can have.
    if (d <= kPcrJumpMax || (plausible(d, n) && d < kPcrWrap / 2)) {
      ticks += d;
      steady += n;
    } else {
      jumped += n;
    }
    prev = pcr;
    prev_index = index;
  };
  for (uint32_t k = 1; step > read_packets && k <= TAG_TS_PROBE_READS; k++) {
    clock_facts c;
    c.only_pid = pid;
    uint64_t from = a.last_index + k * step;
    if (!scan(&c, info, file, from, from + read_packets) || !c.tracks || !c.pcr[0].count) continue;
    // A jump inside the sample: only its first PCR is taken.
    add(c.pcr[0].first, c.pcr[0].first_index);
    if (c.pcr[0].count > 1 && !c.pcr[0].jumps) add(c.pcr[0].last, c.pcr[0].last_index);
  }
  add(b.first, b.first_index);
  return ticks + (steady ? int64_t(double(ticks) / double(steady) * double(jumped)) : 0);
}

// The time from the first PCR of the PCR PID to its last over head and
// tail: the steps inside each, and the span between them.
pcr_span pcr_span_find(const mpegts_info *info, int file, uint32_t pid, const clock_facts *head,
                       const clock_facts *tail, bool contiguous)
{
  pcr_span s;
  const pcr_track *h = head->track(pid), *t = tail->track(pid);
  if (!h || !h->count) h = t, t = nullptr;
  if (!h || !h->count) return s;
  s.ok = true;
  s.first_index = h->first_index;
  s.last_index = h->last_index;
  s.ticks = h->span();
  if (!t || !t->count) return s;
  // The clock's pace over both windows: the tail's many PCRs outweigh a
  // head that ended after a few.
  uint64_t steady = h->steady + t->steady;
  double rate = steady ? double(h->ticks + t->ticks) / double(steady) : 0;
  int64_t between = pcr_step(h->last, t->first);
  uint64_t packets = t->first_index - h->last_index;
  double expected = rate * double(packets);
  if (contiguous) {
    if (between > kPcrJumpMax) between = int64_t(expected);
  } else {
    // More wraps than none only where the packets between can hold them.
    if (kTicksPerPacketMax * double(packets) >= double(kPcrWrap)) {
      between = t->first - h->last;
      between += wraps_near(between, expected, kPcrWrap) * kPcrWrap;
    }
    // The bytes between the windows give the time at the windows' pace; a
    // clock that disagrees by more than an eighth jumped somewhere (even
    // variable-rate streams keep closer), and the probe finds where.
    bool jumps = tail->dit || head->dit || h->jumps || t->jumps || !plausible(between, packets) ||
                 (rate > 0 && std::fabs(double(between) - expected) > expected / 8);
    if (jumps) between = probe_ticks(info, file, pid, *h, *t);
  }
  s.ticks += between + t->span();
  s.last_index = t->last_index;
  s.rate = rate;
  return s;
}

// PCR duration: the span of the PCRs extrapolated to every packet.
bool pcr_duration(const pcr_span &s, uint64_t first, uint64_t end, uint64_t *ms)
{
  if (!s.ok || s.last_index <= s.first_index || s.ticks <= 0) return false;
  unsigned __int128 v = (unsigned __int128)(uint64_t(s.ticks) / 27000) * (end - first + 1);
  *ms = uint64_t(v / (s.last_index - s.first_index + 1));
  return true;
}

// Arrival-stamp duration: wraps of the 30-bit counter from the PCR span,
// else from the stamps' own rate in the head.  Stamps that are no clock (a
// muxer writing its byte count in them) give way to the PCR's time, and to
// no duration without one.
bool stamp_duration(const clock_facts *head, const clock_facts *tail, const pcr_span &s, bool contiguous,
                    uint64_t total, uint64_t *ms)
{
  if (!head->stamped) return false;
  bool pcr = s.ok && s.last_index > s.first_index && s.ticks > 0;
  // Steps beyond what one packet of the slowest stream can stand for.
  if (head->packets > 1 &&
      double(head->stamp_ticks) > kTicksPerPacketMax * double(head->packets - 1 - head->first_stamp_index))
    return pcr && pcr_duration(s, 0, total - 1, ms);
  const clock_facts *last = tail->stamped ? tail : head;
  int64_t span = int64_t(last->last_stamp) - int64_t(head->first_stamp);
  if (span < 0) span += kStampWrap;
  uint64_t packets = last->last_stamp_index - head->first_stamp_index;
  double estimate;
  if (pcr)
    estimate = double(s.ticks) * double(packets) / double(s.last_index - s.first_index);
  else if (contiguous || last == head)
    estimate = double(head->stamp_ticks + (last == head ? 0 : tail->stamp_ticks));
  else
    estimate = head->packets > 1 ? double(head->stamp_ticks) * double(packets) / double(head->packets - 1) : 0;
  if (estimate > 0) span += wraps_near(span, estimate, kStampWrap) * kStampWrap;
  if (pcr && std::fabs(double(span) - estimate) > estimate / 8) return pcr_duration(s, 0, total - 1, ms);
  *ms = uint64_t(span) / 27000;
  return true;
}

// Quick: the clock of the first packets only, extrapolated to the file.
bool quick_duration(const mpegts_info *info, int file, const sys_file_stat_rec *st, uint32_t pcr_pid, uint64_t total,
                    uint64_t *ms)
{
  bool stamps = info->timestamp_kind == MPEGTS_STAMPS_192;
  clock_facts c;
  c.only_pid = pcr_pid;
  uint64_t n = TAG_TS_QUICK_CLOCK_PACKETS + (stamps ? 1 : 0);
  if (!scan(&c, info, file, 0, n < total ? n : total)) return false;
  pcr_span s;
  if (const pcr_track *t = c.track(pcr_pid)) {
    s.ok = t->count > 0;
    s.ticks = t->span();
    s.first_index = t->first_index;
    s.last_index = t->last_index;
  }
  if (!stamps) return pcr_duration(s, 0, total - 1, ms);
  bool pcr = s.ok && s.last_index > s.first_index && s.ticks > 0;
  if (c.packets < 2 || double(c.stamp_ticks) > kTicksPerPacketMax * double(c.packets - 1))
    return pcr && pcr_duration(s, 0, total - 1, ms);
  unsigned __int128 v = (unsigned __int128)(c.stamp_ticks / 27000) * st->size;
  *ms = uint64_t(v / (c.packets * info->packet_size));
  return true;
}

}  // namespace

const pcr_track *clock_facts::track(uint32_t pid) const
{
  for (uint32_t i = 0; i < tracks; i++)
    if (pcr[i].pid == pid) return &pcr[i];
  return nullptr;
}

bool packet_pcr(const unsigned char *p, int64_t *pcr)
{
  uint32_t afc = (p[3] >> 4) & 3;
  if (p[0] != kSync || (afc != 2 && afc != 3) || p[4] < 7 || !(p[5] & 0x10)) return false;
  int64_t base = int64_t(p[6]) << 25 | int64_t(p[7]) << 17 | int64_t(p[8]) << 9 | int64_t(p[9]) << 1 | (p[10] >> 7);
  *pcr = base * 300 + ((int64_t(p[10]) & 1) << 8 | p[11]);
  return true;
}

void clock_observe(clock_facts *c, const unsigned char *unit, uint32_t header_offset, uint64_t index)
{
  if (header_offset == 4) {
    uint32_t stamp = stamp_of(unit);
    if (!c->stamped) {
      c->first_stamp = stamp;
      c->first_stamp_index = index;
      c->stamped = true;
    } else {
      c->stamp_ticks += (stamp - c->last_stamp) & kStampMask;
    }
    c->last_stamp = stamp;
    c->last_stamp_index = index;
  }
  c->packets = index + 1;
  const unsigned char *p = unit + header_offset;
  uint32_t pid = (uint32_t(p[1]) & 0x1F) << 8 | p[2];
  if (pid == kPidDit && p[0] == kSync) c->dit = true;
  int64_t pcr;
  if ((c->only_pid != UINT32_MAX && pid != c->only_pid) || !packet_pcr(p, &pcr)) return;
  if (pcr_track *t = track_for(c, pid)) pcr_add(t, pcr, index);
}

int duration_step(mpegts_info *info, const mpegts_demux *d, int file, const sys_file_stat_rec *st, int quick,
                  const clock_facts *head)
{
  if (has(info, MPEGTS_BIT_DURATION)) return 1;
  uint32_t kind = info->timestamp_kind;
  if (kind != MPEGTS_STAMPS_ZERO && kind != MPEGTS_STAMPS_192 && kind != MPEGTS_STAMPS_188) return 0;
  if (kind != MPEGTS_STAMPS_192 && !d->pmt) return 0;
  uint64_t total = packet_count(info, st);
  if (total == 0) return kind == MPEGTS_STAMPS_192 ? 0 : 1;
  uint32_t pcr_pid = d->pmt ? d->pmt->pcr_pid : UINT32_MAX;
  uint64_t ms = 0;
  bool found = false;
  if (quick) {
    found = quick_duration(info, file, st, pcr_pid, total, &ms);
  } else {
    clock_facts tail;
    tail.only_pid = pcr_pid;
    uint64_t window = TAG_TS_TAIL_WINDOW / info->packet_size;
    uint64_t from = total > window ? total - window : 0;
    bool contiguous = from <= head->packets;
    if (contiguous) from = head->packets;
    if (from < total && !scan(&tail, info, file, from, total)) return 0;
    pcr_span s;
    if (d->pmt) s = pcr_span_find(info, file, pcr_pid, head, &tail, contiguous);
    found = kind == MPEGTS_STAMPS_192 ? stamp_duration(head, &tail, s, contiguous, total, &ms)
                                      : pcr_duration(s, 0, total - 1, &ms);
    if (kind == MPEGTS_STAMPS_192 && !head->stamped) return 0;
  }
  if (!found) return 1;
  info->duration = ms > UINT32_MAX ? UINT32_MAX : uint32_t(ms);
  set(info, MPEGTS_BIT_DURATION);
  return 1;
}

}  // namespace ts
