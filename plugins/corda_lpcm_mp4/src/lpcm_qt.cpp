// The movie toolbox as the MP4 LPCM plug-in uses it: loaded from the
// plug-in's folder and started once per process, movies checked and
// opened, and their audio extracted as big-endian 16-bit PCM.
#include <corda_lpcm_mp4/corda_lpcm_mp4.h>
#include <corda_lpcm_mp4/corda_lpcm_mp4_limits.h>

#include <tarvo_qt/tarvo_qt.h>
#include <tarvo_util/sys_dlib.h>
#include <tarvo_util/sys_str.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace {

struct qt_api {
#define QT_SLOT(name) decltype(&::name) name;
  QT_ENTRY_POINTS(QT_SLOT)
#undef QT_SLOT
};

qt_api api;
std::once_flag start_once;
std::atomic<bool> started{false};

// TARVO_QT_LIBRARY names another file (tests); else the stand-in beside
// this plug-in.
std::string library_path()
{
  if (const char *over = std::getenv("TARVO_QT_LIBRARY")) return over;
  Dl_info info{};
  std::string self;
  if (dladdr(reinterpret_cast<const void *>(&library_path), &info) && info.dli_fname) self = info.dli_fname;
  size_t slash = self.rfind('/');
  return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + LPCM_QT_LIBRARY;
}

bool load(qt_api *a)
{
  sys_dlib_handle lib = nullptr;
  std::string path;
  try {
    path = library_path();
  } catch (...) {
    return false;
  }
  if (path.find('/') == std::string::npos) path = "./" + path;
  if (!sys_dlib_load(&lib, path.c_str())) return false;
  bool ok = true;
#define QT_RESOLVE(name)                                                   \
  {                                                                        \
    sys_dlib_fn fn = nullptr;                                              \
    ok = ok && sys_dlib_name(&lib, #name, &fn);                            \
    a->name = reinterpret_cast<decltype(&::name)>(fn);                     \
  }
  QT_ENTRY_POINTS(QT_RESOLVE)
#undef QT_RESOLVE
  // Kept loaded for the life of the process once started; a library
  // without every entry point is no toolbox.
  if (!ok) sys_dlib_free(&lib);
  return ok;
}

void start()
{
  if (!load(&api) || api.qt_initialize() != QT_NO_ERR) return;
  if (api.qt_enter_movies() != QT_NO_ERR) {
    api.qt_terminate();
    return;
  }
  started = true;
}

// The movie of path, or NULL.
qt_movie *open_movie(const char *path)
{
  uint32_t len = sys_str_len(path);
  if (!len || len > LPCM_QT_PATH_MAX) return nullptr;
  uint8_t pascal[LPCM_QT_PATH_MAX + 1];
  pascal[0] = uint8_t(len);
  std::memcpy(pascal + 1, path, len);
  qt_fsspec spec;
  qt_movie_file *file = nullptr;
  qt_movie *movie = nullptr;
  if (api.qt_make_fsspec(pascal, &spec) != QT_NO_ERR || api.qt_open_movie_file(&spec, &file) != QT_NO_ERR)
    return nullptr;
  if (api.qt_new_movie_from_file(&movie, file, QT_NEW_MOVIE_ACTIVE) != QT_NO_ERR) movie = nullptr;
  api.qt_close_movie_file(file);
  return movie;
}

// The extraction as the job wants it: 16-bit big-endian at its rate and
// channels, from its start.
bool set_up(qt_movie *movie, qt_extraction *x, const msf_lpcm_job *job, uint32_t *bytes_per_frame)
{
  qt_stream_description d;
  uint32_t used = 0;
  if (api.qt_extraction_get_property(x, QT_PROPCLASS_AUDIO, QT_PROP_STREAM_DESCRIPTION, sizeof d, &d, &used) !=
      QT_NO_ERR)
    return false;
  uint32_t channels = job->channels < 2 ? job->channels : 2;
  d.sample_rate = job->rate;
  d.format_flags = QT_FLAG_SIGNED_INTEGER | QT_FLAG_BIG_ENDIAN | QT_FLAG_PACKED;
  d.channels_per_frame = channels;
  d.bytes_per_packet = d.bytes_per_frame = channels * 2;
  d.bits_per_channel = 16;
  *bytes_per_frame = d.bytes_per_frame;
  if (api.qt_extraction_set_property(x, QT_PROPCLASS_AUDIO, QT_PROP_STREAM_DESCRIPTION, sizeof d, &d) != QT_NO_ERR)
    return false;
  int32_t scale = api.qt_get_movie_time_scale(movie);
  qt_time_record t{int64_t(scale) * job->start_ms / 1000, scale, nullptr};
  return api.qt_extraction_set_property(x, QT_PROPCLASS_MOVIE, QT_PROP_CURRENT_TIME, sizeof t, &t) == QT_NO_ERR;
}

bool extract(qt_extraction *x, uint32_t bytes_per_frame, msf_lpcm_out *out)
{
  uint32_t size = bytes_per_frame * LPCM_QT_FRAMES;
  auto *buf = new (std::nothrow) uint8_t[size];
  if (!buf) return false;
  bool ok = true;
  while (ok && out->budget) {
    qt_audio_buffer_list list{1, {{bytes_per_frame / 2, size, buf}}};
    uint32_t frames = LPCM_QT_FRAMES, flags = 0;
    ok = api.qt_extraction_fill_buffer(x, &frames, &list, &flags) == QT_NO_ERR &&
         msf_lpcm_out_put(out, buf, frames * bytes_per_frame);
    // The end of the movie also ends leading bytes still being skipped.
    if (flags & QT_EXTRACTION_COMPLETE) break;
  }
  delete[] buf;
  return ok && msf_lpcm_out_finish(out);
}

}  // namespace

extern "C" {

int lpcm_qt_ready(void)
{
  std::call_once(start_once, start);
  int32_t version = 0;
  return started && api.qt_gestalt(QT_GESTALT_VERSION, &version) == QT_NO_ERR && version >= LPCM_QT_MIN_VERSION;
}

void lpcm_qt_stop(void)
{
  if (!started.exchange(false)) return;
  api.qt_exit_movies();
  api.qt_terminate();
}

int lpcm_qt_movie_check(const char *path)
{
  if (!lpcm_qt_ready()) return 0;
  qt_movie *movie = open_movie(path);
  if (movie) api.qt_dispose_movie(movie);
  return movie != nullptr;
}

int lpcm_qt_decode(const msf_lpcm_job *job, msf_lpcm_out *out)
{
  if (!lpcm_qt_ready()) return 0;
  qt_movie *movie = open_movie(job->path);
  if (!movie) return 0;
  qt_extraction *x = nullptr;
  uint32_t bytes_per_frame = 0;
  bool ok = api.qt_extraction_begin(movie, 0, &x) == QT_NO_ERR && set_up(movie, x, job, &bytes_per_frame) &&
            extract(x, bytes_per_frame, out);
  if (x) api.qt_extraction_end(x);
  api.qt_dispose_movie(movie);
  return ok;
}

}  // extern "C"
