// Media files as common tools make them, shared to the running server with
// its plug-ins: joined recordings, large pictures and several tags, chained
// Ogg, files without a length header, ADPCM, a sidecar that does not fit, a
// name that is not UTF-8.  Every file is listed with the class of its type
// and its length as ffprobe finds it, every LPCM resource streams its
// announced length as the tone, and the server stops cleanly.
#include "plugin_server.h"

#include <encoder_probe.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace {

using namespace plugin_test;

// Writes the corpus into the current folder.  Each part is a 1 kHz tone of
// a second (two for the joined files), so that every stream can be checked
// for its rate and channels.
const char kMake[] = R"sh(set -e
ff() { ffmpeg -loglevel error -y "$@"; }
tone() { ff -f lavfi -i sine=frequency=1000:duration=${2:-1}:sample_rate=${3:-44100} $1; }
# A big-endian 32-bit number, and an ID3v2 tag's bytes (header included).
be32() { for s in 24 16 8 0; do printf "\\$(printf %03o $(($1 >> s & 255)))"; done; }
id3() { head -c $(od -An -tu1 -j6 -N4 "$1" | awk '{print 10 + $1 * 2097152 + $2 * 16384 + $3 * 128 + $4}') "$1"; }

tone "-ac 2 -c:a libmp3lame -f mp3 st.part"
tone "-ac 1 -c:a libmp3lame -f mp3 mo.part"
tone "-ac 2 -c:a libmp3lame -f mp3 st48.part" 1 48000
cat st.part mo.part > joined_mono.mp3
cat st.part st48.part > joined_rate.mp3

# Vorbis with a 1 MiB cover in its comment, the way taggers store it.
convert -size 1024x1024 xc:gray +noise Random -quality 100 big.jpg
convert -size 560x560 xc:gray +noise Random -quality 100 pic.jpg
{ be32 3; be32 10; printf image/jpeg; be32 0; be32 1024; be32 1024; be32 24; be32 0; be32 $(stat -c %s big.jpg)
  cat big.jpg; } > block.part
tone "-ac 2 -c:a libvorbis plain.part.ogg"
{ echo ';FFMETADATA1'; printf METADATA_BLOCK_PICTURE=; base64 -w0 block.part | sed 's/=/\\=/g'; echo; } > meta.part
ff -i plain.part.ogg -i meta.part -map_metadata 1 -c copy cover.ogg

# Five chained streams (each with its own serial number), the third mono
# and the fourth at 48 kHz.
for n in 1 2 5; do tone "-ac 2 -c:a libvorbis c$n.part.ogg"; done
tone "-ac 1 -c:a libvorbis c3.part.ogg"
tone "-ac 2 -c:a libvorbis c4.part.ogg" 1 48000
cat c1.part.ogg c2.part.ogg c3.part.ogg c4.part.ogg c5.part.ogg > chain.ogg
mkdir -p ../links && cp c?.part.ogg ../links/

# Three ID3v2 tags before the audio, the second holding a 322 KiB picture.
ff -i st.part -metadata album=One -c copy one.part.mp3
ff -i st.part -i pic.jpg -map 0 -map 1 -c copy -id3v2_version 3 -disposition:v attached_pic pic.part.mp3
sox -n -r 44100 -c 2 tone.part.wav synth 1 sine 1000 vol 0.3
lame --quiet --id3v2-only --ta Three tone.part.wav three.part.mp3
{ id3 one.part.mp3; id3 pic.part.mp3; cat three.part.mp3; } > tags3.mp3

# No Xing header: 64 kbit/s (lame takes it down to 24 kHz) then 320, and a
# VBR file with a quiet start.
sox -n -r 44100 -c 2 tone2.part.wav synth 2 sine 1000 vol 0.3
lame --quiet -t -b 64 tone2.part.wav b64.part
lame --quiet -t -b 320 tone2.part.wav b320.part
cat b64.part b320.part > bitrates.mp3
sox -n -r 44100 -c 2 quiet.part.wav synth 0.5 sine 1000 vol 0
sox quiet.part.wav tone.part.wav intro.part.wav
lame --quiet -t -V 2 intro.part.wav vbr.mp3

