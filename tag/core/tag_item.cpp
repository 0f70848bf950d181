// From a media file to the text of one DIDL-Lite item: opening, choosing
// the reader, cleaning its properties, the defaults and the item text.
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "tag_impl.h"

namespace {

using sv = std::string_view;
using tag::copy_of;

struct reader_entry {
  int (*match)(const char *mime);
  tag_reader read;
};

int mp3_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
             sys_ptralloc_rec *values)
{
  return tag_mp3_read(file, st, 0, mime, names, values);
}

int mpeg_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
              sys_ptralloc_rec *values)
{
  return mpegps_tag_read(file, st, 0, mime, names, values);
}

// Tried in this order; the first match decides.  A format whose reader is
// not part of the library gets the defaults under its own MIME type.
const reader_entry kReaders[] = {
    {tag_mp3_match, mp3_read},       {tag_wav_match, tag_wav_read},   {tag_wma_match, tag_asf_read},
    {tag_lpcm_match, tag_lpcm_read}, {tag_mpeg_match, mpeg_read},     {tag_wmv_match, tag_asf_read},
    {tag_avi_match, tag_avi_read},   {tag_jpeg_match, tag_jpeg_read}, {tag_bmp_match, tag_bmp_read},
    {tag_png_match, tag_png_read},   {tag_ogg_match, tag_ogg_read},   {tag_mp4_match, mp4_read},
    {tag_dvr_match, tag_asf_read},   {tag_tiff_match, tag_tiff_read}, {tag_gif_match, tag_gif_read},
};

const char *at(const sys_ptralloc_rec *a, uint32_t i) { return static_cast<const char *>(a->buf[i]); }

// A name from the path as the item text can carry it: each byte that is
// not UTF-8 of an XML character (an old disk's Latin-1 name) shows as
// U+FFFD.
char *shown_copy(sv s)
{
  char *c = copy_of(s), *shown = nullptr;
  if (c && !xml_gen_legal_copy(c, &shown)) shown = nullptr;
  sys_alloc_free(c);
  return shown;
}

void drop_illegal(sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  for (uint32_t i = names->len; i-- > 0;) {
    if (values->buf[i] && xml_gen_is_legal_value(at(values, i))) continue;
    sys_alloc_free(names->buf[i]);
    sys_alloc_free(values->buf[i]);
    sys_ptralloc_remove(names, i);
    sys_ptralloc_remove(values, i);
  }
}

int unknown_add(const char *name, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  return tag_property_exists(names, name) ||
         tag_property_add(name, tarvo_tag_normalize_property(name, nullptr), names, values);
}

int defaults_add(const char *path, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values)
{
  auto missing = [&](const char *name) { return !tag_property_exists(names, name); };
  if (missing(TAG_NAME(UPNP_CLASS)) && !tag_property_add(TAG_NAME(UPNP_CLASS), tag_class_from_mime(mime), names, values))
    return 0;
  if (missing(TAG_NAME(RES_SIZE)) && !tag_size_property_add(st->size, names, values)) return 0;
  if (missing(TAG_NAME(DC_TITLE)) && !tag_title_from_path(path, 0, names, values)) return 0;
  if (missing(TAG_NAME(DC_DATE)) && !tag_date_property_add(st->mtime, names, values)) return 0;
  const char *cls = tag_property_value(names, values, TAG_NAME(UPNP_CLASS));
  if (missing(TAG_NAME(RES_PROTOCOL_INFO)) && !tag_protocol_info_no_profile(mime, names, values)) return 0;
  bool audio = avcp_didl_derived_from(cls, "object.item.audioItem");
  bool video = avcp_didl_derived_from(cls, "object.item.videoItem");
  bool image = avcp_didl_derived_from(cls, "object.item.imageItem");
  if ((audio || video || image) && missing(TAG_NAME(UPNP_ALBUM)) && !tag_album_from_path(path, names, values))
    return 0;
  if ((audio || video) && !unknown_add(TAG_NAME(UPNP_GENRE), names, values)) return 0;
  if (audio && !(unknown_add(TAG_NAME(DC_CREATOR), names, values) && unknown_add(TAG_NAME(UPNP_ARTIST), names, values)))
    return 0;
  return !video || unknown_add(TAG_NAME(UPNP_ACTOR), names, values);
}

// Opens a regular file for reading.  An open that fails for want of a
// resource (descriptors, memory, a busy file) is tried again a second later;
// a file that is missing or refused fails at once, so a file removed during a
// scan costs nothing.  Anything but a regular file is refused (a FIFO would
// block the reader).
bool open_may_succeed_later(int err)
{
  return err == EAGAIN || err == EBUSY || err == ETXTBSY || err == EMFILE || err == ENFILE || err == ENOMEM;
}

int open_regular(const char *path, int *file)
{
  int fd = -1;
  for (int i = 0; i < TAG_PROPERTY_RETRY_COUNT; i++) {
    do fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0 || !open_may_succeed_later(errno) || i + 1 == TAG_PROPERTY_RETRY_COUNT) break;
    sys_thread_sleep(TAG_OPEN_RETRY_PAUSE_MS);
  }
  if (fd < 0) return 0;
  struct stat st;
  int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return 0;
  }
  *file = fd;
  return 1;
}

}  // namespace

