// Ogg Vorbis to big-endian 16-bit PCM through vorbisfile, which reads the
// file through the plug-in's own callbacks.  The links of a chained file
// that differ from the announced rate or channels are converted to them.
#include <corda_lpcm/corda_lpcm.h>

#include <tarvo_ffaudio/ffaudio_convert.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>
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

constexpr int kReadFrames = 1024;  // at most, in one ov_read_float
constexpr int kMaxReordered = 8;   // the channel counts with an order of their own

struct source {
  int file;
};

size_t cb_read(void *ptr, size_t size, size_t items, void *user)
{
  auto *s = static_cast<source *>(user);
  if (!size || !items || items > UINT32_MAX / size) return 0;
  uint32_t want = uint32_t(size * items), have = 0;
  while (have < want) {
    uint32_t got = 0;
    if (!sys_file_read(s->file, static_cast<char *>(ptr) + have, want - have, &got) || !got) break;
    have += got;
  }
  // Whole items only: a part item at the end is given up.
  return have / size;
}

int cb_seek(void *user, ogg_int64_t offset, int whence)
{
  auto *s = static_cast<source *>(user);
  sys_file_stat_rec st;
  int64_t base = 0;
  if (whence == SEEK_CUR) {
    if (!sys_file_seek_pos(s->file, &base)) return -1;
  } else if (whence == SEEK_END) {
    if (!sys_file_fstat(s->file, &st)) return -1;
    base = int64_t(st.size);
  } else if (whence != SEEK_SET) {
    return -1;
  }
  if (!sys_file_fstat(s->file, &st)) return -1;
  // Guarded against overflow: offsets come from the stream's own pages.
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0 || base + offset > int64_t(st.size)) return -1;
  int64_t at = 0;
  return sys_file_seek_set(s->file, base + offset, &at) ? 0 : -1;
}

// The file is the caller's; it closes it after ov_clear.
int cb_close(void *) { return 0; }

long cb_tell(void *user)
{
  int64_t pos = 0;
  return sys_file_seek_pos(static_cast<source *>(user)->file, &pos) ? long(pos) : -1;
}

const ov_callbacks lpcm_vorbis_callbacks = {cb_read, cb_seek, cb_close, cb_tell};
// Without seeking vorbisfile reads a chained file link after link and
// searches none ahead.
const ov_callbacks lpcm_vorbis_stream_callbacks = {cb_read, nullptr, cb_close, nullptr};

// vorbisfile on the whole file: seekable where the file ends in its first
// link, as a stream otherwise, since its search of the links loses memory
// when a later link is damaged.
int open_file(source *s, OggVorbis_File *vf, bool *seekable)
{
  *seekable = tag_ogg_one_link(s->file);
  int64_t at;
  if (!sys_file_seek_set(s->file, 0, &at)) return -1;
  return ov_open_callbacks(s, vf, nullptr, 0, *seekable ? lpcm_vorbis_callbacks : lpcm_vorbis_stream_callbacks);
}

bool decodable_format(const vorbis_info *vi)
{
  return vi && (vi->rate == 44100 || vi->rate == 48000) && (vi->channels == 1 || vi->channels == 2);
}

// Vorbis's channel order, by count, as indexes into the planes of the
// default layout of that count.
const int kVorbisOrder[kMaxReordered][kMaxReordered] = {
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

// A link in another format: through the converter, which keeps what its
// resampler holds until the next link or the end.
bool put_converted(pcm_out *o, float **pcm, long frames, const vorbis_info *vi)
{
  if (vi->channels > kMaxReordered) return true;  // no order known: left out
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

// What the converter holds, once a link in another format has ended.
bool put_held(pcm_out *o)
{
  if (!o->conv.p) return true;
  bool ok = ffaudio_flush(o->conv.p, &o->bytes) == 0 && put_native(o);
  ffaudio_reset(o->conv.p);
  return ok;
}

// A file opened as a stream reaches the start by decoding up to it.
bool stream_open(OggVorbis_File *vf, bool seekable, const msf_lpcm_job *job, msf_lpcm_out *out)
{
  double skip = double(job->start_ms) * 0.001;
  if (seekable && ov_time_seek(vf, skip) != 0) return false;
  if (seekable) skip = 0;
  pcm_out o{job, out, {}, {}, {}};
  std::vector<float *> from;
  int section = 0;
  while (out->budget) {
    float **pcm = nullptr;
    long got = ov_read_float(vf, &pcm, kReadFrames, &section);
    if (got == OV_HOLE && !seekable) continue;  // as a stream: each new link
    if (got < 0) return false;  // damaged past what vorbisfile skips itself
    if (got == 0) break;
    const vorbis_info *vi = ov_info(vf, section);
    if (!vi || vi->rate < 1 || vi->channels < 1) return false;
    long drop = std::min(got, long(std::lround(skip * double(vi->rate))));
    skip = drop < got ? 0 : skip - double(drop) / double(vi->rate);
    if (drop == got) continue;
    from.assign(pcm, pcm + vi->channels);
    for (float *&p : from) p += drop;
    bool same = uint32_t(vi->rate) == job->rate && uint32_t(vi->channels) == job->channels;
    if (!(same ? put_held(&o) && put_as_is(&o, from.data(), got - drop, vi->channels)
               : put_converted(&o, from.data(), got - drop, vi)))
      return false;
  }
  return put_held(&o) && msf_lpcm_out_finish(out);
}

}  // namespace

extern "C" {

// The first link's headers only: the served format is the first link's.
int lpcm_vorbis_decodable_fd(int file)
{
  source s{file};
  OggVorbis_File vf;
  if (ov_test_callbacks(&s, &vf, nullptr, 0, lpcm_vorbis_callbacks) < 0) return 0;
  int ok = decodable_format(ov_info(&vf, -1));
  ov_clear(&vf);
  return ok;
}

int lpcm_vorbis_stream_fd(int file, const msf_lpcm_job *job, msf_lpcm_out *out)
{
  source s{file};
  OggVorbis_File vf;
  bool seekable;
  if (open_file(&s, &vf, &seekable) < 0) return 0;
  int ok = stream_open(&vf, seekable, job, out);
  ov_clear(&vf);
  return ok;
}

}  // extern "C"
