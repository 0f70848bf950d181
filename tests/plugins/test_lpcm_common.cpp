// What the LPCM plug-ins share: the audio/L16 resources of the rewrite
// (which res gain them, their channels and rates, the one dynamic mark of
// the MP4 variant, the capacity rule), and the body writer (skip, budget,
// chunks, zero fill of a decoder that ends early, the final chunk).
#include <gtest/gtest.h>

#include <corda_common/msf_lpcm.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

std::string rewrite(const msf_lpcm_style &style, const std::string &text, uint32_t capacity = 50000)
{
  std::vector<char> buf(capacity);
  return msf_lpcm_rewrite(&style, text.c_str(), buf.data(), capacity) ? std::string(buf.data()) : "<failed>";
}

// One LPCM res with the source's copied attributes.
std::string lpcm(uint32_t rate, uint32_t channels, const char *size, const char *filter, const std::string &copied)
{
  std::string r = std::to_string(rate), c = std::to_string(channels);
  std::string bitrate = std::to_string(uint64_t(rate) * channels * 2);
  return "\r\n<res protocolInfo=\"http-get:*:audio/L16;rate=" + r + ";channels=" + c +
         ":DLNA.ORG_PN=LPCM;DLNA.ORG_OP=11;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=00200000000000000000000000000000\" "
         "sampleFrequency=\"" + r + "\" bitrate=\"" + bitrate + "\" nrAudioChannels=\"" + c + "\" size=\"" + size +
         "\"" + copied + " bitsPerSample=\"16\" tarvo:filter=\"" +
         filter + "\">x&lt;y</res>";
}

}  // namespace

TEST(LpcmRewrite, WhichResGainResourcesAndHowMany)
{
  const std::string src = "<res protocolInfo=\"http-get:*:application/ogg:*\" size=\"9\" duration=\"0:00:00.500\" "
                          "tarvo:filename=\"/m/a&amp;b.ogg\" sampleFrequency=\"48000\" nrAudioChannels=\"6\" "
                          "bitrate=\"1\" bitsPerSample=\"24\">x&lt;y</res>";
  // Already ours, or without a channel count: left as they are.
  const std::string kept = "<res tarvo:filename=\"/m/a\" tarvo:filter=\"corda_lpcm\" nrAudioChannels=\"2\"></res>"
                           "<res tarvo:filename=\"/m/a\" sampleFrequency=\"44100\"></res>";
  std::string doc = "<DIDL-Lite><item>" + src + kept + "</item></DIDL-Lite>";

  msf_lpcm_style ogg{"corda_lpcm", 1, 0};
  EXPECT_EQ(rewrite(ogg, doc), "<DIDL-Lite><item>" + src + lpcm(48000, 2, "96000", "corda_lpcm", " duration=\"0:00:00.500\" tarvo:filename=\"/m/a&amp;b.ogg\"") + kept +
                                   "</item></DIDL-Lite>");

  // Mono at 44100 for the MP4 variant: both rates, the source's first,
  // and one dynamic mark before the item's end.
  std::string mono = "<res tarvo:filename=\"/m/a&amp;b.ogg\" duration=\"0:00:00.500\" nrAudioChannels=\"1\" "
                     "sampleFrequency=\"44100\" x=\"1\">x&lt;y</res>";
  msf_lpcm_style mp4{"corda_lpcm_mp4", 0, 1};
  std::string out = rewrite(mp4, "<DIDL-Lite><item>" + mono + "</item></DIDL-Lite>");
  std::string copied = " tarvo:filename=\"/m/a&amp;b.ogg\" duration=\"0:00:00.500\" x=\"1\"";
  std::string pair = lpcm(44100, 1, "44100", "corda_lpcm_mp4", copied) + lpcm(48000, 1, "48000", "corda_lpcm_mp4", copied);
  EXPECT_EQ(out, "<DIDL-Lite><item>" + mono + pair + "<tarvo:dynamic></tarvo:dynamic>\r\n</item></DIDL-Lite>");
  // An item that has its mark already gets no second one.
  std::string marked = "<DIDL-Lite><item><tarvo:dynamic></tarvo:dynamic>" + mono + "</item></DIDL-Lite>";
  EXPECT_EQ(rewrite(mp4, marked), "<DIDL-Lite><item><tarvo:dynamic></tarvo:dynamic>" + mono + pair + "</item></DIDL-Lite>");

  // The result with its NUL must fit.
  std::string plain = "<DIDL-Lite><item></item></DIDL-Lite>";
  EXPECT_EQ(rewrite(ogg, plain, uint32_t(plain.size() + 1)), plain);
  EXPECT_EQ(rewrite(ogg, plain, uint32_t(plain.size())), "<failed>");
}

TEST(LpcmBody, SkipBudgetChunksAndZeroFillOfAShortDecoder)
{
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  // 20 bytes skipped across two pieces, 17000 sent in chunks of 8000 from
  // 9000 decoded bytes: the rest is zeros.
  auto *out = new msf_lpcm_out;
  msf_lpcm_out_init(out, pair[0], 1, 20, 17000, 8000);
  std::string decoded;
  for (int i = 0; i < 9020; i++) decoded += char('a' + i % 26);
  EXPECT_TRUE(msf_lpcm_out_put(out, decoded.data(), 12));
  EXPECT_TRUE(msf_lpcm_out_put(out, decoded.data() + 12, 9008));
  EXPECT_TRUE(msf_lpcm_out_finish(out));
  delete out;
  shutdown(pair[0], SHUT_WR);
  std::string got;
  char buf[65536];
  for (ssize_t n; (n = recv(pair[1], buf, sizeof buf, 0)) > 0;) got.append(buf, size_t(n));
  std::string data = decoded.substr(20) + std::string(8000, '\0');
  // The pending part goes out first, then the zeros in whole blocks.
  std::string expect = "1f40\r\n" + data.substr(0, 8000) + "\r\n3e8\r\n" + data.substr(8000, 1000) + "\r\n1f40\r\n" +
                       data.substr(9000) + "\r\n0\r\n\r\n";
  EXPECT_TRUE(got == expect) << got.size() << " bytes";
  close(pair[0]);
  close(pair[1]);
}
