// A test-only program that prints what the metadata library makes of one
// file, so that tests can hold it against independent tools.
//   tag_item_dump PATH MIME      the item text; exit 1 and no output on failure
//   tag_item_dump --OPTION PATH  one of the readers' exported records:
//     --wav-info                 the WAV format record
//     --jpeg-info                width height depth orientation, then the
//                                date, comment and copyright a line each
//     --wm-collection-id         the Windows Media collection id; exit 1
//                                when the file has none
#include <tarvo_tag/tag_asf.h>
#include <tarvo_tag/tag_image.h>
#include <tarvo_tag/tag_riff.h>
#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/utf8file.h>

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

// The six fields of the WAV format record, one name=value a line.
int dump_wav_info(const char *path)
{
  int file;
  if (!utf8file_open_read(&file, path)) return 1;
  wav_info w;
  int ok = wav_info_parse(&w, file);
  sys_file_close(file);
  if (!ok) return 1;
  std::printf("format_tag=%u\nchannels=%u\nbits_per_sample=%u\nsample_rate=%u\nbytes_per_second=%u\ndata_size=%u\n",
              unsigned(w.format_tag), unsigned(w.channels), unsigned(w.bits_per_sample), unsigned(w.sample_rate),
              unsigned(w.bytes_per_second), unsigned(w.data_size));
  return 0;
}

int dump_jpeg_info(const char *path)
{
  int file;
  if (!utf8file_open_read(&file, path)) return 1;
  jpeg_info j;
  int ok = jpeg_info_parse(&j, file);
  sys_file_close(file);
  if (!ok) return 1;
  std::printf("%u %u %u %u\n%s\n%s\n%s\n", unsigned(j.width), unsigned(j.height), unsigned(j.depth),
              unsigned(j.orientation), j.date ? j.date : "", j.comment ? j.comment : "", j.copyright ? j.copyright : "");
  jpeg_info_free(&j);
  return 0;
}

int dump_wm_collection_id(const char *path)
{
  int file;
  if (!utf8file_open_read(&file, path)) return 1;
  WMTag *tag = WMTag_New(file);
  sys_file_close(file);
  const char *id = WMTag_GetWMCollectionID(tag);
  if (id) std::printf("%s\n", id);
  WMTag_Delete(tag);
  return id ? 0 : 1;
}

struct record_dump {
  const char *option;
  int (*dump)(const char *path);
};

// One entry per exported record; each prints its fields and returns the exit
// status.
const record_dump kDumps[] = {
    {"wav-info", dump_wav_info},
    {"jpeg-info", dump_jpeg_info},
    {"wm-collection-id", dump_wm_collection_id},
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
    if (std::strcmp(argv[1] + 2, d.option) == 0) return d.dump(argv[2]);
  return usage();
}
