// links: tarvo_tag tarvo_avcp tarvo_util
// Item text of arbitrary file bytes under each MIME type the metadata core
// knows, with an arbitrary file name.  Whatever the bytes, the lists stay
// parallel and the text either fails for want of a title or parses as one
// item.
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_tag/tarvo_tag.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const char *const kMimes[] = {
    "audio/mpeg",     "audio/mp1",      "audio/mp2",       "audio/wav",       "audio/x-ms-wma",
    "audio/L16",      "video/mpeg",     "video/x-ms-wmv",  "video/x-ms-asf",  "video/avi",
    "image/jpeg",     "image/bmp",      "image/png",       "application/ogg", "audio/mp4",
    "video/3gpp",     "video/x-ms-dvr", "image/tiff",      "image/gif",       "audio/x-mpegurl",
    "text/plain",     "application/x-dtcp1", "application/octet-stream"};

void check(bool ok)
{
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static const int fd = memfd_create("tag-item", MFD_CLOEXEC);
  if (fd < 0 || size < 2) return 0;
  const char *mime = kMimes[data[0] % (sizeof kMimes / sizeof *kMimes)];
  size_t name_len = data[1] % 48;
  if (2 + name_len > size) return 0;
  std::string path = "/fuzz/";
  for (size_t i = 0; i < name_len; i++) path += data[2 + i] ? char(data[2 + i]) : '_';
  const uint8_t *body = data + 2 + name_len;
  size_t body_len = size - 2 - name_len;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, body, body_len, 0) != ssize_t(body_len)) return 0;
  sys_file_stat_rec st;
  if (!sys_file_fstat(fd, &st)) return 0;

  tag_property_list l{};
  if (tag_properties_from_file(path.c_str(), fd, &st, mime, &l.names, &l.values)) {
    check(l.names.len == l.values.len);
    char *text = nullptr;
    if (tag_item_xml(&l.names, &l.values, &text)) {
      avcp_didl_object_list list = nullptr;
      check(avcp_didl_parse(text, &list) == 1 && list[0] && !list[1]);
      check(avcp_didl_property_find(list[0], "dc:title") != nullptr);
      avcp_didl_object_list_free(list);
      sys_alloc_free(text);
    } else {
      check(!tag_property_exists(&l.names, "dc:title"));
    }
  }
  tag_property_list_clear(&l.names, &l.values);
  sys_ptralloc_free(&l.names);
  sys_ptralloc_free(&l.values);
  return 0;
}
