// links: tarvo_tag tarvo_avcp tarvo_util
// The AAC AudioSpecificConfig over arbitrary bytes: never a read past them,
// and a channel count a program config can give.
#include <tarvo_tag/tag_mp4.h>

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  // A copy of exactly the input's size, so that any read past it is seen.
  std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  mp4_audio_config c;
  if (mp4_audio_specific_config(copy.get(), uint32_t(size), &c) && c.channels > 15 * 3 * 2 + 3) std::abort();
  return 0;
}
