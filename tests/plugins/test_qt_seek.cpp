// The MP4 LPCM plug-in's time seek through the movie toolbox stand-in, on
// M4A files made by ffmpeg, AAC and ALAC, with and without a cover picture:
// the PCM from a seek is ffmpeg's decode of the whole stream from the same
// sample on.
#include <gtest/gtest.h>

#include <corda_lpcm_mp4/corda_lpcm_mp4.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "encoder_probe.h"
#include "tarvo_test.h"

namespace {

std::string bin() { return std::getenv("TARVO_BIN") ? std::getenv("TARVO_BIN") : "bin"; }

bool run(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

const char kFfmpeg[] = "ffmpeg -nostdin -loglevel error -y ";

// Stereo 16-bit samples of big- or little-endian bytes.
std::vector<int16_t> samples(const std::string &bytes, bool big)
{
  std::vector<int16_t> s(bytes.size() / 2);
  for (size_t i = 0; i < s.size(); i++) {
    auto a = uint8_t(bytes[2 * i]), b = uint8_t(bytes[2 * i + 1]);
    s[i] = int16_t(big ? a << 8 | b : b << 8 | a);
  }
  return s;
}

// `frames` stereo frames of the movie at 44.1 kHz from ms on, as the
// plug-in sends them for a time seek.
std::vector<int16_t> served(const std::string &path, uint32_t ms, size_t frames)
{
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return {};
  std::string bytes;
  std::thread reader([&] {
    char buf[65536];
    for (ssize_t n; (n = read(pair[1], buf, sizeof buf)) > 0;) bytes.append(buf, size_t(n));
  });
  msf_lpcm_job job{path.c_str(), "audio/mp4", 44100, 2, 6000, ms};
  msf_lpcm_out out;
  msf_lpcm_out_init(&out, pair[0], 0, 0, frames * 4, 0);
  int ok = lpcm_qt_decode(&job, &out);
  close(pair[0]);
  reader.join();
  close(pair[1]);
  return ok ? samples(bytes, true) : std::vector<int16_t>();
}

// Where the served frames start against where they should (the lag of
// least difference over their first 4096 values, within 100 ms), and their
// residual against the whole stream from there, in dB below the signal.
struct match {
  long lag = 0;
  double residual_db = 0;
};

match compare(const std::vector<int16_t> &got, const std::vector<int16_t> &whole, long at)
{
  auto error = [&](long lag, size_t n, double *signal) {
    double e = 0, s = 0;
    for (size_t i = 0; i < std::min(n, got.size()); i++) {
      long j = (at + lag) * 2 + long(i);
      double w = j >= 0 && size_t(j) < whole.size() ? whole[size_t(j)] : 0;
      e += (got[i] - w) * (got[i] - w);
      s += w * w;
    }
    *signal = s;
    return e;
  };
  match m;
  double best = -1, signal = 0;
  for (long lag = -4410; lag <= 4410; lag++) {
    double e = error(lag, 4096, &signal);
    if (best < 0 || e < best) best = e, m.lag = lag;
  }
  double e = error(0, got.size(), &signal);
  m.residual_db = e == 0 ? -200 : 10 * std::log10(e / std::max(signal, 1.0));
  return m;
}

}  // namespace

// With a cover picture the seek took the picture, queued again by the
// demuxer, for where it had landed and dropped the time asked for once
// more (1.2 s late at 1.234 s, only the zero fill at 4.321 s); without one,
// AAC's first frame after the seek lacked its overlap (-15 to -40 dB).
TEST(QtSeek, SeekIsSampleExactWithOrWithoutCoverPicture)
{
  tarvo_test::scratch_dir d;
  std::string wav = d / "chirp.wav", pic = d / "cover.png";
  bool tools = tarvo_test::ffmpeg_filters("aevalsrc") && tarvo_test::ffmpeg_filters("color");
  for (const char *e : {"aac", "alac", "png", "mjpeg"}) tools = tools && tarvo_test::ffmpeg_encodes(e);
  if (!tools) GTEST_SKIP() << "ffmpeg with the lavfi sources and the aac, alac, png and mjpeg encoders is needed";
  // Rising and falling tones: no lag matches another but the right one.
  ASSERT_TRUE(run(kFfmpeg + std::string("-f lavfi -i 'aevalsrc=0.4*sin(2*PI*(300+200*t)*t)|0.3*sin(2*PI*(900-80*t)*t)"
                                        ":s=44100:d=6' ") + wav));
  ASSERT_TRUE(run(kFfmpeg + std::string("-f lavfi -i color=c=red:s=64x64 -frames:v 1 ") + pic));
  setenv("TARVO_QT_LIBRARY", (bin() + "/libtarvo_qt.so").c_str(), 1);
  ASSERT_TRUE(lpcm_qt_ready());
  for (const char *codec : {"aac", "alac"})
    for (const char *cover : {"", "png", "mjpeg"}) {
      std::string m4a = d / (std::string(codec) + cover + ".m4a"), raw = m4a + ".raw";
      SCOPED_TRACE(m4a);
      std::string picture = *cover ? "-i " + pic + " -map 0 -map 1 -c:v " + cover + " -disposition:v attached_pic " : "";
      if (!run(kFfmpeg + ("-i " + wav + " " + picture + "-c:a " + codec + " " + m4a))) {
        ADD_FAILURE() << "ffmpeg could not make the file";
        continue;
      }
      ASSERT_TRUE(run(kFfmpeg + ("-i " + m4a + " -map 0:a -f s16le -c:a pcm_s16le " + raw)));
      std::vector<int16_t> whole = samples(tarvo_test::read_file(raw), false);
      for (uint32_t ms : {1234u, 2500u, 4321u}) {
        SCOPED_TRACE(ms);
        std::vector<int16_t> got = served(m4a, ms, 22050);
        EXPECT_EQ(got.size(), 44100u);
        match m = compare(got, whole, long(ms * 44100 / 1000));
        EXPECT_EQ(m.lag, 0) << m.residual_db << " dB";
        // The converter and ffmpeg may round a sample's last bit apart.
        EXPECT_LT(m.residual_db, -75) << m.lag << " frames off";
      }
    }
  lpcm_qt_stop();
}
