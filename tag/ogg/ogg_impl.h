// Internal to the Ogg reader: the page walks that stand beside vorbisfile,
// over the MPEG audio reader's buffered window.
#pragma once

#include <cstdint>

#include "../mp3/mp3_impl.h"

namespace ogg {

// The serial number of the last page in the last 64 KiB of the bytes
// [begin, end), found as vorbisfile finds it when it opens those bytes for
// seeking (libogg's page search from the same offset), so that both agree
// on whether they end in their first link.  False when that stretch holds
// no page.
bool last_serial(mp3::file_window &w, uint64_t begin, uint64_t end, uint32_t *serial);

// The play time of every link of a chained file, in seconds: each link's
// first Vorbis stream, timed as vorbisfile times it, from the samples its
// first audio page completes to its last granule position.  A link whose
// headers libvorbis refuses has no time.  Pages past a stream's first
// audio page are passed by their sizes unread; junk between pages is
// searched through, and a page cut short passed over.
double chain_seconds(mp3::file_window &w, uint64_t size);

// One link of a chained file: its bytes, from its first BOS page up to the
// next link's (or the file's end), and its play time after those before it.
struct link_span {
  uint64_t begin = 0, end = 0;
  double start = 0, seconds = 0;
};

// The link that plays at `at` seconds, timed as chain_seconds times them;
// the walk ends there.  False when no link plays then.
bool chain_link_at(mp3::file_window &w, uint64_t size, double at, link_span *link);

}  // namespace ogg
