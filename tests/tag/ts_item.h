// Reading a transport-stream file through the reader and the library's
// defaults into its item text, as the MPEG reader hands transport streams on.
#pragma once

#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/utf8file.h>

#include <string>

#include "mpegts_impl.h"
#include "tarvo_test.h"

namespace ts_test {

inline int read188(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *n, sys_ptralloc_rec *v)
{
  return mpegts_tag_read(MPEGTS_KIND_188, file, st, 0, mime, n, v);
}

inline int read192(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *n, sys_ptralloc_rec *v)
{
  return mpegts_tag_read(MPEGTS_KIND_192, file, st, 0, mime, n, v);
}

// The same with the quick flag.
inline int read188_quick(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *n,
                         sys_ptralloc_rec *v)
{
  return mpegts_tag_read(MPEGTS_KIND_188, file, st, 1, mime, n, v);
}

inline int read192_quick(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *n,
                         sys_ptralloc_rec *v)
{
  return mpegts_tag_read(MPEGTS_KIND_192, file, st, 1, mime, n, v);
}

// The item text of the file read as 188- or 192-byte packets; "<failed>"
// when the item could not be made.
inline std::string ts_item(const std::string &path, bool packets192, bool quick = false)
{
  int file;
  if (!utf8file_open_read(&file, path.c_str())) return "<failed>";
  sys_file_stat_rec st;
  sys_ptralloc_rec names{}, values{};
  std::string r = "<failed>";
  char *text = nullptr;
  if (sys_file_fstat(file, &st) &&
      tag_properties_from_reader(packets192 ? (quick ? read192_quick : read192) : (quick ? read188_quick : read188), path.c_str(), file, &st, "video/mpeg", &names, &values) &&
      tag_item_xml(&names, &values, &text))
    r = text;
  sys_alloc_free(text);
  sys_file_close(file);
  tag_property_list_clear(&names, &values);
  sys_ptralloc_free(&names);
  sys_ptralloc_free(&values);
  return r;
}

}  // namespace ts_test
