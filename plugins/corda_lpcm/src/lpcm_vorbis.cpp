// Ogg Vorbis to big-endian 16-bit PCM through vorbisfile, which reads the
// file through the plug-in's own callbacks.  The links of a chained file
// that differ from the announced rate or channels are converted to them.
#include <corda_lpcm/corda_lpcm.h>

#include <tarvo_ffaudio/ffaudio_convert.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_log.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/utf8file.h>

#include <vorbis/vorbisfile.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// What vorbisfile sees as the whole file: the bytes [begin, end) of it,
// read from pos on.
struct source {
  int file;
  int64_t begin, end, pos;
};

size_t cb_read(void *ptr, size_t size, size_t items, void *user)
{
  auto *s = static_cast<source *>(user);
  if (!size || !items || items > UINT32_MAX / size) return 0;
  uint32_t want = uint32_t(std::min<int64_t>(int64_t(size * items), std::max<int64_t>(s->end - s->pos, 0))), have = 0;
  while (have < want) {
    uint32_t got = 0;
    if (!sys_file_read(s->file, static_cast<char *>(ptr) + have, want - have, &got) || !got) break;
    have += got;
  }
  s->pos += have;
  // Whole items only: a part item at the end is given up.
  return have / size;
}

int cb_seek(void *user, ogg_int64_t offset, int whence)
{
  auto *s = static_cast<source *>(user);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
  int64_t base = whence == SEEK_SET ? s->begin : whence == SEEK_CUR ? s->pos : s->end;
  // Guarded against overflow: offsets come from the stream's own pages.
  int64_t target, at = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < s->begin || target > s->end) return -1;
  if (!sys_file_seek_set(s->file, target, &at)) return -1;
  s->pos = target;
  return 0;
}

// The file is the caller's; it closes it after ov_clear.
int cb_close(void *) { return 0; }

long cb_tell(void *user)
{
  auto *s = static_cast<source *>(user);
  return long(s->pos - s->begin);
}

const ov_callbacks lpcm_vorbis_callbacks = {cb_read, cb_seek, cb_close, cb_tell};
// Without seeking vorbisfile reads a chained file link after link and
// searches none ahead.
const ov_callbacks lpcm_vorbis_stream_callbacks = {cb_read, nullptr, cb_close, nullptr};

// The whole file, read from where it stands.
bool source_whole(int file, source *s)
{
  sys_file_stat_rec st;
  *s = source{file, 0, 0, 0};
  if (!sys_file_fstat(file, &st) || st.size > uint64_t(INT64_MAX) || !sys_file_seek_pos(file, &s->pos)) return false;
  s->end = int64_t(st.size);
  return true;
}

// vorbisfile on the source's bytes from their start.  Opened for seeking
// only where they end in their first link, since vorbisfile's search of
// the links loses memory when a later link is damaged.
int open_span(source *s, OggVorbis_File *vf, bool seekable)
{
  if (!sys_file_seek_set(s->file, s->begin, &s->pos)) return -1;
  return ov_open_callbacks(s, vf, nullptr, 0, seekable ? lpcm_vorbis_callbacks : lpcm_vorbis_stream_callbacks);
}

bool decodable_format(const vorbis_info *vi)
{
  return vi && (vi->rate == 44100 || vi->rate == 48000) && (vi->channels == 1 || vi->channels == 2);
}

// Vorbis's channel order, by count, as indexes into the planes of the
// default layout of that count.
const int kVorbisOrder[MSF_LPCM_VORBIS_CHANNELS_MAX][MSF_LPCM_VORBIS_CHANNELS_MAX] = {
    {0}, {0, 1}, {0, 2, 1}, {0, 1, 2, 3}, {0, 2, 1, 3, 4}, {0, 2, 1, 5, 3, 4}, {0, 2, 1, 6, 5, 3, 4},
    {0, 2, 1, 7, 5, 6, 3, 4}};

void frame_free(AVFrame *f) { av_frame_free(&f); }

// Decoded samples as the wire takes them, and the converter of the links
// that are not in the announced format.
struct pcm_out {
  const msf_lpcm_job *job;
  msf_lpcm_out *out;
  own::ptr<FfConverter, ffaudio_converter_free> conv;
  own::ptr<AVFrame, frame_free> frame;
  std::vector<uint8_t> bytes;
  bool unordered = false;  // within a link played as silence for its channel count
  uint64_t silence_carry = 0;  // of that link's frames, times the announced rate
  bool damaged = false;  // a link passed over for its headers, said once
};