tone "-ac 2 -c:a adpcm_ms adpcm_ms.wav"
tone "-ac 2 -c:a adpcm_ima_wav adpcm_ima.wav"
tone "-ac 2 -c:a libmp3lame y.mp3"
printf '<item><DIDL-Lite>x</DIDL-Lite></item>' > y.mp3.didl
cp y.mp3 "$(printf 'caf\351.mp3')"
sox tone.part.wav tone.flac
ff -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -f lavfi -i sine=frequency=1000:duration=1 \
  -c:v mpeg4 -c:a libvorbis clip.mkv
tone "-ac 1 -c:a wmav2 mono.wma"
# Debian's encoders write no WMA of more than two channels: 5.1 PCM in ASF.
tone "-ac 6 -c:a pcm_s16le -f asf six.wma"
rm -f *.part *.part.* big.jpg pic.jpg
)sh";

// What ffprobe takes the files' audio to last, summed.  Of an MP3 the
// packets' durations (its header-based guess takes the first part's Info
// frame or bit rate for the whole of a joined file); of the others the
// duration it finds in the headers or the last Ogg page.
double probed_seconds(const std::string &paths)
{
  int status;
  std::string out = tarvo_test::command_output(
      "for f in " + paths + "; do case $f in *.mp3) ffprobe -v error -select_streams a:0 -show_entries "
      "packet=duration_time -of csv=p=0 \"$f\";; *) ffprobe -v error -show_entries format=duration -of csv=p=0 \"$f\";; "
      "esac; done", &status);
  double total = 0;
  for (size_t at = 0, eol; (eol = out.find('\n', at)) != std::string::npos; at = eol + 1)
    total += std::atof(out.c_str() + at);
  return total;
}

// "H:MM:SS.mmm" in seconds; -1 without one.
double seconds_of(const std::string &d)
{
  unsigned h, m;
  double s;
  return std::sscanf(d.c_str(), "%u:%u:%lf", &h, &m, &s) == 3 ? h * 3600.0 + m * 60 + s : -1;
}

struct resource {
  std::string info, url, duration;
  size_t size = 0;
};

struct listed {
  std::string cls;
  std::vector<resource> res;
};

// The listing's items by title.
std::map<std::string, listed> items_of(const std::string &listing)
{
  std::map<std::string, listed> items;
  std::regex one("<item [\\s\\S]*?</item>"), title("<dc:title>([^<]*)</dc:title>"),
      cls("<upnp:class>([^<]*)</upnp:class>"), res("<res ([^>]*)>http://127\\.0\\.0\\.1:30001(/[^<]*)</res>"),
      info("protocolInfo=\"([^\"]*)\""), size("(?:^| )size=\"(\\d+)\""), duration("(?:^| )duration=\"([^\"]+)\"");
  for (std::sregex_iterator i(listing.begin(), listing.end(), one), e; i != e; ++i) {
    std::string text = i->str();
    std::smatch t, c;
    if (!std::regex_search(text, t, title)) continue;
    listed &it = items[t[1]];
    if (std::regex_search(text, c, cls)) it.cls = c[1];
    for (std::sregex_iterator r(text.begin(), text.end(), res); r != e; ++r) {
      resource got{"", (*r)[2], "", 0};
      std::string attrs = (*r)[1];
      std::smatch z;
      if (std::regex_search(attrs, z, info)) got.info = z[1];
      if (std::regex_search(attrs, z, size)) got.size = std::stoul(z[1]);
      if (std::regex_search(attrs, z, duration)) got.duration = z[1];
      it.res.push_back(got);
    }
  }
  return items;
}

