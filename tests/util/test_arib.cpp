// ARIB 8-bit broadcast text.
#include <gtest/gtest.h>

#include <tarvo_util/charset.h>

#include <string>

namespace {

std::string arib(const std::string &in, int *ok = nullptr)
{
  auto *d = reinterpret_cast<const unsigned char *>(in.data());
  uint32_t n;
  int r = utf8_from_arib(d, uint32_t(in.size()), nullptr, 0, &n);
  if (ok) *ok = r;
  if (!r) return "<fail>";
  std::string out(n + 1, '\0');
  uint32_t got;
  r = utf8_from_arib(d, uint32_t(in.size()), out.data(), uint32_t(out.size()), &got);
  if (!r || got != n) return "<fill differs>";
  out.resize(n);
  return out;
}

const std::string ESC = "\x1B";

}  // namespace

TEST(Arib, ShiftsAndDesignations)
{
  EXPECT_EQ(arib("\x0E" "AB"), "AB");                       // G1 alphanumeric into GL
  EXPECT_EQ(arib("\xA2"), "\xE3\x81\x82");                  // GR = G2 hiragana
  EXPECT_EQ(arib("F|K\\"), "\xE6\x97\xA5\xE6\x9C\xAC");     // kanji plane 1 in G0
  EXPECT_EQ(arib(ESC + "|\xA1"), "\xE3\x82\xA1");           // LS3R: katakana into GR
  EXPECT_EQ(arib(ESC + ")0\x0E\x22"), "\xE3\x81\x82");      // hiragana designated to G1
  EXPECT_EQ(arib(ESC + "n\x22\x0F" "F|"), "\xE3\x81\x82\xE6\x97\xA5");  // LS2, then LS0
  EXPECT_EQ(arib("\x0E" "a b\x7F"), "a b\x7F");
}

TEST(Arib, AdditionalSymbols)
{
  const std::string kanji_g0 = ESC + "$B";
  // Row 90 cell 1: the 74th private-use cell with the kanji set, nothing
  // from the JIS set that G0 holds at first.
  EXPECT_EQ(arib(kanji_g0 + "\x7A\x21"), "\xEE\x83\x89");
  EXPECT_EQ(arib("\x7A\x21"), "");
  EXPECT_EQ(arib(kanji_g0 + "F|\x75\x23"), "\xE6\x97\xA5\xE4\xBB\xBD");  // row 85 cell 3: U+4EFD
  const std::string symbols_g0 = ESC + "$;";
  EXPECT_EQ(arib(symbols_g0 + "\x7E\x21"), "\xE2\x85\xA0");           // row 94 cell 1: U+2160
  EXPECT_EQ(arib(symbols_g0 + "\x75\x21"), "\xEE\x82\x80");           // first private-use cell
  EXPECT_EQ(arib(symbols_g0 + "\x7E\x7E"), "\xEE\x8E\xA6");           // last one: U+E3A6
  EXPECT_EQ(arib(symbols_g0 + "\x7C\x76\x7C\x77"), "\xC2\xAE\xC2\xA9");  // row 92: U+00AE, U+00A9
  EXPECT_EQ(arib(symbols_g0 + "F|"), "");                             // rows outside the table
  EXPECT_EQ(arib(ESC + "$)B" + "\x0E\x7E\x21"), "\xE2\x85\xA0");      // kanji set via G1
}

TEST(Arib, DroppedAndBrokenInput)
{
  EXPECT_EQ(arib(ESC + "( A\x21\x22" + ESC + "(J" + "ok"), "ok");  // DRCS characters vanish
  EXPECT_EQ(arib(ESC + "(2\x21\x22"), "");                         // mosaic
  EXPECT_EQ(arib("F|K"), "\xE6\x97\xA5");                          // ends inside a character
  EXPECT_EQ(arib("\xA0\xFF\x89\x8A\r\xA2"), "\xE3\x81\x82");
  EXPECT_EQ(arib("\xA2\x9B" "0 f\xA2\x9B" "1x\xA4"), "\xE3\x81\x82\xE3\x81\x82\xE3\x81\x84");
  EXPECT_EQ(arib("\xF4\xF5\xF6\xF7"), "\xE3\x82\x9D");             // hiragana 0x74-0x76 give nothing
  // A GR pair whose second byte is no GR byte is dropped whole.
  EXPECT_EQ(arib(ESC + "$*B\xC6\x7C\xC6\xFC"), "\xE6\x97\xA5");
  EXPECT_EQ(arib(ESC), "");
  EXPECT_EQ(arib(ESC + "$"), "");                                  // unmatched: '$' read as a kanji byte
  EXPECT_EQ(arib(""), "");
}

TEST(Arib, SingleShifts)
{
  EXPECT_EQ(arib("\x19\x22" "F|"), "\xE3\x81\x82\xE6\x97\xA5");  // SS2 covers one character
  EXPECT_EQ(arib("\x1D\x22"), "\xE3\x82\xA2");                   // SS3: katakana
  int ok;
  arib("\x19\x0E", &ok);
  EXPECT_EQ(ok, 0);
  arib("ab\x1D", &ok);
  EXPECT_EQ(ok, 0);
}

TEST(Arib, BufferKeepsWholeCharacters)
{
  const std::string in = "\x0E" "a\x0F" "F|K\\";
  auto *d = reinterpret_cast<const unsigned char *>(in.data());
  char buf[8];
  uint32_t n;
  std::fill(std::begin(buf), std::end(buf), 'x');
  ASSERT_EQ(utf8_from_arib(d, uint32_t(in.size()), buf, 6, &n), 1);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf, 8), "a\xE6\x97\xA5xxxx");
  ASSERT_EQ(utf8_from_arib(d, uint32_t(in.size()), buf, 7, &n), 1);
  EXPECT_EQ(std::string(buf, 8), "a\xE6\x97\xA5\xE6\x9C\xAC" "x");
}
