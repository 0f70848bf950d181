// Values that the media server reads from a resource: MIME parameters,
// durations, and the byte ranges that time-seek requests announce.
#include <vennard/media_http.h>

#include <tarvo_util/sys_str.h>

#include <cstdint>

namespace {

// Leading decimal digits as a number; false without digits or when it
// does not fit 32 bits.
bool digits_u32(const char *s, uint32_t *n, uint32_t *used)
{
  uint64_t v = 0;
  uint32_t i = 0;
  for (; s[i] >= '0' && s[i] <= '9'; i++) {
    v = v * 10 + uint64_t(s[i] - '0');
    if (v > UINT32_MAX) return false;
  }
  *n = uint32_t(v);
  *used = i;
  return i > 0;
}

uint64_t l16_offset(uint32_t bitrate, uint32_t ms)
{
  return uint64_t(bitrate) * ms / 1000;
}

}  // namespace

extern "C" {

int media_duration_parse(const char *text, uint32_t *ms)
{
  *ms = 0;
  if (!text) return 0;
  uint32_t part[3], used;
  const char *p = text;
  for (int i = 0; i < 3; i++) {
    if (!digits_u32(p, &part[i], &used)) return 0;
    p += used;
    if (i < 2 && *p++ != ':') return 0;
  }
  uint64_t total = (uint64_t(part[0]) * 3600 + uint64_t(part[1]) * 60 + part[2]) * 1000;
  if (*p == '.') {
    // Milliseconds from the first three digits; further digits are finer
    // than the answer can tell.
    uint32_t scale = 100, frac = 0, i = 1;
    for (; p[i] >= '0' && p[i] <= '9'; i++)
      if (scale) {
        frac += uint32_t(p[i] - '0') * scale;
        scale /= 10;
      }
    if (i == 1) return 0;
    total += frac;
  }
  if (total > UINT32_MAX) return 0;
  *ms = uint32_t(total);
  return 1;
}

uint32_t media_seek_times(int64_t start_ms, int64_t end_ms, int has_end, uint32_t total_ms,
                          http_server_npt_rec *npt)
{
  if (start_ms < 0 || start_ms >= int64_t(total_ms)) return MEDIA_SEEK_BAD_RANGE;
  if (has_end && (end_ms <= start_ms)) return MEDIA_SEEK_BAD_RANGE;
  if (!has_end || end_ms > int64_t(total_ms)) end_ms = total_ms;
  *npt = {uint32_t(start_ms), uint32_t(end_ms), total_ms};
  return MEDIA_SEEK_OK;
}

uint32_t media_l16_range(uint32_t bitrate, uint32_t channels, const http_server_npt_rec *npt,
                         http_server_range_rec *range)
{
  uint64_t frame = uint64_t(channels) * 2;
  if (!frame) return MEDIA_SEEK_BAD_RANGE;
  uint64_t start = l16_offset(bitrate, npt->start_ms) / frame * frame;
  uint64_t end = range->size;
  if (npt->end_ms != npt->total_ms) {
    end = (l16_offset(bitrate, npt->end_ms) + frame - 1) / frame * frame;
    // The duration and bit rate may promise more than the file holds.
    if (end > range->size) end = range->size;
  }
  if (start >= range->size) return MEDIA_SEEK_BAD_RANGE;
  range->offset = start;
  range->length = end - start;
  return MEDIA_SEEK_OK;
}

}  // extern "C"
