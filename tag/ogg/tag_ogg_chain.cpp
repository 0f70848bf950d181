// The Ogg page walks: the serial number of the last page, and the links of
// a chained file with their byte spans and play times.
#include <ogg/ogg.h>

#include <algorithm>
#include <cstring>

#include "ogg_impl.h"

namespace ogg {

namespace {

constexpr uint32_t kHeadMin = 27;             // the page header before its lacing values
// vorbisfile looks for the last page in this much of the file's end first.
constexpr uint64_t kTail = 65536;
constexpr uint32_t kIdPrefix = 16;            // "\x01vorbis", version, channels and rate

uint32_t le32(const unsigned char *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

int64_t le64(const unsigned char *p) { return int64_t(uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32); }

bool capture(const unsigned char *p) { return std::memcmp(p, "OggS", 4) == 0 && p[4] == 0; }

struct page {
  uint64_t at = 0, length = 0;  // header and body
  uint32_t serial = 0;
  int64_t granule = -1;
  bool bos = false;
  uint32_t rate = 0;  // of a BOS page that opens a Vorbis stream
};

// The page at or after pos; false at the end of the file.
bool page_next(mp3::file_window &w, uint64_t pos, uint64_t size, page *pg)
{
  while (pos + kHeadMin <= size) {
    uint32_t got;
    const unsigned char *b = w.at(pos, kHeadMin + 255 + kIdPrefix, &got);
    if (!b || got < kHeadMin) return false;
    if (!capture(b)) {
      const void *q = memmem(b + 1, got - 1, "OggS", 4);
      pos = q ? pos + uint64_t(static_cast<const unsigned char *>(q) - b) : pos + got - 3;
      continue;
    }
    uint32_t head = kHeadMin + b[26];
    if (got < head) return false;
    uint64_t body = 0;
    for (uint32_t i = kHeadMin; i < head; i++) body += b[i];
    *pg = page{pos, head + body, le32(b + 14), le64(b + 6), (b[5] & 2) != 0, 0};
    if (pg->bos && body >= kIdPrefix && got >= head + kIdPrefix && std::memcmp(b + head, "\x01vorbis", 7) == 0)
      pg->rate = le32(b + head + 12);
    return true;
  }
  return false;
}

// Hands every link to found, in order, until found returns false.  A link
// runs from its first BOS page to the next link's; its time is its first
// Vorbis stream's last granule position at the rate of that stream's
// identification header (0 without one).
template <class Found>
void chain_walk(mp3::file_window &w, uint64_t size, Found found)
{
  link_span link;
  bool open = false, vorbis = false, group = false;
  uint32_t serial = 0, rate = 0;
  int64_t last = -1;
  double played = 0;
  auto link_end = [&](uint64_t end) {
    if (!open) return true;
    link.end = end;
    link.start = played;
    link.seconds = vorbis && last > 0 ? double(last) / rate : 0;
    played += link.seconds;
    vorbis = false;
    last = -1;
    return found(link);
  };
  page pg;
  for (uint64_t pos = 0; page_next(w, pos, size, &pg); pos = pg.at + pg.length) {
    // A page cut short by the file's end has not the samples it counts.
    if (pg.at + pg.length > size) break;
    if (pg.bos) {
      // A BOS page after data pages begins the next link.
      if (!group && !link_end(pg.at)) return;
      if (!group) link.begin = pg.at;
      open = group = true;
      if (!vorbis && pg.rate) {
        vorbis = true;
        serial = pg.serial;
        rate = pg.rate;
      }
    } else {
      group = false;
      if (vorbis && pg.serial == serial && pg.granule >= 0) last = pg.granule;
    }
  }
  link_end(size);
}

}  // namespace

bool last_serial(mp3::file_window &w, uint64_t begin, uint64_t end, uint32_t *serial)
{
  ogg_sync_state oy;
  ogg_sync_init(&oy);
  bool found = false;
  for (uint64_t pos = end - begin > kTail ? end - kTail : begin; pos < end;) {
    uint32_t got;
    const unsigned char *b = w.at(pos, 1, &got);
    got = uint32_t(std::min<uint64_t>(got, end - pos));
    char *buf = b && got ? ogg_sync_buffer(&oy, long(got)) : nullptr;
    if (!buf) break;
    std::memcpy(buf, b, got);
    ogg_sync_wrote(&oy, long(got));
    pos += got;
    ogg_page og;
    for (long more; (more = ogg_sync_pageseek(&oy, &og)) != 0;) {
      if (more < 0) continue;
      *serial = uint32_t(ogg_page_serialno(&og));
      found = true;
    }
  }
  ogg_sync_clear(&oy);
  return found;
}

double chain_seconds(mp3::file_window &w, uint64_t size)
{
  double total = 0;
  chain_walk(w, size, [&](const link_span &l) {
    total += l.seconds;
    return true;
  });
  return total;
}

bool chain_link_at(mp3::file_window &w, uint64_t size, double at, link_span *link)
{
  bool found = false;
  chain_walk(w, size, [&](const link_span &l) {
    found = l.seconds > 0 && at >= l.start && at < l.start + l.seconds;
    if (found) *link = l;
    return !found;
  });
  return found;
}

}  // namespace ogg