// Native 16-bit samples in bytes, sent big-endian.
bool put_native(pcm_out *o)
{
  for (size_t i = 0; i + 1 < o->bytes.size(); i += 2) {
    uint16_t v;
    std::memcpy(&v, &o->bytes[i], 2);
    o->bytes[i] = uint8_t(v >> 8);
    o->bytes[i + 1] = uint8_t(v);
  }
  bool ok = o->bytes.empty() || msf_lpcm_out_put(o->out, o->bytes.data(), uint32_t(o->bytes.size()));
  o->bytes.clear();
  return ok;
}

// A link in the announced format, big-endian: rounded half up and clipped
// as ov_read does (floor(x + 0.5) as truncation of a positive sum).
bool put_as_is(pcm_out *o, float **pcm, long frames, int channels)
{
  o->bytes.resize(size_t(frames) * size_t(channels) * 2);
  uint8_t *d = o->bytes.data();
  for (long i = 0; i < frames; i++)
    for (int c = 0; c < channels; c++) {
      float x = pcm[c][i] * 32768.f;
      int v = x >= 32767.f ? 32767 : x <= -32768.f ? -32768 : int(double(x) + 32768.5) - 32768;
      *d++ = uint8_t(uint16_t(v) >> 8);
      *d++ = uint8_t(v);
    }
  bool ok = msf_lpcm_out_put(o->out, o->bytes.data(), uint32_t(o->bytes.size()));
  o->bytes.clear();
  return ok;
}

// What the converter holds, once a link in another format has ended.
bool put_held(pcm_out *o)
{
  if (!o->conv.p) return true;
  bool ok = ffaudio_flush(o->conv.p, &o->bytes) == 0 && put_native(o);
  ffaudio_reset(o->conv.p);
  return ok;
}

// A link whose channels have no known order keeps its time as silence
// where it stands, so that the links after it play where the chain times
// them (said once).  Its frames are counted at the announced rate, the
// part frame carried to the next read.
bool put_silence(pcm_out *o, long frames, const vorbis_info *vi)
{
  if (!o->unordered) {
    sys_log_print(SYS_LOG_WARNING, "%s: a Vorbis link of %d channels plays as silence (at most %d have a known order)",
                  o->job->path, vi->channels, MSF_LPCM_VORBIS_CHANNELS_MAX);
    o->silence_carry = 0;
  }
  o->unordered = true;
  if (!put_held(o)) return false;
  o->silence_carry += uint64_t(frames) * o->job->rate;
  uint64_t n = o->silence_carry / uint64_t(vi->rate);
  o->silence_carry %= uint64_t(vi->rate);
  o->bytes.assign(size_t(n) * o->job->channels * 2, 0);
  return put_native(o);
}

// A link in another format: through the converter, which keeps what its
// resampler holds until the next link or the end.
bool put_converted(pcm_out *o, float **pcm, long frames, const vorbis_info *vi)
{
  if (vi->channels > MSF_LPCM_VORBIS_CHANNELS_MAX) return put_silence(o, frames, vi);
  if (!o->conv.p && !(o->conv.p = ffaudio_converter_new(int(o->job->channels), int(o->job->rate)))) return false;
  if (!o->frame.p && !(o->frame.p = av_frame_alloc())) return false;
  AVFrame *f = o->frame.p;
  f->format = AV_SAMPLE_FMT_FLTP;
  f->sample_rate = int(vi->rate);
  f->nb_samples = int(frames);
  av_channel_layout_uninit(&f->ch_layout);
  av_channel_layout_default(&f->ch_layout, vi->channels);
  for (int c = 0; c < vi->channels; c++)
    f->data[c] = reinterpret_cast<uint8_t *>(pcm[kVorbisOrder[vi->channels - 1][c]]);
  f->extended_data = f->data;
  int r = ffaudio_convert(o->conv.p, f, 0, &o->bytes);
  // A frame that cannot be converted adds nothing; the next may.
  return r != AVERROR(ENOMEM) && put_native(o);
}

bool put_frames(pcm_out *o, float **pcm, long frames, const vorbis_info *vi)
{
  if (vi->channels <= MSF_LPCM_VORBIS_CHANNELS_MAX) o->unordered = false;
  bool same = uint32_t(vi->rate) == o->job->rate && uint32_t(vi->channels) == o->job->channels;
  return same ? put_held(o) && put_as_is(o, pcm, frames, vi->channels) : put_converted(o, pcm, frames, vi);
}

