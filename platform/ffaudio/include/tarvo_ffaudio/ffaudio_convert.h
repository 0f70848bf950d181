/* Decoded audio frames to interleaved 16-bit PCM of one rate and channel
 * count fixed when the converter is made.  Decoders may change a stream's
 * channel layout, rate or sample format from one frame to the next (joined
 * recordings); the converter follows each frame and the output stays as
 * agreed. */
#ifndef TARVO_FFAUDIO_CONVERT_H
#define TARVO_FFAUDIO_CONVERT_H

#include <cstdint>
#include <vector>

struct AVFrame;
struct FfConverter;

/* A converter to `channels` (1 or more; more channels than the frames have
 * are mixed up, fewer folded down by the resampler's standard matrix) at
 * `rate`, or NULL when out of memory or either is below 1.  The caller frees
 * it with ffaudio_converter_free. */
FfConverter *ffaudio_converter_new(int channels, int rate);
void ffaudio_converter_free(FfConverter *c);

/* Appends the frame's samples after its first `skip` ones, converted, to
 * out.  A frame whose layout, rate or format differs from the last one's
 * gets a new resampler, after what the old one still held.  0, or a
 * negative FFmpeg error: AVERROR(ENOMEM), or AVERROR(EINVAL) for a frame
 * that cannot be converted (it adds nothing; the next frame may). */
int ffaudio_convert(FfConverter *c, const AVFrame *frame, int skip, std::vector<uint8_t> *out);

/* Appends what the converter still holds (a resampler's delay), at the end
 * of the stream.  0 or a negative FFmpeg error. */
int ffaudio_flush(FfConverter *c, std::vector<uint8_t> *out);

/* Drops what the converter holds, for a seek. */
void ffaudio_reset(FfConverter *c);

#endif
