// The genre names of ID3v1 and ID3v2, and the genre references of
// ID3v2 text: "(17)", "(RX)", "(CR)" and "((".
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <cstring>

extern "C" const char *const id3_genre_names[ID3_GENRE_COUNT] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal", "New Age",
    "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska",
    "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion",
    "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock",
    "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro",
    "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk/Rock", "National Folk", "Swing", "Fast-Fusion", "Bebob",
    "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson",
    "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam",
    "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
    "Drum Solo", "A Cappella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror",
    "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal",
    "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop",
    "Synthpop",
};

namespace {

// The resolved text, in a buffer that cannot grow past its size.
struct out_text {
  char *buf;
  uint32_t len = 0, size;
  bool add(const char *s, uint32_t n)
  {
    if (n >= size - len) return false;
    std::memcpy(buf + len, s, n);
    len += n;
    return true;
  }
  bool add(const char *s) { return add(s, sys_str_len(s)); }
};

// Past "(" at s[i]: the letters of "RX)" or "CR)" must follow; i ends on
// the ")".
bool letters(const char *s, uint32_t *i, const char *rest)
{
  for (; *rest; rest++)
    if (s[++*i] != *rest) return false;
  return true;
}

// A reference at s[*i] (just past its "("), leaving *i on its last
// character; false for a broken (RX) or (CR) or when the output is full.
// *done when the text ends here or a genre number ended it.
bool reference(const char *s, uint32_t *i, out_text &o, bool *done)
{
  uint32_t number = 0;
  for (;; ++*i) {
    char c = s[*i];
    if (c == 0) return *done = true;
    if (c == '(') return o.add("(", 1);
    if (c == 'R') return letters(s, i, "X)") && o.add("Remix");
    if (c == 'C') return letters(s, i, "R)") && o.add("Cover");
    if (c >= '0' && c <= '9') {
      if (number < ID3_GENRE_COUNT) number = number * 10 + uint32_t(c - '0');
      continue;
    }
    if (c == ')') {
      // Only a number that opens the text names the genre.
      if (*i >= 2 && *i <= 5 && number < ID3_GENRE_COUNT) {
        *done = true;
        return o.add(id3_genre_names[number]);
      }
      return true;
    }
    char pair[2] = {'(', c};
    return o.add(pair, 2);
  }
}

}  // namespace

extern "C" int id3_genre_resolve(const char *text, char **out)
{
  uint32_t n = sys_str_len(text);
  if (n > UINT32_MAX - TAG_ID3_GENRE_GROWTH - 1) return 0;
  out_text o{static_cast<char *>(sys_alloc(n + TAG_ID3_GENRE_GROWTH + 1)), 0, n + TAG_ID3_GENRE_GROWTH + 1};
  if (!o.buf) return 0;
  bool fits = true, done = false;
  for (uint32_t i = 0; fits && !done && text[i]; i++) {
    if (text[i] != '(') fits = o.add(text + i, 1);
    else if (text[++i]) fits = reference(text, &i, o, &done);
    else break;
  }
  if (!fits) {
    sys_alloc_free(o.buf);
    return 0;
  }
  o.buf[o.len] = 0;
  *out = o.buf;
  return 1;
}
