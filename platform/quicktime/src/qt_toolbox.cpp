// The movie toolbox stand-in on FFmpeg's mov demuxer: start and end, the
// version query, file references, movies and their time scale.
#include "qt_impl.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <cstring>
#include <new>

#ifndef TARVO_QT_VERSION
#define TARVO_QT_VERSION 0x07028000  // the toolbox release this stands in for
#endif

namespace {

std::atomic<int> initialised{0}, entered{0};

// The first audio stream that has a decoder here.
int audio_stream(AVFormatContext *f)
{
  for (unsigned i = 0; i < f->nb_streams; i++) {
    const AVCodecParameters *p = f->streams[i]->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO && avcodec_find_decoder(p->codec_id) && p->sample_rate > 0 &&
        p->ch_layout.nb_channels > 0)
      return int(i);
  }
  return -1;
}

}  // namespace

bool qt_started() { return initialised.load() && entered.load(); }

extern "C" {

__attribute__((visibility("default"))) qt_err qt_initialize(void)
{
  initialised = 1;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) void qt_terminate(void) { initialised = 0; }

__attribute__((visibility("default"))) qt_err qt_enter_movies(void)
{
  if (!initialised) return QT_ERR_NOT_STARTED;
  entered = 1;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) void qt_exit_movies(void) { entered = 0; }

__attribute__((visibility("default"))) qt_err qt_gestalt(uint32_t selector, int32_t *response)
{
  if (!response || selector != QT_GESTALT_VERSION) return QT_ERR_PARAM;
  *response = TARVO_QT_VERSION;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) qt_err qt_make_fsspec(const uint8_t *pascal_path, qt_fsspec *spec)
{
  if (!pascal_path || !spec || !pascal_path[0]) return QT_ERR_PARAM;
  std::memcpy(spec->name, pascal_path, size_t(pascal_path[0]) + 1);
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) qt_err qt_open_movie_file(const qt_fsspec *spec, qt_movie_file **file)
{
  if (!spec || !file) return QT_ERR_PARAM;
  if (!qt_started()) return QT_ERR_NOT_STARTED;
  auto *f = new (std::nothrow) qt_movie_file;
  if (!f) return QT_ERR_MEMORY;
  try {
    f->path.assign(reinterpret_cast<const char *>(spec->name + 1), spec->name[0]);
  } catch (...) {
    delete f;
    return QT_ERR_MEMORY;
  }
  *file = f;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) qt_err qt_new_movie_from_file(qt_movie **movie, qt_movie_file *file,
                                                                     uint32_t)
{
  if (!movie || !file) return QT_ERR_PARAM;
  *movie = nullptr;
  AVFormatContext *f = nullptr;
  const AVInputFormat *mov = av_find_input_format("mov");
  if (avformat_open_input(&f, file->path.c_str(), mov, nullptr) < 0) return QT_ERR_FILE_NOT_FOUND;
  int stream = avformat_find_stream_info(f, nullptr) < 0 ? -1 : audio_stream(f);
  if (stream < 0) {
    avformat_close_input(&f);
    return QT_ERR_INVALID_MOVIE;
  }
  auto *m = new (std::nothrow) qt_movie;
  if (!m) {
    avformat_close_input(&f);
    return QT_ERR_MEMORY;
  }
  // Only the audio is read: a cover picture's stream would otherwise be
  // queued again by every seek.
  for (unsigned i = 0; i < f->nb_streams; i++)
    if (int(i) != stream) f->streams[i]->discard = AVDISCARD_ALL;
  m->format = f;
  m->stream = stream;
  *movie = m;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) qt_err qt_close_movie_file(qt_movie_file *file)
{
  delete file;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) void qt_dispose_movie(qt_movie *movie)
{
  if (!movie) return;
  avformat_close_input(&movie->format);
  delete movie;
}

__attribute__((visibility("default"))) int32_t qt_get_movie_time_scale(qt_movie *movie)
{
  if (!movie) return 0;
  return movie->format->streams[movie->stream]->time_base.den;
}

}  // extern "C"
