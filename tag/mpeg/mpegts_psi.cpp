// Section assembly with the PAT, PMT and SIT handlers, the stream choice,
// and PES assembly into the elementary-stream parsers.
#include <strings.h>

#include <cstring>

#include "mpegts_parts.h"

namespace ts {
namespace {

using handler_fn = int (*)(mpegts_demux *d, ts_pid_buffer *b, uint32_t *consumed);

uint32_t u16(const unsigned char *p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t pid13(const unsigned char *p) { return (uint32_t(p[0]) & 0x1F) << 8 | p[1]; }
uint32_t len12(const unsigned char *p) { return (uint32_t(p[0]) & 0x0F) << 8 | p[1]; }

ts_pid_buffer *buffer_find(mpegts_demux *d, uint32_t pid)
{
  for (uint32_t i = d->pid_buffers.len; i-- > 0;) {
    auto *b = static_cast<ts_pid_buffer *>(d->pid_buffers.buf[i]);
    if (b->pid == pid) return b;
  }
  return nullptr;
}

ts_pid_buffer *buffer_new(mpegts_demux *d, uint32_t pid)
{
  if (d->pid_buffers.len >= TAG_TS_PID_BUFFERS_MAX) return nullptr;
  auto *b = static_cast<ts_pid_buffer *>(sys_alloc_zero(sizeof(ts_pid_buffer)));
  if (!b) return nullptr;
  b->pid = pid;
  if (!sys_ptralloc_append(&d->pid_buffers, b)) {
    sys_alloc_free(b);
    return nullptr;
  }
  return b;
}

void drop_front(sys_memalloc_rec *m, uint32_t n)
{
  if (n >= m->len) {
    m->len = 0;
    return;
  }
  std::memmove(m->buf, m->buf + n, m->len - n);
  m->len -= n;
}

void pmt_free(pmt_record *pmt)
{
  if (!pmt) return;
  for (uint32_t i = 0; i < pmt->es_entries.len; i++) {
    auto *e = static_cast<pmt_es_entry *>(pmt->es_entries.buf[i]);
    sys_memalloc_free(&e->es_info);
    sys_alloc_free(e);
  }
  sys_ptralloc_free(&pmt->es_entries);
  sys_memalloc_free(&pmt->program_info);
  sys_alloc_free(pmt);
}

void sit_free(sit_record *sit)
{
  if (!sit) return;
  sys_memalloc_free(&sit->transmission_info);
  sys_memalloc_free(&sit->service_descriptors);
  sys_alloc_free(sit);
}

void audio_clear(mpegts_demux *d)
{
  for (uint32_t i = 0; i < d->audio.len; i++) sys_alloc_free(d->audio.buf[i]);
  d->audio.len = 0;
}

// The framing every PSI handler shares.
enum class frame { wait, ok, crc, ignore, bad };

frame section_frame(const sys_memalloc_rec &data, uint8_t table_id, uint32_t max, uint32_t *consumed)
{
  *consumed = 0;
  // A section whose first bytes close the packet waits for the next one.
  if (data.len < 8) return frame::wait;
  uint32_t n = len12(data.buf + 1) + 3;
  if (n > max || n < 12) return frame::bad;
  if (data.len < n) return frame::wait;
  *consumed = n;
  if (!crc32_mpeg2_check(data.buf, n)) return frame::crc;
  if (data.buf[0] != table_id) return frame::bad;
  if (!(data.buf[5] & 1)) return frame::ignore;
  return frame::ok;
}

// The result of a section that is not to be parsed, or -1 to parse it.
int frame_result(frame f)
{
  switch (f) {
    case frame::ok: return -1;
    case frame::crc: return TS_RESULT_CRC_ERROR; // the held record stays
    case frame::bad: return TS_RESULT_FAIL;
    default: return TS_RESULT_GO_ON;
  }
}

uint8_t version_of(const unsigned char *s) { return uint8_t((s[5] >> 1) & 0x1F); }

int pat_handler(mpegts_demux *d, ts_pid_buffer *b, uint32_t *consumed)
{
  int r = frame_result(section_frame(b->data, 0x00, TAG_TS_PSI_SECTION_MAX, consumed));
  if (r >= 0) return r;
  const unsigned char *s = b->data.buf;
  uint32_t n = *consumed, tsid = u16(s + 3);
  if (d->pat && d->pat->transport_stream_id != tsid) {
    sys_alloc_free(d->pat);
    d->pat = nullptr;
    return TS_RESULT_STOP;
  }
  if (d->pat && d->pat->version_number == version_of(s)) return TS_RESULT_GO_ON;
  uint32_t loop = n - 12;
  if (loop % 4) return TS_RESULT_FAIL;
  if (loop / 4 < 1 || loop / 4 > 2) {
    sys_alloc_free(d->pat);
    d->pat = nullptr;
    return TS_RESULT_STOP;
  }
  pat_record rec{tsid, version_of(s), 0, 0, 0};
  bool network = false, program = false;
  for (uint32_t at = 8; at < n - 4; at += 4) {
    uint32_t number = u16(s + at), pid = pid13(s + at + 2);
    if (number == 0) {
      if (pid == 0 || network) return TS_RESULT_FAIL;
      rec.network_pid = pid;
      network = true;
    } else {
      if (program) return TS_RESULT_STOP;
      rec.pmt_pid = pid;
      rec.program_number = number;
      program = true;
    }
  }
  if (!d->pat && !(d->pat = static_cast<pat_record *>(sys_alloc_zero(sizeof(pat_record))))) return TS_RESULT_FAIL;
  *d->pat = rec;
  return TS_RESULT_GO_ON;
}

bool audio_add(mpegts_demux *d, uint32_t stream_type, uint32_t pid)
{
  if (d->audio.len >= TAG_TS_AUDIO_MAX) return true;
  auto *a = static_cast<es_audio_info *>(sys_alloc_zero(sizeof(es_audio_info)));
  if (!a) return false;
  a->stream_type = uint16_t(stream_type);
  a->pid = pid;
  if (!sys_ptralloc_append(&d->audio, a)) {
    sys_alloc_free(a);
    return false;
  }
  return true;
}

void video_set(mpegts_demux *d, uint32_t stream_type, uint32_t pid)
{
  d->video.stream_type = uint16_t(stream_type);
  d->video.pid = pid;
}

pmt_es_entry *entry_at(const pmt_record *pmt, uint32_t i) { return static_cast<pmt_es_entry *>(pmt->es_entries.buf[i]); }

// Component tags first, then the first known types, then "AC-3"
// registrations.  A video chosen from an earlier version stays.
int stream_choice(mpegts_demux *d)
{
  const pmt_record *pmt = d->pmt;
  audio_clear(d);
  for (uint32_t i = 0; i < pmt->es_entries.len; i++) {
    const pmt_es_entry *e = entry_at(pmt, i);
    const unsigned char *desc;
    uint32_t dlen;
    if (!descriptor_find(&e->es_info, 0x52, &desc, &dlen) || dlen < 3) continue;
    if (desc[2] == 0x00) {
      if (d->video.pid) return TS_RESULT_STOP;
      video_set(d, e->stream_type, e->elementary_pid);
    } else if (desc[2] == 0x10) {
      if (d->audio.len) return TS_RESULT_STOP;
      if (!audio_add(d, e->stream_type, e->elementary_pid)) return TS_RESULT_FAIL;
    }
  }
  for (uint32_t i = 0; i < pmt->es_entries.len && (!d->video.pid || !d->audio.len); i++) {
    const pmt_es_entry *e = entry_at(pmt, i);
    if (known_video(e->stream_type) && !d->video.pid) video_set(d, e->stream_type, e->elementary_pid);
    if (known_audio(e->stream_type) && !d->audio.len && !audio_add(d, e->stream_type, e->elementary_pid))
      return TS_RESULT_FAIL;
  }
  if (d->video.pid && d->audio.len) return TS_RESULT_GO_ON;
  for (uint32_t i = 0; i < pmt->es_entries.len; i++) {
    pmt_es_entry *e = entry_at(pmt, i);
    const unsigned char *desc;
    uint32_t dlen;
    if (!descriptor_find(&e->es_info, 0x05, &desc, &dlen) || dlen < 6) continue;
    if (strncasecmp(reinterpret_cast<const char *>(desc + 2), "AC-3", 4) != 0) continue;
    if (e->stream_type != ES_TYPE_AC3) e->stream_type_sent = e->stream_type;
    e->stream_type = ES_TYPE_AC3;
    if (!audio_add(d, ES_TYPE_AC3, e->elementary_pid)) return TS_RESULT_FAIL;
  }
  return TS_RESULT_GO_ON;
}

// The ES loop into pmt; false for an entry that does not fit.
bool es_loop_read(const unsigned char *s, uint32_t at, uint32_t end, pmt_record *pmt, bool *nomem)
{
  while (at < end) {
    if (end - at < 5) return false;
    uint32_t pid = pid13(s + at + 1), info_len = len12(s + at + 3);
    if (info_len > end - at - 5 || pid == 0) return false;
    auto *e = static_cast<pmt_es_entry *>(sys_alloc_zero(sizeof(pmt_es_entry)));
    if (!e || !sys_ptralloc_append(&pmt->es_entries, e)) {
      sys_alloc_free(e);
      *nomem = true;
      return false;
    }
    e->stream_type = s[at];
    e->elementary_pid = pid;
    if (info_len && !sys_memalloc_copyb(&e->es_info, s + at + 5, info_len)) {
      *nomem = true;
      return false;
    }
    at += 5 + info_len;
  }
  return true;
}

int pmt_handler(mpegts_demux *d, ts_pid_buffer *b, uint32_t *consumed)
{
  int r = frame_result(section_frame(b->data, 0x02, TAG_TS_PSI_SECTION_MAX, consumed));
  if (r >= 0) return r;
  if (!d->pat) return TS_RESULT_FAIL;
  const unsigned char *s = b->data.buf;
  uint32_t end = *consumed - 4;
  if (u16(s + 3) != d->pat->program_number) return TS_RESULT_STOP;
  if (d->pmt && d->pmt->version_number == version_of(s)) return TS_RESULT_GO_ON;
  uint32_t info_len = len12(s + 10);
  if (12 + info_len > end) return TS_RESULT_FAIL;
  auto *pmt = static_cast<pmt_record *>(sys_alloc_zero(sizeof(pmt_record)));
  if (!pmt) return TS_RESULT_FAIL;
  pmt->pid = d->pid;
  pmt->program_number = u16(s + 3);
  pmt->version_number = version_of(s);
  pmt->pcr_pid = pid13(s + 8);
  bool nomem = false;
  if ((info_len && !sys_memalloc_copyb(&pmt->program_info, s + 12, info_len)) ||
      !es_loop_read(s, 12 + info_len, end, pmt, &nomem)) {
    pmt_free(pmt);
    return TS_RESULT_FAIL;
  }
  pmt_free(d->pmt);
  d->pmt = pmt;
  return stream_choice(d);
}

int sit_handler(mpegts_demux *d, ts_pid_buffer *b, uint32_t *consumed)
{
  int r = frame_result(section_frame(b->data, 0x7F, TAG_TS_SIT_SECTION_MAX, consumed));
  if (r >= 0) return r;
  const unsigned char *s = b->data.buf;
  uint32_t end = *consumed - 4;
  if (d->sit && d->sit->version_number == version_of(s)) return TS_RESULT_GO_ON;
  uint32_t info_len = len12(s + 8);
  if (10 + info_len + 4 > end) return TS_RESULT_FAIL;
  uint32_t at = 10 + info_len;
  uint32_t service_len = len12(s + at + 2);
  if (at + 4 + service_len != end) {
    sit_free(d->sit);
    d->sit = nullptr;
    return TS_RESULT_STOP;
  }
  auto *sit = static_cast<sit_record *>(sys_alloc_zero(sizeof(sit_record)));
  if (!sit) return TS_RESULT_FAIL;
  sit->version_number = version_of(s);
  sit->service_id = u16(s + at);
  if ((info_len && !sys_memalloc_copyb(&sit->transmission_info, s + 10, info_len)) ||
      (service_len && !sys_memalloc_copyb(&sit->service_descriptors, s + at + 4, service_len))) {
    sit_free(sit);
    return TS_RESULT_FAIL;
  }
  sit_free(d->sit);
  d->sit = sit;
  return TS_RESULT_GO_ON;
}

int stuffing_handler(mpegts_demux *, ts_pid_buffer *b, uint32_t *consumed)
{
  *consumed = b->data.len;
  return TS_RESULT_GO_ON;
}

struct psi_handler_row {
  uint32_t table_id;
  handler_fn handler;
};

const psi_handler_row psi_handler_table[] = {
    {0x00, pat_handler}, {0x02, pmt_handler}, {0x7F, sit_handler}, {0xFF, stuffing_handler}, {0, nullptr},
};

handler_fn handler_for(uint8_t table_id)
{
  for (const psi_handler_row *row = psi_handler_table; row->handler; row++)
    if (row->table_id == table_id) return row->handler;
  return nullptr;
}

// Hands the buffered sections to their handlers until one waits.
int sections_run(mpegts_demux *d, ts_pid_buffer *b)
{
  int result = TS_RESULT_GO_ON;
  while (b->data.len) {
    handler_fn h = handler_for(b->data.buf[0]);
    if (!h) return TS_RESULT_FAIL;
    uint32_t consumed = 0;
    result = h(d, b, &consumed);
    drop_front(&b->data, consumed);
    if (consumed == 0 || (result != TS_RESULT_GO_ON && result != TS_RESULT_CRC_ERROR)) return result;
  }
  return result;
}

const es_header_parser_row *video_row(const mpegts_demux *d)
{
  return es_header_parser_find(es_header_parser_table.video, d->video.stream_type);
}

es_audio_info *audio_of(mpegts_demux *d, uint32_t pid)
{
  for (uint32_t i = 0; i < d->audio.len; i++) {
    auto *a = static_cast<es_audio_info *>(d->audio.buf[i]);
    if (a->pid == pid) return a;
  }
  return nullptr;
}

// Cuts the PES header out once it is buffered whole.
void pes_header_remove(ts_pid_buffer *b)
{
  uint32_t pos = b->pes_header_pos;
  if (pos == TS_PES_HEADER_REMOVED || b->data.len - pos < 9) return;
  uint32_t n = 9u + b->data.buf[pos + 8];
  if (b->data.len - pos < n) return;
  std::memmove(b->data.buf + pos, b->data.buf + pos + n, b->data.len - pos - n);
  b->data.len -= n;
  b->pes_header_pos = TS_PES_HEADER_REMOVED;
}

int es_result(int r)
{
  switch (r) {
    case ES_RESULT_COMPLETE: return TS_RESULT_GO_ON;
    case ES_RESULT_MORE: return TS_RESULT_MORE;
    case ES_RESULT_UNSUPPORTED: return TS_RESULT_STOP;
    case ES_RESULT_STUFFING: return TS_RESULT_STOP_STUFFING;
    default: return TS_RESULT_FAIL;
  }
}

}  // namespace

bool known_video(uint32_t stream_type) { return es_header_parser_find(es_header_parser_table.video, stream_type); }
bool known_audio(uint32_t stream_type) { return es_header_parser_find(es_header_parser_table.audio, stream_type); }

const pmt_es_entry *pmt_entry(const pmt_record *pmt, uint32_t pid)
{
  for (uint32_t i = 0; pmt && i < pmt->es_entries.len; i++)
    if (entry_at(pmt, i)->elementary_pid == pid) return entry_at(pmt, i);
  return nullptr;
}

int section_assemble(mpegts_demux *d, const unsigned char *p, uint32_t len)
{
  bool start = d->payload_unit_start_indicator != 0;
  if (start && d->pointer_field > len - 1) return TS_RESULT_FAIL;
  ts_pid_buffer *b = buffer_find(d, d->pid);
  if (!b) {
    if (!start) return TS_RESULT_GO_ON;
    if (!(b = buffer_new(d, d->pid))) return TS_RESULT_FAIL;
  } else if (start) {
    // The bytes before the new section complete the previous one; what is
    // left of that one then can never be completed.
    if (!sys_memalloc_catb(&b->data, p + 1, d->pointer_field)) return TS_RESULT_FAIL;
    int r = sections_run(d, b);
    if (r != TS_RESULT_GO_ON && r != TS_RESULT_CRC_ERROR && r != TS_RESULT_MORE) return r;
    b->data.len = 0;
  } else {
    if (!sys_memalloc_catb(&b->data, p, len)) return TS_RESULT_FAIL;
    return sections_run(d, b);
  }
  uint32_t from = 1 + d->pointer_field;
  if (!sys_memalloc_catb(&b->data, p + from, len - from)) return TS_RESULT_FAIL;
  return sections_run(d, b);
}

int pes_assemble(mpegts_demux *d, const unsigned char *p, uint32_t len)
{
  ts_pid_buffer *b = buffer_find(d, d->pid);
  if (!b) {
    if (!d->payload_unit_start_indicator) return TS_RESULT_GO_ON;
    if (!(b = buffer_new(d, d->pid))) return TS_RESULT_FAIL;
  } else if (d->payload_unit_start_indicator) {
    if (b->pes_header_pos != TS_PES_HEADER_REMOVED) b->data.len = 0;
    b->pes_header_pos = b->data.len;
  }
  if (b->data.len + len > TAG_TS_PES_BUFFER_MAX) {
    // A parser that never consumes cannot hold the file in memory.
    b->data.len = 0;
    b->pes_header_pos = d->payload_unit_start_indicator ? 0 : TS_PES_HEADER_REMOVED;
  }
  if (!sys_memalloc_catb(&b->data, p, len)) return TS_RESULT_FAIL;
  pes_header_remove(b);
  if (!b->data.len || b->pes_header_pos != TS_PES_HEADER_REMOVED) return TS_RESULT_GO_ON;
  void *record;
  const es_header_parser_row *row;
  if (d->pid == d->video.pid) {
    record = &d->video;
    row = video_row(d);
  } else {
    es_audio_info *a = audio_of(d, d->pid);
    if (!a) return TS_RESULT_GO_ON;
    record = a;
    row = es_header_parser_find(es_header_parser_table.audio, a->stream_type);
  }
  if (!row) return TS_RESULT_GO_ON;
  uint32_t consumed = 0;
  int r = row->parse(record, &b->data, &consumed);
  if (consumed > b->data.len) return TS_RESULT_FAIL;
  drop_front(&b->data, consumed);
  return es_result(r);
}

void demux_free(mpegts_demux *d)
{
  for (uint32_t i = 0; i < d->pid_buffers.len; i++) {
    auto *b = static_cast<ts_pid_buffer *>(d->pid_buffers.buf[i]);
    sys_memalloc_free(&b->data);
    sys_alloc_free(b);
  }
  sys_ptralloc_free(&d->pid_buffers);
  sys_alloc_free(d->pat);
  pmt_free(d->pmt);
  sit_free(d->sit);
  audio_clear(d);
  sys_ptralloc_free(&d->audio);
  *d = mpegts_demux{};
}

}  // namespace ts
