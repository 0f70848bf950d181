// Bounded reading of RIFF files: the position checked against the file
// size, every read counted against the reader's budget.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>

#include "tag_riff_impl.h"

namespace riff {

bool cursor::start(int f, uint32_t read_max)
{
  sys_file_stat_rec st;
  int64_t at;
  if (!sys_file_fstat(f, &st) || !sys_file_seek_set(f, 0, &at)) return false;
  file = f;
  size = st.size;
  pos = 0;
  budget = read_max;
  return true;
}

bool cursor::read(void *buf, uint32_t n)
{
  if (n > budget || n > left()) return false;
  budget -= n;
  // A one-byte buffer makes every read go straight to the file: nothing is
  // read ahead of what the caller asked for.
  char unused;
  sys_filebuffer_rec fb;
  sys_filebuffer_init(&fb, file, &unused, 1);
  if (!sys_filebuffer_fill(&fb, buf, n)) return false;
  pos += n;
  return true;
}

bool cursor::skip(uint64_t n)
{
  if (n > left()) return false;
  int64_t now;
  if (n && !(sys_file_seek_set(file, int64_t(pos + n), &now) && uint64_t(now) == pos + n)) return false;
  pos += n;
  return true;
}

bool chunk_read(cursor &c, chunk *ch)
{
  unsigned char h[8];
  if (!c.read(h, sizeof h)) return false;
  std::memcpy(ch->id, h, 4);
  ch->size = le32(h + 4);
  return true;
}

bool id_read(cursor &c, const char *four)
{
  char id[4];
  return c.read(id, sizeof id) && std::memcmp(id, four, 4) == 0;
}

int duration_add(uint64_t ms, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  return ms > UINT32_MAX || tag_duration_format(uint32_t(ms), names, values);
}

}  // namespace riff
