// The test media that tarvo_media_gen writes for the tests that need it: a
// 1 kHz sine tone, TARVO_MEDIA_SECONDS long, in each container and codec
// the decoders take.  A test target asks for them with
// tarvo_media_fixtures(<target>) in its CMakeLists.txt, which defines
// TARVO_MEDIA_GEN, the generator's path.
#ifndef TARVO_TESTS_COMMON_MEDIA_FIXTURES_H
#define TARVO_TESTS_COMMON_MEDIA_FIXTURES_H

#include <string>

// What every file holds.
#define TARVO_MEDIA_TONE_HZ 1000
#define TARVO_MEDIA_SECONDS 2
// Peak of the tone: a quarter of full scale, in every channel.
#define TARVO_MEDIA_AMPLITUDE 0.25

// 44100 Hz stereo unless the name says otherwise.
#define MEDIA_WAV_PCM "tone_pcm.wav"            // 16-bit PCM, tag 1
#define MEDIA_WAV_MS_ADPCM "tone_ms_adpcm.wav"  // tag 2
#define MEDIA_WAV_IMA_ADPCM "tone_ima_adpcm.wav"  // tag 17
#define MEDIA_WAV_MP2 "tone_mp2.wav"            // tag 0x50, 192 kbit/s
#define MEDIA_WAV_MP3 "tone_mp3.wav"            // tag 0x55, 128 kbit/s
#define MEDIA_WAV_6CH "tone_6ch.wav"            // 16-bit 5.1, tag 0xFFFE (extensible)
#define MEDIA_MP3_CBR "tone_cbr.mp3"            // 128 kbit/s, no tag, no frame-count header
#define MEDIA_MP3_VBR "tone_vbr.mp3"            // VBR with a "Xing" frame-count header
#define MEDIA_MP3_ID3 "tone_id3.mp3"            // 128 kbit/s after an ID3v2.3 tag
#define MEDIA_WMA "tone.wma"                    // WMA v2, 128 kbit/s, in ASF
#define MEDIA_M4A "tone.m4a"                    // AAC LC in MP4
#define MEDIA_OGG_44100 "tone_44100.ogg"        // Vorbis
#define MEDIA_OGG_48000 "tone_48000.ogg"
#define MEDIA_OGG_32000 "tone_32000.ogg"
#define MEDIA_OGG_6CH "tone_6ch.ogg"            // Vorbis 5.1 at 44100 Hz

// The ID3v2 tag's text frames in MEDIA_MP3_ID3.
#define MEDIA_ID3_TITLE "Test Tone"
#define MEDIA_ID3_ARTIST "Tarvo Tests"
#define MEDIA_ID3_ALBUM "Fixtures"

#ifdef TARVO_MEDIA_GEN
#include <cstdio>
#include <cstdlib>

#include "tarvo_test.h"

// The folder of the fixtures: the test program's own temporary one, filled
// by the generator on first use and removed at the program's end, so that
// a build tree that the user may only read serves as well.
inline const std::string &media_dir()
{
  static const tarvo_test::scratch_dir dir;
  static const std::string made = [] {
    std::string cmd = std::string("'" TARVO_MEDIA_GEN "' '") + dir.path.string() + "'";
    int status = std::system(cmd.c_str());
    if (status != 0) std::fprintf(stderr, "%s: the test media could not all be made (%d)\n", TARVO_MEDIA_GEN, status);
    return dir.path.string();
  }();
  return made;
}

// The full path of a fixture.
inline std::string media_fixture(const char *name)
{
  return media_dir() + "/" + name;
}
#endif

#endif