// A stream's link whose headers vorbisfile refuses (no channels, rate 0):
// each read passes one of its pages, until the next link's headers.  The
// chain's times leave it out too.
bool passed_over(pcm_out *o, long got)
{
  if (got != OV_EBADHEADER && got != OV_ENOTVORBIS) return false;
  if (!o->damaged) sys_log_print(SYS_LOG_WARNING, "%s: a damaged Vorbis link is passed over", o->job->path);
  o->damaged = true;
  return true;
}

// vf to its end or until the budget is spent, its first *skip seconds
// dropped.  holes: a stream's new links (and pages lost, and links that
// cannot be played) are passed over.
bool decode(OggVorbis_File *vf, bool holes, double *skip, pcm_out *o)
{
  std::vector<float *> from;
  int section = 0;
  while (o->out->budget) {
    float **pcm = nullptr;
    long got = ov_read_float(vf, &pcm, MSF_LPCM_VORBIS_READ_FRAMES, &section);
    if (holes && (got == OV_HOLE || passed_over(o, got))) continue;
    if (got < 0) return false;  // damaged past what vorbisfile skips itself
    if (got == 0) break;
    const vorbis_info *vi = ov_info(vf, section);
    if (!vi || vi->rate < 1 || vi->channels < 1) return false;
    long drop = std::min(got, long(std::lround(*skip * double(vi->rate))));
    *skip = drop < got ? 0 : *skip - double(drop) / double(vi->rate);
    if (drop == got) continue;
    from.assign(pcm, pcm + vi->channels);
    for (float *&p : from) p += drop;
    if (!put_frames(o, from.data(), got - drop, vi)) return false;
  }
  return true;
}

// The source's bytes from their start: seekable ones from the time, a
// stream by decoding up to it.
bool from_start(source *s, bool seekable, double at, pcm_out *o)
{
  OggVorbis_File vf;
  if (open_span(s, &vf, seekable) < 0) return false;
  double skip = seekable ? 0 : at;
  bool ok = (!seekable || ov_time_seek(&vf, at) == 0) && decode(&vf, !seekable, &skip, o);
  ov_clear(&vf);
  return ok;
}

// A chained file from the link that plays at `at`: that link's bytes
// alone, opened for seeking, then the links after it as a stream.
bool from_link(const source *s, const tag_ogg_link &l, double at, pcm_out *o)
{
  source link{s->file, int64_t(l.begin), int64_t(l.end), 0};
  OggVorbis_File vf;
  if (open_span(&link, &vf, true) < 0) return false;
  const vorbis_info *vi = ov_info(&vf, -1);
  ogg_int64_t total = ov_pcm_total(&vf, -1);
  double skip = 0;
  // Rounded as a stream's decoding drops its way to the time.
  bool ok = vi && total >= 0 &&
            ov_pcm_seek(&vf, std::min<ogg_int64_t>(std::lround((at - l.start) * double(vi->rate)), total)) == 0 &&
            decode(&vf, true, &skip, o);
  ov_clear(&vf);
  if (!ok || !o->out->budget || link.end >= s->end) return ok;
  // The stream goes on from the next link that plays: one whose headers
  // vorbisfile refuses, opened first, would end it.
  tag_ogg_link next;
  bool after = tag_ogg_link_at(s->file, l.start + l.seconds, &next) && next.begin >= l.end;
  source rest{s->file, after ? int64_t(next.begin) : link.end, s->end, 0};
  return from_start(&rest, false, 0, o);
}

bool stream(source *s, const msf_lpcm_job *job, msf_lpcm_out *out)
{
  double at = double(job->start_ms) * 0.001;
  pcm_out o{job, out, {}, {}, {}};
  tag_ogg_link l;
  bool ok;
  if (tag_ogg_one_link(s->file))
    ok = from_start(s, true, at, &o);
  else if (at > 0 && tag_ogg_link_at(s->file, at, &l))
    ok = from_link(s, l, at, &o);
  else
    ok = from_start(s, false, at, &o);
  return ok && put_held(&o) && msf_lpcm_out_finish(out);
}

}  // namespace

extern "C" {

// The first link's headers only: the served format is the first link's.
int lpcm_vorbis_decodable_fd(int file)
{
  source s;
  OggVorbis_File vf;
  if (!source_whole(file, &s) || ov_test_callbacks(&s, &vf, nullptr, 0, lpcm_vorbis_callbacks) < 0) return 0;
  int ok = decodable_format(ov_info(&vf, -1));
  ov_clear(&vf);
  return ok;
}

int lpcm_vorbis_stream_fd(int file, const msf_lpcm_job *job, msf_lpcm_out *out)
{
  source s;
  return source_whole(file, &s) && stream(&s, job, out);
}

}  // extern "C"
