// The album-art plug-in: the picture beside a media file (Folder.jpg, or
// the album's pictures named by a WMA file's collection id) written into
// the object as two upnp:albumArtURI elements.
#include <corda_common/msf_common.h>

#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_tag/tag_asf.h>
#include <tarvo_tag/tag_image.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <cstring>
#include <string>

namespace {

constexpr uint32_t kThumbnailMax = 160;  // pixels each way of a JPEG_TN picture

struct picture {
  std::string path;
  sys_file_stat_rec st{};
  bool exists = false;
};

// name in folder: as written, else the same name in any case (the
// smallest such name, so that the choice does not depend on the listing's
// order).
bool find_in_folder(const std::string &folder, const char *name, picture *p)
{
  p->path = folder + name;
  if (msf_regular_file(p->path.c_str(), &p->st)) return p->exists = true;
  sys_dir_rec dir;
  if (!utf8dir_open(&dir, folder.c_str())) return false;
  std::string best;
  for (char *entry = nullptr; utf8dir_read(&dir, &entry); entry = nullptr) {
    sys_file_stat_rec st;
    if (!sys_str_case_diff(entry, name) && (best.empty() || best > entry) && msf_regular_file((folder + entry).c_str(), &st))
      best = entry;
    sys_alloc_free(entry);
  }
  sys_dir_close(&dir);
  if (best.empty()) return false;
  p->path = folder + best;
  return p->exists = msf_regular_file(p->path.c_str(), &p->st);
}

// The collection id of a WMA file in upper case; "" when it has none.
std::string collection_id(const char *path)
{
  int fd;
  if (!utf8file_open_read(&fd, path)) return {};
  std::string id;
  if (WMTag *tag = WMTag_New(fd)) {
    if (const char *s = WMTag_GetWMCollectionID(tag)) id = s;
    WMTag_Delete(tag);
  }
  sys_file_close(fd);
  for (char &c : id)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return id;
}

picture find_picture(const char *path, const char *mime)
{
  picture p;
  sys_file_stat_rec st;
  std::string folder;
  if (utf8file_stat(path, &st) && st.is_dir) {
    folder = path;
    if (folder.empty() || folder.back() != '/') folder += '/';
  } else {
    const char *slash = std::strrchr(path, '/');
    folder = slash ? std::string(path, size_t(slash - path) + 1) : "/";
    std::string id = mime && mimetype_sub_equal(mime, "x-ms-wma") ? collection_id(path) : "";
    if (!id.empty() && (find_in_folder(folder, ("AlbumArt_{" + id + "}_Large.jpg").c_str(), &p) ||
                        find_in_folder(folder, ("AlbumArt_{" + id + "}_Small.jpg").c_str(), &p)))
      return p;
  }
  find_in_folder(folder, "Folder.jpg", &p);
  return p;
}

// --- whether to rewrite ---

const char *attribute(const didl_property *p, const char *name)
{
  for (uint32_t i = 0; i < p->attributes.names.len; i++)
    if (!std::strcmp(static_cast<const char *>(p->attributes.names.buf[i]), name))
      return static_cast<const char *>(p->attributes.values.buf[i]);
  return nullptr;
}

struct art_notes {
  bool has_art = false, wanted = true;
  const char *file = nullptr;
  uint64_t stamp = 0;
  bool stamp_read = false;
};

art_notes notes_of(const didl_object *o)
{
  art_notes n;
  for (uint32_t i = 0; i < o->properties.len; i++) {
    auto *p = static_cast<const didl_property *>(o->properties.buf[i]);
    if (!std::strcmp(p->element, "upnp:class")) {
      if (!avcp_didl_derived_from(p->text, "object.container") && !avcp_didl_derived_from(p->text, "object.item.audioItem"))
        n.wanted = false;
    } else if (!std::strcmp(p->element, "upnp:albumArtURI")) {
      n.has_art = true;
      if (!n.file) n.file = attribute(p, "tarvo:filename");
      const char *stamp = attribute(p, "tarvo:timestamp");
      if (stamp && !n.stamp_read) n.stamp_read = sys_str_scan_uint64(stamp, &n.stamp) > 0;
    }
  }
  return n;
}

// --- rewrite ---

struct art {
  std::string file, stamp;
  bool thumbnail_size;
};

art *art_of(msf_rewrite_rec *f) { return static_cast<art *>(f->user); }

int on_start(msf_rewrite_rec *, const char *name, const char *const *, const char *const *)
{
  return std::strcmp(name, "upnp:albumArtURI") ? MSF_TAG_COPY : MSF_TAG_DROP;
}

bool element_append(sys_stralloc_rec *out, const art &a, bool profile, bool thumbnail)
{
  return sys_stralloc_cats(out, "<upnp:albumArtURI") &&
         (!profile || xml_gen_attribute_append(out, "dlna:profileID", "JPEG_TN")) &&
         xml_gen_attribute_append(out, "tarvo:filename", a.file.c_str()) &&
         xml_gen_attribute_append(out, "tarvo:timestamp", a.stamp.c_str()) &&
         (!thumbnail || xml_gen_attribute_append(out, "tarvo:filter", "corda_jpeg")) &&
         sys_stralloc_cats(out, "></upnp:albumArtURI>\r\n");
}

int before_end(msf_rewrite_rec *f, const char *name)
{
  if (f->depth != 2 || (std::strcmp(name, "item") && std::strcmp(name, "container"))) return 1;
  const art &a = *art_of(f);
  return element_append(&f->out, a, a.thumbnail_size, false) && element_append(&f->out, a, true, true);
}

const msf_rewrite_hooks kArt = {on_start, nullptr, before_end, nullptr};

bool picture_size(const std::string &path, uint32_t *width, uint32_t *height)
{
  int fd;
  if (!utf8file_open_read(&fd, path.c_str())) return false;
  jpeg_info info;
  bool ok = jpeg_info_parse(&info, fd);
  sys_file_close(fd);
  if (!ok) return false;
  *width = info.width;
  *height = info.height;
  jpeg_info_free(&info);
  return true;
}

}  // namespace

extern "C" {

int tarvo_msf_init(void) { return 1; }

void tarvo_msf_free(void) {}

int tarvo_msf_as_is_updated(const char *path, const char *mime, const uint64_t *, const didl_object *object)
{
  if (!object || !path) return 0;
  art_notes n = notes_of(object);
  if (!n.wanted) return 0;
  picture p = find_picture(path, mime);
  if (!p.exists) return n.has_art;
  if (!n.has_art) return 1;
  bool same = n.stamp && p.st.mtime >= 0 && n.stamp == uint64_t(p.st.mtime) && n.file && p.path == n.file;
  return !same;
}

int tarvo_msf_as_rewrite(const char *path, const char *mime, const char *text, char *buffer, uint32_t capacity)
{
  if (!path) return 0;
  picture p = find_picture(path, mime);
  uint32_t width = 0, height = 0;
  if (!p.exists || !picture_size(p.path, &width, &height)) return 0;
  char stamp[24];
  art a{p.path, std::string(stamp, sys_str_fmt_int64(stamp, p.st.mtime)),
        width <= kThumbnailMax && height <= kThumbnailMax};
  return msf_rewrite_run(&kArt, &a, text, buffer, capacity);
}

}  // extern "C"