// The tone's frequency in each whole second of one channel of big-endian
// PCM, from the median distance of its rising zero crossings; 0 for a
// second without a tone.
std::vector<double> tone_by_second(const std::string &pcm, int channels, int channel, int rate)
{
  std::vector<double> found;
  size_t frames = pcm.size() / (2 * size_t(channels));
  auto sample = [&](size_t i) {
    size_t at = (i * channels + channel) * 2;
    return int(int16_t(uint16_t(uint8_t(pcm[at]) << 8 | uint8_t(pcm[at + 1]))));
  };
  for (size_t from = 0; from + size_t(rate) <= frames; from += size_t(rate)) {
    std::vector<double> periods;
    double last = -1;
    for (size_t i = from + 1; i < from + size_t(rate); i++) {
      int a = sample(i - 1), b = sample(i);
      if (a < 0 && b >= 0 && b - a > 100) {
        double t = double(i - 1) + double(-a) / double(b - a);
        if (last >= 0) periods.push_back(t - last);
        last = t;
      }
    }
    if (periods.size() < 100) {
      found.push_back(0);
      continue;
    }
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    found.push_back(rate / periods[periods.size() / 2]);
  }
  return found;
}

// Title (the file name without its suffix, a byte that is no UTF-8 as
// U+FFFD), file name, class, LPCM resources (two, but one at the source's
// rate for Ogg, none for what no decoder takes), and the files that ffprobe
// times in its place (the links of a chained Ogg, whose headers ffprobe
// reads only in the first link).
struct expected {
  const char *title, *file, *cls;
  size_t lpcm;
  const char *probe = nullptr;
};
const char kAudio[] = "object.item.audioItem.musicTrack";
const expected kCorpus[] = {
    {"joined_mono", "joined_mono.mp3", kAudio, 2},
    {"joined_rate", "joined_rate.mp3", kAudio, 2},
    {"cover", "cover.ogg", kAudio, 1},
    {"chain", "chain.ogg", kAudio, 1, "../links/*.ogg"},
    {"tags3", "tags3.mp3", kAudio, 2},
    {"bitrates", "bitrates.mp3", kAudio, 2},
    {"vbr", "vbr.mp3", kAudio, 2},
    {"adpcm_ms", "adpcm_ms.wav", kAudio, 2},
    {"adpcm_ima", "adpcm_ima.wav", kAudio, 2},
    {"y", "y.mp3", kAudio, 2},
    {"caf\xEF\xBF\xBD", "caf\xE9.mp3", kAudio, 2},
    {"tone", "tone.flac", kAudio, 0},
    {"clip", "clip.mkv", "object.item.videoItem", 0},
    {"mono", "mono.wma", kAudio, 2},
    {"six", "six.wma", kAudio, 0},
};

// What kMake needs, named when this machine lacks it.
std::string corpus_lacking()
{
  for (const char *e : {"libmp3lame", "libvorbis", "wmav2", "adpcm_ms", "adpcm_ima_wav", "mpeg4", "pcm_s16le"})
    if (!tarvo_test::ffmpeg_encodes(e)) return std::string("ffmpeg with the ") + e + " encoder is needed for the corpus";
  for (const char *f : {"sine", "testsrc"})
    if (!tarvo_test::ffmpeg_filters(f)) return std::string("ffmpeg with the lavfi source ") + f + " is needed for the corpus";
  if (!tarvo_test::sox_writes("flac")) return "sox with FLAC is needed for the corpus";
  for (const char *p : {"lame", "convert", "base64", "od"})
    if (!tarvo_test::program_found(p)) return std::string(p) + " (lame, ImageMagick, coreutils) is needed for the corpus";
  return "";
}

}  // namespace

