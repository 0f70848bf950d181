// Internal to the Ogg reader: the page walks that stand beside vorbisfile,
// over the MPEG audio reader's buffered window.
#pragma once

#include <cstdint>

#include "../mp3/mp3_impl.h"

namespace ogg {

// The serial number of the last page in the file's last 64 KiB, found as
// vorbisfile finds it (libogg's page search from the same offset), so that
// both agree on whether the file ends in its first link.  False when that
// stretch holds no page.
bool last_serial(mp3::file_window &w, uint64_t size, uint32_t *serial);

// The play time of every link of a chained file, in seconds: each link's
// first Vorbis stream, timed by the last granule position on its pages at
// the rate of its identification header.  Pages are passed by their sizes
// unread; junk between them is searched through.
double chain_seconds(mp3::file_window &w, uint64_t size);

}  // namespace ogg
