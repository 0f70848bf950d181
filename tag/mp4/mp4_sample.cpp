// Sample descriptions of MP4 tracks: the audio and video entries with their
// ES descriptors, H.263 and AVC configurations and bit rate boxes.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_util/sys_alloc.h>

#include "mp4_impl.h"

namespace mp4 {
namespace {

struct codec_type {
  const char *type;
  uint32_t codec;
};

const codec_type kAudio[] = {
    {"mp4a", MP4_CODEC_AAC}, {"samr", MP4_CODEC_AMR}, {"sawb", MP4_CODEC_AMR}, {"sawp", MP4_CODEC_AMR_WBP}};
const codec_type kVideo[] = {
    {"mp4v", MP4_CODEC_MP4V}, {"s263", MP4_CODEC_H263}, {"avc1", MP4_CODEC_AVC}, {"avcp", MP4_CODEC_AVC}};

template <size_t N>
uint32_t codec_of(const box &b, const codec_type (&table)[N])
{
  for (const codec_type &c : table)
    if (b.is(c.type)) return c.codec;
  return MP4_CODEC_OTHER;
}

// A decoder specific info of len bytes at the position: AAC and MPEG-4
// visual ones are decoded, others and oversized ones passed.
bool decoder_info_read(in_box &d, uint32_t len, uint32_t codec, uint32_t oti, sample_entry *e)
{
  bool aac = codec == MP4_CODEC_AAC && oti == 0x40, visual = codec == MP4_CODEC_MP4V && oti == 0x20;
  if ((!aac && !visual) || len > TAG_MP4_CONFIG_MAX) return d.skip(len);
  auto *body = static_cast<unsigned char *>(sys_alloc(len ? len : 1));
  if (!body) return false;
  bool ok = d.get(body, len);
  mp4_audio_config c;
  if (ok && aac && (ok = mp4_audio_specific_config(body, len, &c))) {
    e->object_type = c.object_type;
    e->sample_rate = c.sample_rate;
    // Writers leave the entry's template count of 2 for mono AAC: the
    // configuration knows better.
    if (c.channels) e->channels = c.channels;
  } else if (ok && visual) {
    ok = visual_config(body, len);
  }
  sys_alloc_free(body);
  return ok;
}

bool decoder_config_read(source &s, in_box &es, uint32_t codec, sample_entry *e)
{
  uint32_t tag, len, oti;
  if (!descriptor_header(es, &tag, &len) || tag != 4 || len < 13 || len > es.left()) return false;
  in_box dc{s, s.pos + len};
  if (!dc.u8(&oti) || !dc.skip(4) || !dc.u32(&e->max_bitrate) || !dc.u32(&e->avg_bitrate)) return false;
  while (dc.left()) {
    if (!descriptor_header(dc, &tag, &len) || len > dc.left()) return false;
    uint64_t end = s.pos + len;
    if (tag == 5 ? !decoder_info_read(dc, len, codec, oti, e) : !dc.skip(len)) return false;
    if (s.pos != end) return false;
  }
  return true;
}

bool esds_read(source &s, const box &esds, uint32_t codec, sample_entry *e)
{
  in_box r = esds.body(s);
  uint32_t tag, len, flags, url;
  if (!r.skip(4) || !descriptor_header(r, &tag, &len) || tag != 3 || len < 3 || len > r.left()) return false;
  in_box es{s, s.pos + len};
  if (!es.skip(2) || !es.u8(&flags)) return false;
  e->priority = flags & 0x1F;
  if ((flags & 0x80) && !es.skip(2)) return false;
  if ((flags & 0x40) && !(es.u8(&url) && es.skip(url))) return false;
  if ((flags & 0x20) && !es.skip(2)) return false;
  return decoder_config_read(s, es, codec, e);
}

// The first box of an entry's children, of the type it must have.
bool first_child(source &s, const box &entry, const char *type, box *child)
{
  return box_read(s, child, entry.end) && child->is(type);
}

bool audio_entry_read(source &s, const box &b, sample_entry *e)
{
  in_box r = b.body(s);
  uint32_t rate;
  e->codec = codec_of(b, kAudio);
  if (!r.skip(16) || !r.u16(&e->channels) || !r.u16(&e->sample_size) || !r.skip(4) || !r.u32(&rate)) return false;
  // A codec without a configuration of its own read here keeps the
  // entry's 16.16 rate.
  if (e->codec == MP4_CODEC_OTHER) e->sample_rate = rate >> 16;
  if (e->codec != MP4_CODEC_AAC) return true;
  box esds;
  return first_child(s, b, "esds", &esds) && esds_read(s, esds, e->codec, e);
}

bool d263_read(source &s, const box &d263, sample_entry *e)
{
  in_box r = d263.body(s);
  uint32_t level, profile;
  if (!r.skip(5) || !r.u8(&level) || !r.u8(&profile)) return false;
  if (!r.left()) return true;
  box bitr;
  if (!first_child(s, d263, "bitr", &bitr)) return false;
  in_box q = bitr.body(s);
  return q.u32(&e->avg_bitrate) && q.u32(&e->max_bitrate);
}

// Every parameter set must be a sequence parameter set with its profile,
// constraints and level.
bool avcc_read(in_box r)
{
  uint32_t count, len, nal;
  if (!r.skip(5) || !r.u8(&count)) return false;
  for (uint32_t i = 0; i < (count & 0x1F); i++)
    if (!r.u16(&len) || len > r.left() || len < 4 || !r.u8(&nal) || (nal & 0x1F) != 7 || !r.skip(len - 1))
      return false;
  return true;
}

bool avc_children_read(source &s, const box &b, sample_entry *e)
{
  box avcc;
  if (!first_child(s, b, "avcC", &avcc) || !avcc_read(avcc.body(s)) || !s.skip_to(avcc.end)) return false;
  return children(s, b.end, [&](box &c) {
    in_box q = c.body(s);
    return !c.is("btrt") || (q.skip(4) && q.u32(&e->max_bitrate) && q.u32(&e->avg_bitrate));
  });
}

bool video_entry_read(source &s, const box &b, sample_entry *e)
{
  in_box r = b.body(s);
  e->codec = codec_of(b, kVideo);
  if (!r.skip(24) || !r.u16(&e->width) || !r.u16(&e->height) || !r.skip(46) || !r.u16(&e->depth) || !r.skip(2))
    return false;
  box c;
  switch (e->codec) {
    case MP4_CODEC_MP4V: return first_child(s, b, "esds", &c) && esds_read(s, c, e->codec, e);
    case MP4_CODEC_H263: return first_child(s, b, "d263", &c) && d263_read(s, c, e);
    case MP4_CODEC_AVC: return avc_children_read(s, b, e);
    default: return true;
  }
}

}  // namespace

bool stsd_read(source &s, const box &stsd, uint32_t handler, sample_entry *chosen, bool *found)
{
  in_box r = stsd.body(s);
  uint32_t count;
  if (!r.skip(4) || !r.u32(&count)) return false;
  for (uint32_t i = 0; i < count; i++) {
    box b;
    sample_entry e;
    if (!box_read(s, &b, stsd.end)) return false;
    bool media = handler == HANDLER_SOUND || handler == HANDLER_VIDEO;
    if (handler == HANDLER_SOUND && !audio_entry_read(s, b, &e)) return false;
    if (handler == HANDLER_VIDEO && !video_entry_read(s, b, &e)) return false;
    if (!s.skip_to(b.end)) return false;
    // The highest stream priority wins; the first entry on a tie.
    if (media && (!*found || e.priority > chosen->priority)) {
      *chosen = e;
      *found = true;
    }
  }
  return true;
}

}  // namespace mp4