TEST(MediaCorpus, EveryFileListedTimedAndPlayedAsItClaims)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  running_server srv("corda_didl\ncorda_lpcm\ncorda_lpcm_mp4\n");
  tarvo_test::write_file(srv.dir / "make", kMake);
  if (!corpus_lacking().empty()) GTEST_SKIP() << corpus_lacking();
  ASSERT_EQ(std::system(("cd '" + srv.media + "' && sh ../make").c_str()), 0);
  ASSERT_TRUE(srv.start());
  std::string listing = srv.children_when([](const std::string &c) {
    auto items = items_of(c);
    return std::all_of(std::begin(kCorpus), std::end(kCorpus), [&](const expected &e) { return items.count(e.title); });
  });
  auto items = items_of(listing);
  for (const expected &e : kCorpus) {
    SCOPED_TRACE(e.file);
    auto found = items.find(e.title);
    ASSERT_NE(found, items.end()) << listing;
    const listed &it = found->second;
    EXPECT_EQ(it.cls, e.cls);
    auto own = std::find_if(it.res.begin(), it.res.end(), [](auto &r) { return r.info.find("audio/L16") == r.info.npos; });
    ASSERT_NE(own, it.res.end()) << listing;
    // The source file itself, byte for byte, at its own URL.
    std::string file = tarvo_test::read_file(srv.media + "/" + e.file);
    reply source = get(own->url);
    EXPECT_EQ(source.status(), "HTTP/1.1 200 OK");
    EXPECT_TRUE(source.body() == file);
    if (!std::strstr(e.file, ".flac") && !std::strstr(e.file, ".mkv")) {
      double probed = probed_seconds("'" + srv.media + "'/" + (e.probe ? e.probe : std::string("'") + e.file + "'"));
      EXPECT_NEAR(seconds_of(own->duration), probed, 0.1) << own->duration;
    }
    EXPECT_EQ(std::count_if(it.res.begin(), it.res.end(), [](auto &r) { return r.info.find("audio/L16") != r.info.npos; }),
              e.lpcm);
    for (const resource &r : it.res) {
      std::smatch f;
      if (!std::regex_search(r.info, f, std::regex("audio/L16;rate=(\\d+);channels=(\\d+)"))) continue;
      SCOPED_TRACE(r.info);
      int rate = std::stoi(f[1]), channels = std::stoi(f[2]);
      chunks c = dechunk(get(r.url).body());
      EXPECT_TRUE(c.ended);
      EXPECT_EQ(c.data.size(), r.size);
      EXPECT_NEAR(seconds_of(r.duration), seconds_of(own->duration), 0.05);
      // Every second with a tone has it at 1 kHz in every channel: a part
      // served at another rate or with other channels than announced shows
      // another pitch, or none in a channel.
      std::vector<double> left = tone_by_second(c.data, channels, 0, rate);
      for (int ch = 0; ch < channels; ch++) {
        std::vector<double> hz = tone_by_second(c.data, channels, ch, rate);
        for (size_t s = 0; s < hz.size(); s++)
          if (left[s]) {
            EXPECT_NEAR(hz[s], 1000, 10) << "second " << s << " channel " << ch;
          }
      }
      // From a time inside the second part: the rest of the announced length.
      if (r.size < size_t(rate) * channels * 2 * 3 / 2) continue;
      reply part = get(r.url, "TimeSeekRange.dlna.org: npt=1.2-\r\n");
      std::smatch range;
      std::string seek = part.header("TimeSeekRange.dlna.org");
      ASSERT_TRUE(std::regex_search(seek, range, std::regex("bytes=(\\d+)-(\\d+)/(\\d+)$"))) << part.text.substr(0, 400);
      chunks rest = dechunk(part.body());
      EXPECT_TRUE(rest.ended);
      EXPECT_EQ(rest.data.size(), std::stoul(range[2]) - std::stoul(range[1]) + 1);
      EXPECT_EQ(std::stoul(range[3]), r.size);
      for (double hz : tone_by_second(rest.data, channels, channels - 1, rate))
        if (hz) {
          EXPECT_NEAR(hz, 1000, 10);
        }
    }
  }
  EXPECT_EQ(waitpid(srv.pid, nullptr, WNOHANG), 0);
  EXPECT_EQ(srv.stop(), 0);
}
