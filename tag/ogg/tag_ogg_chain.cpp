// The Ogg page walks: the serial number of the last page, and the links of
// a chained file with their byte spans and play times.
#include <ogg/ogg.h>
#include <tarvo_util/sys_owner.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cstring>

#include "ogg_impl.h"

namespace ogg {

namespace {

constexpr uint32_t kHeadMin = 27;             // the page header before its lacing values
// vorbisfile looks for the last page in this much of the file's end first.
constexpr uint64_t kTail = 65536;
constexpr uint32_t kIdPrefix = 7;             // "\x01vorbis"
constexpr int kHeaders = 3;                   // identification, comments, setup

uint32_t le32(const unsigned char *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

int64_t le64(const unsigned char *p) { return int64_t(uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32); }

bool capture(const unsigned char *p) { return std::memcmp(p, "OggS", 4) == 0 && p[4] == 0; }

struct page {
  uint64_t at = 0, length = 0;  // header and body
  uint32_t serial = 0;
  int64_t granule = -1;
  bool bos = false;
  bool vorbis = false;  // a BOS page that opens a Vorbis stream
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
    *pg = page{pos, head + body, le32(b + 14), le64(b + 6), (b[5] & 2) != 0, false};
    pg->vorbis = pg->bos && body >= kIdPrefix && got >= head + kIdPrefix && std::memcmp(b + head, "\x01vorbis", 7) == 0;
    return true;
  }
  return false;
}

// The page's bytes read whole and checked as libogg checks them; og points
// into oy until its next use.
bool page_read(mp3::file_window &w, const page &pg, uint64_t size, ogg_sync_state *oy, ogg_page *og)
{
  if (pg.at + pg.length > size) return false;
  ogg_sync_reset(oy);
  char *buf = ogg_sync_buffer(oy, long(pg.length));
  if (!buf || !w.read(pg.at, buf, uint32_t(pg.length))) return false;
  ogg_sync_wrote(oy, long(pg.length));
  return ogg_sync_pageout(oy, og) == 1;
}

// Whether a page passed by its size unread is whole: the next page or the
// file's end follows it, or else its checksum holds.  A page cut short
// (a link cut mid-page) would otherwise hide the next link's first pages.
bool page_sound(mp3::file_window &w, const page &pg, uint64_t size, ogg_sync_state *oy)
{
  uint64_t next = pg.at + pg.length;
  if (next > size) return false;
  uint32_t got;
  const unsigned char *b = next == size ? nullptr : w.at(next, 5, &got);
  if (next == size || (b && got >= 5 && capture(b))) return true;
  ogg_page og;
  return page_read(w, pg, size, oy, &og);
}

// A link's Vorbis stream read from its headers to its first audio page, as
// vorbisfile reads it to learn where the link's samples start: the first
// granule position less the samples that page's packets complete (a
// stream saved from mid-way starts past 0).
struct stream_head {
  own::rec<ogg_stream_state, ogg_stream_clear> os;
  own::rec<vorbis_info, vorbis_info_clear> vi;
  own::rec<vorbis_comment, vorbis_comment_clear> vc;
  int headers = 0;
  long lastblock = -1;
  int64_t counted = 0;
};

bool head_begin(stream_head *h, uint32_t serial)
{
  ogg_stream_clear(&h->os);
  vorbis_info_clear(&h->vi);
  vorbis_comment_clear(&h->vc);
  vorbis_info_init(&h->vi);
  vorbis_comment_init(&h->vc);
  h->headers = 0;
  h->lastblock = -1;
  h->counted = 0;
  return h->vi.codec_setup && ogg_stream_init(&h->os, int(serial)) == 0;
}

enum head_state { HEAD_BAD, HEAD_MORE, HEAD_DONE };

// One page of the stream; at HEAD_DONE *first is where its samples start.
head_state head_page(stream_head *h, ogg_page *og, int64_t *first)
{
  bool audio = h->headers == kHeaders;
  if (ogg_stream_pagein(&h->os, og) != 0) return HEAD_BAD;
  ogg_packet op;
  for (int r; (r = ogg_stream_packetout(&h->os, &op)) != 0;) {
    // A hole amid the headers, or a header libvorbis refuses (no
    // channels, rate 0): vorbisfile plays nothing of the link.  A hole
    // after them is passed over, as vorbisfile passes it.
    if (r < 0 && h->headers < kHeaders) return HEAD_BAD;
    if (r < 0) continue;
    if (h->headers < kHeaders) {
      if (vorbis_synthesis_headerin(&h->vi, &h->vc, &op) != 0) return HEAD_BAD;
      h->headers++;
      continue;
    }
    long block = vorbis_packet_blocksize(&h->vi, &op);
    if (block < 0) continue;
    if (h->lastblock >= 0) h->counted += (h->lastblock + block) >> 2;
    h->lastblock = block;
  }
  int64_t granule = ogg_page_granulepos(og);
  if (!audio || granule < 0) return HEAD_MORE;
  *first = std::max<int64_t>(granule - h->counted, 0);
  return HEAD_DONE;
}

// The state of the walk through one link.
struct link_walk {
  link_span link;
  bool open = false, group = false;
  bool vorbis = false, heading = false;  // a Vorbis stream found; its headers being read
  uint32_t serial = 0;
  int64_t first = 0, last = -1;
  double played = 0;
};

// A link's first Vorbis stream, from its BOS page on.
void stream_page(mp3::file_window &w, const page &pg, uint64_t size, ogg_sync_state *oy, stream_head *h, link_walk *k)
{
  if (pg.bos && (k->vorbis || !pg.vorbis)) return;
  if (pg.bos) {
    k->vorbis = k->heading = head_begin(h, pg.serial);
    k->serial = pg.serial;
  }
  if (!k->vorbis || pg.serial != k->serial) return;
  if (k->heading) {
    ogg_page og;
    head_state s = page_read(w, pg, size, oy, &og) ? head_page(h, &og, &k->first) : HEAD_BAD;
    k->vorbis = s != HEAD_BAD;
    k->heading = s == HEAD_MORE;
  }
  if (k->vorbis && !k->heading && pg.granule >= 0) k->last = pg.granule;
}

// Hands every link to found, in order, until found returns false.  A link
// runs from its first BOS page to the next link's; its time is its first
// Vorbis stream's, from the samples its first audio page completes to the
// last granule position, at the rate of the stream's headers.  A link
// whose headers libvorbis refuses has no time, as it plays nothing.
template <class Found>
void chain_walk(mp3::file_window &w, uint64_t size, Found found)
{
  own::rec<ogg_sync_state, ogg_sync_clear> oy;
  ogg_sync_init(&oy);
  stream_head h;
  link_walk k;
  auto link_end = [&](uint64_t end) {
    if (!k.open) return true;
    k.link.end = end;
    k.link.start = k.played;
    bool timed = k.vorbis && !k.heading && k.last > k.first && h.vi.rate > 0;
    k.link.seconds = timed ? double(k.last - k.first) / double(h.vi.rate) : 0;
    k.played += k.link.seconds;
    k.vorbis = k.heading = false;
    k.first = 0;
    k.last = -1;
    return found(k.link);
  };
  page pg;
  for (uint64_t pos = 0; page_next(w, pos, size, &pg); pos = pg.at + pg.length) {
    if (!page_sound(w, pg, size, &oy)) {
      pg.length = 1;  // searched on from its next byte
      continue;
    }
    if (pg.bos) {
      // A BOS page after data pages begins the next link.
      if (!k.group && !link_end(pg.at)) return;
      if (!k.group) k.link.begin = pg.at;
      k.open = k.group = true;
    } else {
      k.group = false;
    }
    stream_page(w, pg, size, &oy, &h, &k);
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
