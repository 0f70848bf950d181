// The records behind the stand-in's handles, shared by its two halves.
#ifndef TARVO_QT_QT_IMPL_H
#define TARVO_QT_QT_IMPL_H

#include <tarvo_qt/tarvo_qt.h>

#include <string>

struct AVFormatContext;

struct qt_movie_file {
  std::string path;
};

struct qt_movie {
  AVFormatContext *format = nullptr;
  int stream = -1;  // the first audio stream a decoder takes
};

// 1 between qt_enter_movies and qt_exit_movies (after qt_initialize).
bool qt_started();

#endif
