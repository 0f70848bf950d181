// A test-only program that prints what the metadata library makes of one
// file, so that tests can hold it against independent tools.
//   tag_item_dump PATH MIME      the item text; exit 1 and no output on failure
//   tag_item_dump --OPTION PATH  one of the readers' exported records
#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/sys_alloc.h>

#include <cstdio>
#include <cstring>

namespace {

int dump_item(const char *path, const char *mime)
{
  char *text = nullptr;
  if (!tarvo_tag_item(path, mime, &text)) return 1;
  std::fputs(text, stdout);
  sys_alloc_free(text);
  return 0;
}

struct record_dump {
  const char *option;
  int (*dump)(const char *path);
};

// One entry per exported record; each prints its fields and returns the exit
// status.
const record_dump kDumps[] = {
    {nullptr, nullptr},
};

int usage()
{
  std::fputs("usage: tag_item_dump PATH MIME | tag_item_dump --OPTION PATH\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc != 3) return usage();
  if (std::strncmp(argv[1], "--", 2) != 0) return dump_item(argv[1], argv[2]);
  for (const record_dump &d : kDumps)
    if (d.option && std::strcmp(argv[1] + 2, d.option) == 0) return d.dump(argv[2]);
  return usage();
}
