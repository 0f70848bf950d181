// MIME types: from file names (a fixed table and the file-type folder) and
// comparisons of major and sub types.
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/util_limits.h>

#include "text_build.h"

#include <string_view>

using sv = std::string_view;
using tarvo::text_build;

namespace {

struct ext_type {
  const char *ext;
  const char *type;
};

// First match wins.
const ext_type kTypes[] = {
    {"3gp", "video/3gpp"},
    {"asf", "video/x-ms-asf"},
    {"avi", "video/avi"},
    {"divx", "video/avi"},
    {"bmp", "image/bmp"},
    {"dvr-ms", "video/x-ms-dvr"},
    {"gif", "image/gif"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"jpeg", "image/jpeg"},
    {"jpg", "image/jpeg"},
    {"lpcm", "audio/L16;rate=44100;channels=2"},
    {"m2p", "video/mpeg"},
    {"mpe", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"},
    {"m4a", "audio/mp4"},
    {"m3u", "audio/x-mpegurl"},
    {"mp3", "audio/mpeg"},
    {"mp4", "video/mp4"},
    {"m4v", "video/mp4"},
    {"ogg", "application/ogg"},
    {"png", "image/png"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"txt", "text/plain"},
    {"wav", "audio/wav"},
    {"wma", "audio/x-ms-wma"},
    {"wmv", "video/x-ms-wmv"},
    {"xml", "text/xml;charset=\"utf-8\""},
    {"css", "text/css"},
};

// The text after the dot of the path's suffix; false without one.
bool extension(sv path, sv *ext)
{
  uint32_t dot = utf8file_dot_suffix_at(path.data(), uint32_t(path.size()));
  if (dot == path.size()) return false;
  *ext = path.substr(dot + 1);
  return true;
}

// The first line of the type file, up to a LF; a longer line than
// MIMETYPE_LINE_MAX is refused rather than read without end, and a read
// error is not taken for the end of the file.
bool first_line(sys_filebuffer_rec *fb, text_build &line)
{
  for (;;) {
    uint32_t avail = 0;
    if (!sys_filebuffer_feed(fb, &avail)) return false;
    if (!avail) return true;
    sv chunk(sys_filebuffer_peek(fb), avail);
    size_t lf = chunk.find('\n');
    sv piece = chunk.substr(0, lf);
    if (line.s.len + piece.size() > MIMETYPE_LINE_MAX || !line.add(piece)) return false;
    if (lf != sv::npos) return true;
    sys_filebuffer_seek(fb, avail);
  }
}

// A parameter that must be a decimal number above 0 that fits 32 bits.
bool positive_param(const char *mime, const char *name, uint32_t *n)
{
  const char *v = mime_param_find(mime, name);
  if (!v || v[0] < '0' || v[0] > '9') return false;
  uint64_t x = 0;
  for (; *v >= '0' && *v <= '9'; v++) {
    x = x * 10 + uint64_t(*v - '0');
    if (x > UINT32_MAX) return false;
  }
  *n = uint32_t(x);
  return x > 0;
}

}  // namespace

extern "C" {

const char *mime_param_find(const char *mime, const char *name)
{
  if (!mime || !name || !*name) return nullptr;
  uint32_t n = sys_str_len(name);
  for (const char *p = mime; *p; p++)
    if (sys_str_case_startn(p, n, name) && p[n] == '=') return p + n + 1;
  return nullptr;
}

int mime_l16_params(const char *mime, uint32_t *rate, uint32_t *channels)
{
  return positive_param(mime, "rate", rate) && positive_param(mime, "channels", channels);
}

const char *mimetype_from_path_static(const char *path)
{
  sv ext;
  if (extension(path, &ext))
    for (const auto &t : kTypes)
      if (ext.size() == sys_str_len(t.ext) && tarvo::case_starts(ext, t.ext)) return t.type;
  return "application/octet-stream";
}

int mimetype_from_path(const char *folder, const char *path, char **type)
{
  sv ext;
  if (!extension(path, &ext)) return 0;
  text_build file;
  if (!file.add(folder) || !file.add(utf8file_separator())) return 0;
  uint32_t at = file.s.len;
  if (!file.add(ext) || !file.add('\0')) return 0;
  sys_str_case_lower(file.s.buf + at);

  sys_file_stat_rec st;
  int fd;
  if (!utf8file_stat(file.s.buf, &st) || st.is_dir || !utf8file_open_read(&fd, file.s.buf)) return 0;
  char buf[MIMETYPE_FILE_BUFFER_SIZE];
  sys_filebuffer_rec fb;
  sys_filebuffer_init(&fb, fd, buf, sizeof buf);
  text_build line;
  bool ok = first_line(&fb, line);
  sys_file_close(fd);
  if (!ok) return 0;
  if (line.s.len && line.s.buf[line.s.len - 1] == '\r') line.s.len--;
  return line.s.len && line.release(type);
}

int mimetype_major_equal(const char *type, const char *major)
{
  uint32_t n = sys_str_len(major);
  return sys_str_case_start(type, major) && (type[n] == '\0' || type[n] == '/');
}

int mimetype_sub_equal(const char *type, const char *sub)
{
  uint32_t slash = sys_str_chr(type, '/');
  if (!type[slash]) return 0;
  const char *s = type + slash + 1;
  uint32_t n = sys_str_len(sub);
  if (!sys_str_case_start(s, sub)) return 0;
  char c = s[n];
  return c == '\0' || c == '\t' || c == ' ' || c == ':' || c == ';';
}

}  // extern "C"
