// PES packet helpers shared by the time seek and the program-stream reader.
#include <tarvo_tag/mpeg_pes.h>

extern "C" {

int mpeg_is_pes_stream_id(uint32_t id)
{
  return id >= 0xBC && id <= 0xFF;
}

uint64_t mpeg_pts_unpack(const unsigned char *b)
{
  return (uint64_t(b[0] & 0x0E) << 29) | (uint64_t(b[1]) << 22) | (uint64_t(b[2] & 0xFE) << 14) |
         (uint64_t(b[3]) << 7) | (uint64_t(b[4]) >> 1);
}

// The header's layout is told by the top two bits of each leading byte:
// 11 stuffing, 01 an MPEG-1 buffer-size field, 10 the MPEG-2 header, 00 the
// MPEG-1 time-stamp field (or a byte that says there is none).
int mpeg_pes_header_pts(const unsigned char *data, uint32_t len, uint64_t *pts)
{
  *pts = MPEG_PTS_NONE;
  uint32_t i = 0;
  for (;;) {
    if (i >= len) return 0;
    unsigned top = data[i] >> 6;
    if (top == 3) {
      i += 1;
    } else if (top == 1) {
      if (len - i < 2) return 0;
      i += 2;
    } else if (top == 2) {
      if (len - i < 2) return 0;
      if (!(data[i + 1] & 0x80)) return 1;
      if (len - i < 8) return 0;
      *pts = mpeg_pts_unpack(data + i + 3);
      return 1;
    } else {
      unsigned kind = data[i] >> 4;
      if (kind != 2 && kind != 3) return 1;
      if (len - i < 5) return 0;
      *pts = mpeg_pts_unpack(data + i);
      return 1;
    }
  }
}

}  // extern "C"
