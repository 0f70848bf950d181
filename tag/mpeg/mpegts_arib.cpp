// ARIB service information of partial transport streams: network type,
// remote-control key, service name, event title and genres from the SIT.
#include <tarvo_util/charset.h>

#include <cstring>

#include "mpegts_parts.h"

namespace ts {
namespace {

// By content_nibble_level_1 (ARIB STD-B10).
const char *const arib_genre_names[16] = {
    "ニュース／報道", "スポーツ", "情報／ワイドショー", "ドラマ",
    "音楽", "バラエティ", "映画", "アニメ／特撮",
    "ドキュメンタリー／教養", "劇場／公演", "趣味／教育", "福祉",
    "未定義", "未定義", "未定義", "その他",
};
const char arib_genre_default[] = "不明";

// ARIB text into a NUL-terminated field of size bytes (at most size - 2
// written, as the fields are sized).
void arib_text(const unsigned char *p, uint32_t len, char *field, uint32_t size)
{
  std::memset(field, 0, size);
  uint32_t n = 0;
  if (!utf8_from_arib(p, len, field, size - 2, &n)) n = 0;
  field[n < size ? n : size - 1] = '\0';
}

int network_identification(const unsigned char *d, uint32_t len, mpegts_info *info)
{
  if (has(info, MPEGTS_BIT_OBJECT_TYPE) || len < 9) return 0;
  static const char *const types[][2] = {{"TB", "ARIB_TB"}, {"BS", "ARIB_BS"}, {"CS", "ARIB_CS"}};
  for (const auto &t : types)
    if (d[5] == t[0][0] && d[6] == t[0][1]) {
      std::memcpy(info->object_type, t[1], 8);
      set(info, MPEGTS_BIT_OBJECT_TYPE);
      return 1;
    }
  return 0;
}

int ts_information(const unsigned char *d, uint32_t len, mpegts_info *info)
{
  if (has(info, MPEGTS_BIT_REMOTE_KEY) || len < 3) return 0;
  info->remote_control_key_id = d[2];
  set(info, MPEGTS_BIT_REMOTE_KEY);
  return 1;
}

int service(const unsigned char *d, uint32_t len, mpegts_info *info)
{
  if (has(info, MPEGTS_BIT_CHANNEL_NAME) || len <= 4) return 0;
  uint32_t at = 4u + d[3]; // after service_type and the provider name
  if (at >= len || at + 1 + d[at] != len) return 0;
  arib_text(d + at + 1, d[at], info->channel_name, sizeof info->channel_name);
  set(info, MPEGTS_BIT_CHANNEL_NAME);
  return 1;
}

int short_event(const unsigned char *d, uint32_t len, mpegts_info *info)
{
  if (has(info, MPEGTS_BIT_TITLE) || len < 6 || std::memcmp(d + 2, "jpn", 3) != 0) return 0;
  if (6u + d[5] > len) return 0;
  arib_text(d + 6, d[5], info->title, sizeof info->title);
  set(info, MPEGTS_BIT_TITLE);
  return 1;
}

bool genre_add(mpegts_info *info, const char *name)
{
  uint32_t n = uint32_t(std::strlen(name));
  char *copy = static_cast<char *>(sys_alloc(n + 1));
  if (!copy) return false;
  std::memcpy(copy, name, n + 1);
  if (sys_ptralloc_append(&info->genres, copy)) return true;
  sys_alloc_free(copy);
  return false;
}

int content(const unsigned char *d, uint32_t len, mpegts_info *info)
{
  if (has(info, MPEGTS_BIT_GENRES)) return 0;
  bool undefined = false;
  for (uint32_t at = 2; at + 2 <= len; at += 2) {
    uint32_t nibble = d[at] >> 4;
    if (nibble >= 0xC && nibble <= 0xE) {
      if (undefined) continue;
      undefined = true;
    }
    if (!genre_add(info, arib_genre_names[nibble])) {
      info->out_of_memory = 1;
      return 0;
    }
  }
  if (info->genres.len) set(info, MPEGTS_BIT_GENRES);
  return 1;
}

const descriptor_handler_row network_rows[] = {{0xC2, network_identification}, {0, nullptr}};
const descriptor_handler_row no_rows[] = {{0, nullptr}};

int walk(const descriptor_handler_row *rows, const sys_memalloc_rec &m, mpegts_info *info)
{
  return descriptor_walk(rows, m.buf, m.len, info);
}

void channel_number(mpegts_info *info)
{
  if (has(info, MPEGTS_BIT_CHANNEL_NUMBER) || !has(info, MPEGTS_BIT_REMOTE_KEY) ||
      !has(info, MPEGTS_BIT_PROGRAM_NUMBER))
    return;
  uint32_t pn = info->program_number;
  info->channel_number = 10 * (200 * ((pn >> 7) & 3) + 10 * info->remote_control_key_id + (pn & 7) + 1);
  set(info, MPEGTS_BIT_CHANNEL_NUMBER);
}

int fallbacks(mpegts_info *info)
{
  if (!has(info, MPEGTS_BIT_TITLE) && has(info, MPEGTS_BIT_CHANNEL_NAME)) {
    std::memcpy(info->title, info->channel_name, sizeof info->channel_name);
    set(info, MPEGTS_BIT_TITLE);
  }
  if (!has(info, MPEGTS_BIT_GENRES)) {
    if (!genre_add(info, arib_genre_default)) return 0;
    set(info, MPEGTS_BIT_GENRES);
  }
  return 1;
}

}  // namespace
}  // namespace ts

