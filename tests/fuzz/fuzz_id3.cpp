// links: tarvo_tag tarvo_avcp tarvo_util
// ID3 tags of arbitrary file bytes, read through the file API from a
// memory file, and genre references of arbitrary text: the file position
// is kept, every field found is a string, and a resolved genre stays
// within its text and the growth allowed.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool ok)
{
  if (!ok) std::abort();
}

void tags_check(int fd)
{
  sys_file_stat_rec st;
  int64_t at, now;
  if (!sys_file_fstat(fd, &st) || !sys_file_seek_set(fd, 7, &at)) return;
  id3_tags *t = id3_tags_read(fd, &st);
  check(sys_file_seek_pos(fd, &now) && now == 7);
  if (!t) return;
  for (const char *s : {t->title, t->artist, t->genre, t->album, t->comment}) check(!s || std::strlen(s) < (1u << 22));
  id3_tags_free(t);
}

void genre_check(const uint8_t *data, size_t size)
{
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.c_str();
  char *out = nullptr;
  if (!id3_genre_resolve(text.c_str(), &out)) return;
  check(std::strlen(out) <= text.size() + TAG_ID3_GENRE_GROWTH);
  sys_alloc_free(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static const int fd = memfd_create("id3", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) return 0;
  tags_check(fd);
  genre_check(data, size < 4096 ? size : 4096);
  return 0;
}
