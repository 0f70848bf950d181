// Wave-format records as the resample filter builds and copies them.
#ifndef TARVO_MIRROW_MIRROW_WAVE_H
#define TARVO_MIRROW_MIRROW_WAVE_H

#include <tarvo_com/com_wave.h>

typedef WAVEFORMATEXTENSIBLE WaveFormat;

DWORD wave_default_mask(int channels);
void wave_set_pcm(WaveFormat &w, DWORD rate, int bits, int channels);
void wave_set_float(WaveFormat &w, DWORD rate, int bits, int channels);
/* false when the container is narrower than the valid bits. */
bool wave_set_extensible(WaveFormat &w, DWORD rate, int bits, int channels, int valid, DWORD mask, bool isFloat);
bool wave_is_pcm(const WaveFormat &w);
bool wave_is_float(const WaveFormat &w);
/* A 0 argument keeps the current value; the record keeps its kind. */
bool wave_set(WaveFormat &w, DWORD rate, int bits, int channels);
/* As wave_set, but 32 bits or more make the record float and fewer PCM. */
bool wave_set_width(WaveFormat &w, DWORD rate, int bits, int channels);
/* Copies what the record's tag says of a block of length bytes; the rest
 * of the record is cleared. */
void wave_copy(WaveFormat &w, const BYTE *block, ULONG length);

#endif
