// The MP4 box walk: the top level, the movie with its header and tracks,
// and the choice of one audio and one video track.
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_util/sys_alloc.h>

#include <initializer_list>

#include "mp4_impl.h"

namespace mp4 {
namespace {

struct track {
  uint32_t enabled = 0;
  uint32_t id = 0;
  uint32_t handler = HANDLER_OTHER;
  uint32_t timescale = 0;
  bool tkhd = false;
  bool mdia = false;
  bool have_entry = false;
  sample_entry entry;
};

struct walk {
  source s;
  mp4_info *info = nullptr;
  bool ftyp = false;
  bool moov = false;
  bool audio = false;  // a track was chosen
  bool video = false;
  uint32_t audio_id = 0;
  uint32_t video_id = 0;
};

bool mvhd_read(in_box r, mp4_info *info)
{
  uint32_t version, timescale;
  uint64_t duration;
  if (!r.u8(&version)) return false;
  if (version == 1) {
    if (!r.skip(19) || !r.u32(&timescale) || !r.u64(&duration)) return false;
  } else {
    uint32_t d32;
    if (!r.skip(11) || !r.u32(&timescale) || !r.u32(&d32)) return false;
    duration = d32;
  }
  // Without a timescale the movie has no known duration.
  info->duration_ms = timescale ? uint64_t((unsigned __int128)duration * 1000 / timescale) : 0;
  return true;
}

// Read only to check that the descriptor holds its fields.
bool iods_read(in_box r)
{
  uint32_t tag, len;
  if (!r.skip(4) || !descriptor_header(r, &tag, &len) || len > r.left()) return false;
  if (tag != 0x10) return true;
  in_box d{r.s, r.s.pos + len};
  unsigned char head[2], levels[4];
  if (!d.get(head, 2)) return false;
  return (head[1] & 0x20) || (len >= 6 && d.get(levels, 4));
}

bool tkhd_read(in_box r, track *t)
{
  uint32_t version, flags, id;
  if (!r.u8(&version) || !r.skip(2) || !r.u8(&flags) || !r.skip(version == 1 ? 16 : 8) || !r.u32(&id)) return false;
  t->enabled = flags & 1;
  t->id = id;
  t->tkhd = true;
  return true;
}

// The entry counts of the sample tables that are checked against their
// box: each entry must lie within it.
bool table_check(in_box r, uint32_t entry_size)
{
  uint32_t count;
  return r.skip(4) && r.u32(&count) && uint64_t(count) * entry_size <= r.left();
}

bool stbl_read(source &s, const box &stbl, track *t)
{
  bool stsd = false, stts = false, stsc = false, stsz = false, stco = false;
  bool ok = children(s, stbl.end, [&](box &b) {
    if (b.is("stsd")) return (stsd = true) && stsd_read(s, b, t->handler, &t->entry, &t->have_entry);
    if (b.is("stts")) return (stts = true) && table_check(b.body(s), 8);
    if (b.is("stsc")) return (stsc = true) && table_check(b.body(s), 12);
    if (b.is("stco")) return (stco = true) && table_check(b.body(s), 4);
    // 64-bit chunk offsets, as in files over 4 GB.
    if (b.is("co64")) return (stco = true) && table_check(b.body(s), 8);
    if (b.is("stsz") || b.is("stz2")) stsz = true;
    return true;
  });
  return ok && stsd && stts && stsc && stsz && stco;
}

bool minf_read(source &s, const box &minf, track *t)
{
  bool header = false, dinf = false, stbl = false;
  bool ok = children(s, minf.end, [&](box &b) {
    if (b.is("vmhd") || b.is("smhd") || b.is("hmhd") || b.is("nmhd")) header = true;
    if (b.is("dinf")) dinf = true;
    if (b.is("stbl")) return (stbl = true) && stbl_read(s, b, t);
    return true;
  });
  return ok && header && dinf && stbl;
}

uint32_t handler_kind(const char type[4])
{
  if (std::memcmp(type, "soun", 4) == 0) return HANDLER_SOUND;
  if (std::memcmp(type, "vide", 4) == 0) return HANDLER_VIDEO;
  if (std::memcmp(type, "hint", 4) == 0) return HANDLER_HINT;
  return HANDLER_OTHER;
}

bool mdia_read(source &s, const box &mdia, track *t)
{
  bool mdhd = false, hdlr = false, minf = false;
  bool ok = children(s, mdia.end, [&](box &b) {
    in_box r = b.body(s);
    if (b.is("mdhd")) {
      uint32_t version;
      return (mdhd = true) && r.u8(&version) && r.skip(version == 1 ? 19 : 11) && r.u32(&t->timescale);
    }
    if (b.is("hdlr")) {
      char type[4];
      if (!(hdlr = true) || !r.skip(8) || !r.get(type, 4)) return false;
      t->handler = handler_kind(type);
      return true;
    }
    if (b.is("minf")) return (minf = true) && minf_read(s, b, t);
    return true;
  });
  t->mdia = true;
  return ok && mdhd && hdlr && minf;
}

// The enabled track of the handler with the lowest id gives its fields.
void track_choose(walk &w, const track &t)
{
  if (!t.enabled) return;
  const sample_entry &e = t.entry;
  mp4_info *info = w.info;
  if (t.handler == HANDLER_SOUND && (!w.audio || t.id < w.audio_id)) {
    w.audio = true;
    w.audio_id = t.id;
    info->audio_bitrate = e.avg_bitrate ? e.avg_bitrate : e.max_bitrate;
    info->audio_channels = e.channels;
    info->audio_sample_rate = e.sample_rate ? e.sample_rate : t.timescale;
  } else if (t.handler == HANDLER_VIDEO && (!w.video || t.id < w.video_id)) {
    w.video = true;
    w.video_id = t.id;
    info->video_codec = e.codec;
    info->video_width = uint16_t(e.width);
    info->video_height = uint16_t(e.height);
    info->video_bitrate = e.avg_bitrate;
  }
}

bool trak_read(walk &w, const box &trak)
{
  track t;
  bool ok = children(w.s, trak.end, [&](box &b) {
    if (b.is("tkhd")) return tkhd_read(b.body(w.s), &t);
    if (b.is("mdia")) return mdia_read(w.s, b, &t);
    return true;
  });
  if (!ok || !t.tkhd || !t.mdia) return false;
  track_choose(w, t);
  return true;
}

bool moov_read(walk &w, const box &moov)
{
  bool mvhd = false;
  w.s.allowance += moov.size;
  bool ok = children(w.s, moov.end, [&](box &b) {
    if (b.is("mvhd")) return (mvhd = true) && mvhd_read(b.body(w.s), w.info);
    if (b.is("iods")) return iods_read(b.body(w.s));
    if (b.is("trak")) return trak_read(w, b);
    if (b.is("udta")) return udta_read(w.s, b, w.info);
    return true;
  });
  w.moov = true;
  return ok && mvhd && (w.audio || w.video);
}

bool top_read(walk &w)
{
  while (w.s.pos < w.s.size) {
    box b;
    // Once the movie is read, a file with too many boxes to walk within the
    // allowance has given all it holds.
    if (!box_read(w.s, &b, w.s.size)) return w.ftyp && w.moov && w.s.refused;
    if (b.is("ftyp")) {
      char brand[4];
      if (!b.body(w.s).get(brand, 4)) return false;
      w.ftyp = true;
    } else if (b.is("moov")) {
      if (!w.ftyp || !moov_read(w, b)) return false;
    }
    if (!w.s.skip_to(b.end)) return false;
  }
  return w.ftyp && w.moov;
}

}  // namespace

bool descriptor_header(in_box &r, uint32_t *tag, uint32_t *len)
{
  uint32_t b;
  if (!r.u8(tag)) return false;
  *len = 0;
  for (int i = 0; i < 4; i++) {
    if (!r.u8(&b)) return false;
    *len = *len << 7 | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  return true;
}

}  // namespace mp4

extern "C" {

int mp4_parse(mp4_info *info, int file, const sys_file_stat_rec *st)
{
  *info = mp4_info{};
  if (!st->size) return 0;
  mp4::walk w;
  w.info = info;
  bool ok = w.s.start(file, st->size) && mp4::top_read(w);
  if (!ok) mp4_info_free(info);
  return ok;
}

void mp4_info_free(mp4_info *info)
{
  for (char **p : {&info->title, &info->artist, &info->composer, &info->comment, &info->album, &info->genre,
                   &info->rights}) {
    sys_alloc_free(*p);
    *p = nullptr;
  }
}

}  // extern "C"
