/* Wave formats as the system filters take them: a check of a format block
 * before any filter or decoder sees it, and the walk of a RIFF WAVE file to
 * its format and its data. */
#ifndef TARVO_DSHOW_WAVE_FORMAT_H
#define TARVO_DSHOW_WAVE_FORMAT_H

#include <tarvo_com/com_wave.h>

#include <cstddef>
#include <cstdint>
#include <vector>

/* 1 when the block of `size` bytes holds a usable format: 1 to 8 channels,
 * a rate of 1 to 384000, a block align above 0 that for PCM matches the
 * channels and bits, and an extra part (cbSize) inside the block. */
int wave_format_valid(const BYTE *format, size_t size);

struct WaveFile {
  std::vector<BYTE> format;  // the format chunk, as a WAVEFORMATEX and its extra bytes
  uint64_t data_start = 0;   // file offset of the first data byte
  uint64_t data_bytes = 0;   // whole blocks only, clamped to the file
};

/* Reads at most `size` bytes at `offset` into buf; the count read, or -1. */
typedef long (*wave_read_fn)(void *ctx, uint64_t offset, void *buf, size_t size);

/* Walks the RIFF chunks of a file of file_size bytes.  1 with the format
 * (checked by wave_format_valid) and the data range; 0 when the file is no
 * WAVE file or its format is refused. */
int wave_file_parse(wave_read_fn read, void *ctx, uint64_t file_size, WaveFile *out);

/* The format's bytes per second as used for times: computed for PCM. */
uint32_t wave_bytes_per_second(const WAVEFORMATEX *wfx);

#endif
