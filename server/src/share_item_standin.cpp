// Stand-in for the share scanner's item making until the scanner and the
// metadata library land: an item that names the file, of the class its
// MIME type suggests, rewritten by the plug-ins.  The scanner's own source
// replaces this file.
#include <vennard/plugin.h>
#include <vennard/server.h>
#include <vennard/share_scanner.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

extern "C" int share_item_make(server_rec *s, const char *path, const char *mime, didl_object **item)
{
  *item = nullptr;
  int fd = -1;
  sys_file_stat_rec st;
  if (!utf8file_open_read(&fd, path)) return 0;
  int ok = sys_file_fstat(fd, &st);
  sys_file_close(fd);
  if (!ok || st.is_dir) return 0;
  const char *cls = sys_str_start(mime, "audio/")   ? "object.item.audioItem"
                    : sys_str_start(mime, "video/") ? "object.item.videoItem"
                    : sys_str_start(mime, "image/") ? "object.item.imageItem"
                                                    : "object.item";
  didl_object *o = static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object)));
  if (!o) return 0;
  o->element = DIDL_NAME(EL_ITEM);
  const char *name = path + sys_str_rchr(path, '/');
  if (*name) name++;
  char size[24], stamp[24];
  size[sys_str_fmt_uint64(size, st.size)] = 0;
  stamp[sys_str_fmt_int64(stamp, st.mtime > st.ctime ? st.mtime : st.ctime)] = 0;
  sys_stralloc_rec pi{};
  didl_property *res = nullptr;
  ok = didl_attribute_add(&o->attributes, DIDL_NAME(AT_ID), "") &&
       didl_attribute_add(&o->attributes, DIDL_NAME(AT_PARENT_ID), "") &&
       didl_attribute_add(&o->attributes, DIDL_NAME(AT_RESTRICTED), "0") &&
       didl_property_add(o, DIDL_NAME(EL_DC_TITLE), name, nullptr) &&
       didl_property_add(o, DIDL_NAME(EL_UPNP_CLASS), cls, nullptr) && didl_property_add(o, DIDL_NAME(EL_RES), "", &res) &&
       sys_stralloc_copys(&pi, "http-get:*:") && sys_stralloc_cats(&pi, mime) && sys_stralloc_cats(&pi, ":*") &&
       sys_stralloc_append(&pi, "") && didl_attribute_add(&res->attributes, DIDL_NAME(AT_PROTOCOL_INFO), pi.buf) &&
       didl_attribute_add(&res->attributes, DIDL_NAME(AT_SIZE), size) &&
       didl_attribute_add(&res->attributes, DIDL_NAME(AT_TARVO_FILENAME), path) &&
       didl_attribute_add(&res->attributes, DIDL_NAME(AT_TARVO_TIMESTAMP), stamp) &&
       plugins_rewrite(&s->content.plugins, path, mime, &o);
  sys_stralloc_free(&pi);
  if (!ok) {
    didl_object_free(o);
    return 0;
  }
  *item = o;
  return 1;
}
