// Ogg Vorbis to big-endian 16-bit PCM through vorbisfile, which reads the
// file through the plug-in's own callbacks.
#include <corda_lpcm/corda_lpcm.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/utf8file.h>

#include <vorbis/vorbisfile.h>

#include <cstdio>

namespace {

constexpr int kReadBytes = 4096;  // one ov_read
constexpr int kBigEndian = 1, kWordBytes = 2, kSigned = 1;

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

bool decodable_format(const vorbis_info *vi)
{
  return vi && (vi->rate == 44100 || vi->rate == 48000) && (vi->channels == 1 || vi->channels == 2);
}

bool stream_open(OggVorbis_File *vf, const msf_lpcm_job *job, msf_lpcm_out *out)
{
  if (ov_time_seek(vf, double(job->start_ms) * 0.001) != 0) return false;
  char buf[kReadBytes];
  int section = 0;
  while (out->budget) {
    long got = ov_read(vf, buf, sizeof buf, kBigEndian, kWordBytes, kSigned, &section);
    if (got < 0) return false;  // damaged past what vorbisfile skips itself
    if (got == 0) break;
    if (!msf_lpcm_out_put(out, buf, uint32_t(got))) return false;
  }
  return msf_lpcm_out_finish(out);
}

}  // namespace

extern "C" {

int lpcm_vorbis_decodable_fd(int file)
{
  source s{file};
  OggVorbis_File vf;
  if (ov_open_callbacks(&s, &vf, nullptr, 0, lpcm_vorbis_callbacks) < 0) return 0;
  int ok = decodable_format(ov_info(&vf, -1));
  ov_clear(&vf);
  return ok;
}

int lpcm_vorbis_stream_fd(int file, const msf_lpcm_job *job, msf_lpcm_out *out)
{
  source s{file};
  OggVorbis_File vf;
  if (ov_open_callbacks(&s, &vf, nullptr, 0, lpcm_vorbis_callbacks) < 0) return 0;
  int ok = stream_open(&vf, job, out);
  ov_clear(&vf);
  return ok;
}

}  // extern "C"