extern "C" {

int tag_title_from_path(const char *path, int is_folder, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  sv p(path);
  size_t sep = p.rfind(utf8file_separator()[0]);
  sv name = sep == sv::npos ? p : p.substr(sep + 1);
  if (!is_folder) name = name.substr(0, std::min(name.rfind('.'), name.size()));
  // An empty title is still a title.
  return tag::add_owned(copy_of(TAG_NAME(DC_TITLE)), shown_copy(name), names, values);
}

int tag_album_from_path(const char *path, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  sv p(path);
  char sep = utf8file_separator()[0];
  size_t last = p.rfind(sep);
  if (last == sv::npos || last == 0) return 1;
  size_t before = p.rfind(sep, last - 1);
  if (before == sv::npos) return 1;
  sv album = p.substr(before + 1, last - before - 1);
  if (album.empty()) return 1;
  char *value = shown_copy(album);
  int ok = value && tag_property_add(TAG_NAME(UPNP_ALBUM), value, names, values);
  sys_alloc_free(value);
  return ok;
}

// A time the calendar cannot show gives no date rather than no item.
int tag_date_property_add(int64_t mtime, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  sys_caltime_rec c;
  if (!sys_caltime_local_from(&c, &mtime)) return 1;
  char buf[40], *p = buf;
  p += sys_str_fmt_0uint32(p, uint32_t(c.year), 4);
  const std::pair<char, int32_t> fields[] = {{'-', c.month}, {'-', c.day}, {'T', c.hour}, {':', c.minute}, {':', c.second}};
  for (auto [sepc, v] : fields) {
    *p++ = sepc;
    p += sys_str_fmt_0uint32(p, uint32_t(v), 2);
  }
  *p = '\0';
  return tag_property_add(TAG_NAME(DC_DATE), buf, names, values);
}

int tag_size_property_add(uint64_t size, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  char buf[24];
  buf[sys_str_fmt_uint64(buf, size)] = '\0';
  return tag_property_add(TAG_NAME(RES_SIZE), buf, names, values);
}

int tag_properties_from_reader(tag_reader reader, const char *path, int file, const sys_file_stat_rec *st,
                               const char *mime, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  int64_t start;
  if (reader && !(sys_file_seek_set(file, 0, &start) && reader(file, st, mime, names, values))) {
    tag_property_list_clear(names, values);
    mime = "application/octet-stream";
  }
  drop_illegal(names, values);
  return defaults_add(path, st, mime, names, values);
}

int tag_properties_from_file(const char *path, int file, const sys_file_stat_rec *st, const char *mime,
                             sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  tag_reader reader = nullptr;
  for (const reader_entry &e : kReaders) {
    if (e.match(mime)) {
      reader = e.read;
      break;
    }
  }
  return tag_properties_from_reader(reader, path, file, st, mime, names, values);
}

int tag_item_xml(const sys_ptralloc_rec *names, const sys_ptralloc_rec *values, char **text)
{
  const char *title = tag_property_value(names, values, TAG_NAME(DC_TITLE));
  if (!title) return 0;
  tag::text t;
  bool ok = avcp_didl_xml_begin(&t.s) && t.add("<item>\r\n") && t.element(TAG_NAME(DC_TITLE), title) && t.add("<res");
  for (uint32_t i = 0; ok && i < names->len; i++)
    if (sys_str_start(at(names, i), "res@")) ok = t.attribute(at(names, i) + 4, at(values, i));
  ok = ok && t.add("/>\r\n");
  for (uint32_t i = 0; ok && i < names->len; i++) {
    sv name = at(names, i);
    if (name != TAG_NAME(DC_TITLE) && name.find('@') == sv::npos) ok = t.element(at(names, i), at(values, i));
  }
  return ok && t.add("</item>\r\n") && avcp_didl_xml_end(&t.s) && t.give(text);
}

int tarvo_tag_get_properties(const char *path, const char *mime, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (!path || !mime) return 0;
  int file;
  if (!open_regular(path, &file)) return 0;
  sys_file_stat_rec st;
  int ok = sys_file_fstat(file, &st) && !st.is_dir && tag_properties_from_file(path, file, &st, mime, names, values);
  sys_file_close(file);
  return ok;
}

int tarvo_tag_item(const char *path, const char *mime, char **text)
{
  tag_property_list list{};
  int ok = tarvo_tag_get_properties(path, mime, &list.names, &list.values) &&
           tag_item_xml(&list.names, &list.values, text);
  tag::list_free(list);
  return ok;
}

const char *tarvo_tag_normalize_property(const char *name, const char *value)
{
  for (const char *n : {TAG_NAME(UPNP_GENRE), TAG_NAME(DC_CREATOR), TAG_NAME(UPNP_ARTIST), TAG_NAME(UPNP_ACTOR)})
    if (name && std::strcmp(name, n) == 0) return value && *value ? value : "Unknown";
  return value;
}

}  // extern "C"
