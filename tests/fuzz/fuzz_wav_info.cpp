// links: tarvo_tag tarvo_avcp tarvo_util
// The WAV format record from arbitrary file bytes: the data size never
// exceeds the file, and the position stays where the walk could go.
#include <tarvo_tag/tag_riff.h>
#include <tarvo_util/sys_file.h>

#include <cstdlib>

#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  if (fd < 0) return 0;
  wav_info w;
  if (wav_info_parse(&w, fd) && w.data_size > size) std::abort();
  return 0;
}