extern "C" {
const descriptor_handler_row mpegts_sit_transmission_handlers[] = {
    {0xC2, ts::network_identification}, {0xCD, ts::ts_information}, {0, nullptr}};
const descriptor_handler_row mpegts_sit_service_handlers[] = {
    {0x48, ts::service}, {0x4D, ts::short_event}, {0x54, ts::content}, {0, nullptr}};
}

namespace ts {

int arib_system_step(mpegts_info *info, const mpegts_demux *d)
{
  if (has(info, MPEGTS_BIT_ARIB_SYSTEM)) return 1;
  if (info->stream_kind == MPEGTS_STREAM_PARTIAL) {
    if (!d->sit) return 1;
    if (!walk(network_rows, d->sit->transmission_info, info)) return 0;
    info->arib_system = has(info, MPEGTS_BIT_OBJECT_TYPE) ? 1 : 0;
  } else {
    info->arib_system = 0;
  }
  set(info, MPEGTS_BIT_ARIB_SYSTEM);
  return 1;
}

int program_number_step(mpegts_info *info, const mpegts_demux *d)
{
  if (has(info, MPEGTS_BIT_PROGRAM_NUMBER) || !d->pat || !d->pmt) return 1;
  if (d->pat->program_number != d->pmt->program_number) return 0;
  info->program_number = d->pat->program_number;
  set(info, MPEGTS_BIT_PROGRAM_NUMBER);
  return 1;
}

int arib_si_step(mpegts_info *info, const mpegts_demux *d)
{
  if (!d->pat || !d->pmt || info->arib_system != 1 || info->stream_kind != MPEGTS_STREAM_PARTIAL) return 1;
  if (!walk(no_rows, d->pmt->program_info, info) || !d->sit) return 0;
  if (!program_number_step(info, d)) return 0;
  if (!has(info, MPEGTS_BIT_PROGRAM_NUMBER)) return 1;
  if (info->program_number == d->sit->service_id &&
      (!walk(mpegts_sit_transmission_handlers, d->sit->transmission_info, info) ||
       !walk(mpegts_sit_service_handlers, d->sit->service_descriptors, info) || info->out_of_memory))
    return 0;
  channel_number(info);
  return fallbacks(info);
}

}  // namespace ts
