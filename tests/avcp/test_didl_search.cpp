// Search criteria: tokenizer, parser and matching.
#include "helper_didl.h"

#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_char.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <string>
#include <vector>

using namespace didl_test;

namespace {

struct criteria {
  avcp_didl_search_criteria *c = nullptr;
  int ok;
  explicit criteria(const std::string &text) { ok = avcp_didl_search_criteria_parse(&c, text.c_str()); }
  ~criteria() { avcp_didl_search_criteria_free(&c); }
  bool match(const avcp_didl_object *o) const { return avcp_didl_search_criteria_match(&c, o) == 1; }
};

// Ids of the objects of a document that the criteria match.
std::string matching(const std::string &search, const parsed &objects)
{
  criteria c(search);
  if (!c.ok) return "<parse failed>";
  std::string ids;
  for (size_t i = 0; i < objects.size(); i++)
    if (c.match(objects[i])) ids += (ids.empty() ? "" : ",") + attr_of(objects[i], "id");
  return ids;
}

struct tokens {
  std::vector<std::string> list;
  int ok = 1;
};

tokens read_all(const char *text, const std::vector<int> &modes)
{
  tokens t;
  sys_stralloc_rec tok{};
  uint32_t pos = 0;
  for (int quoted : modes) {
    if (!avcp_didl_search_criteria_token_read(text, quoted, &pos, &tok)) {
      t.ok = 0;
      break;
    }
    t.list.emplace_back(tok.buf, tok.len);
    EXPECT_EQ(tok.buf[tok.len], 0);
  }
  sys_stralloc_free(&tok);
  return t;
}

}  // namespace

TEST(AvcpChar, Spaces)
{
  for (int c = -128; c < 128; c++)
    EXPECT_EQ(avcp_char_is_space(static_cast<signed char>(c)), c == 32 || (c >= 9 && c <= 13)) << c;
}

TEST(DidlSearchTokens, PlainAndQuoted)
{
  tokens t = read_all(" \t(dc:title=\"x\")and(\n", {0, 0, 0, 0, 0, 0});
  ASSERT_EQ(t.ok, 1);
  EXPECT_EQ(t.list, (std::vector<std::string>{"(", "dc:title=\"x\"", ")", "and(", "", ""}));
  t = read_all("a\"b \"q\\\"u\\\\o\\te\" rest", {0, 1, 0});
  ASSERT_EQ(t.ok, 1);
  EXPECT_EQ(t.list, (std::vector<std::string>{"a\"b", "q\"u\\ote", "rest"}));
  t = read_all("  ", {1});
  ASSERT_EQ(t.ok, 1);
  EXPECT_EQ(t.list, (std::vector<std::string>{""}));
  EXPECT_EQ(read_all("x", {1}).ok, 0);
  EXPECT_EQ(read_all("\"open", {1}).ok, 0);
  EXPECT_EQ(read_all("\"open\\\"", {1}).ok, 0);
  EXPECT_EQ(read_all("\"ends in a backslash\\", {1}).ok, 0);
  // A failed read leaves the position where it was.
  sys_stralloc_rec tok{};
  uint32_t pos = 2;
  EXPECT_EQ(avcp_didl_search_criteria_token_read("a \"b", 1, &pos, &tok), 0);
  EXPECT_EQ(pos, 2u);
  sys_stralloc_free(&tok);
}

TEST(DidlSearchTokens, Precedence)
{
  EXPECT_EQ(avcp_didl_search_criteria_precedence(avcp_didl_search_word_table[AVCP_DIDL_SW_OR]), 1);
  EXPECT_EQ(avcp_didl_search_criteria_precedence("and"), 2);
  EXPECT_EQ(avcp_didl_search_criteria_precedence("="), 0);
  EXPECT_EQ(avcp_didl_search_criteria_precedence("AND"), 0);
}

TEST(DidlSearchParse, Errors)
{
  const char *bad[] = {"",
                       " *",
                       "dc:title",
                       "dc:title =",
                       "dc:title foo \"x\"",
                       "dc:title = x",
                       "dc:title = \"x",
                       "dc:title=\"abc\"",
                       "dc:title EXISTS true",
                       "and dc:title = \"a\"",
                       "dc:title = \"a\" and",
                       "dc:title = \"a\" or or dc:title = \"b\"",
                       "dc:title = \"a\" )",
                       "(dc:title = \"a\" or )",
                       "( )",
                       "()",
                       "@id exists maybe",
                       "@id exists \"true\"",
                       "@id exists"};
  for (const char *t : bad) {
    avcp_didl_search_criteria *c = reinterpret_cast<avcp_didl_search_criteria *>(&c);
    bool parsed_ok = avcp_didl_search_criteria_parse(&c, t);
    // "dc:title =" alone is a relation with an empty operand.
    if (std::string(t) == "dc:title =") {
      EXPECT_TRUE(parsed_ok);
      avcp_didl_search_criteria_free(&c);
      continue;
    }
    EXPECT_FALSE(parsed_ok) << t;
    EXPECT_EQ(c, nullptr) << t;
  }
  for (const char *t : {"*", "(dc:title = \"a\"", "nosuch = \"a\"", "dc:title = \"a\" dc:title = \"b\"",
                        "((@id exists true))", "(dc:title = \"a\") and (@id exists false)"}) {
    criteria c(t);
    EXPECT_EQ(c.ok, 1) << t;
  }
}

TEST(DidlSearchMatch, Basics)
{
  parsed p(doc(item("id=\"1\" refID=\"7\"", "<dc:title>ABC</dc:title><upnp:class>object.item.audioItem.musicTrack"
                                            "</upnp:class><upnp:artist>Xavier</upnp:artist>") +
               item("id=\"2\"", "<dc:title>abd</dc:title><upnp:class>object.itemx</upnp:class>") +
               item("id=\"3\"", "<dc:title>say \"hi\"</dc:title><upnp:class>object.item</upnp:class>"
                                "<upnp:artist>Yann</upnp:artist><upnp:artist>Zoe</upnp:artist>") +
               "<container id=\"4\"><dc:title></dc:title><upnp:class>object.container</upnp:class>"
               "</container>"));
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(matching("*", p), "1,2,3,4");
  EXPECT_EQ(matching("dc:title = \"abc\"", p), "1");
  EXPECT_EQ(matching("  dc:title\t!=\n\"abc\"  ", p), "2,3,4");
  EXPECT_EQ(matching("dc:title < \"abd\"", p), "1,4");
  EXPECT_EQ(matching("dc:title >= \"ABD\"", p), "2,3");
  EXPECT_EQ(matching("dc:title contains \"B\"", p), "1,2");
  EXPECT_EQ(matching("dc:title contains \"\"", p), "1,2,3");
  EXPECT_EQ(matching("dc:title doesNotContain \"b\"", p), "3,4");
  EXPECT_EQ(matching("dc:title = \"say \\\"hi\\\"\"", p), "3");
  EXPECT_EQ(matching("dc:title =", p), "4");
  EXPECT_EQ(matching("upnp:class derivedfrom \"object.item\"", p), "1,3");
  EXPECT_EQ(matching("dc:title derivedfrom \"ABC\"", p), "");
  EXPECT_EQ(matching("upnp:class derivedfrom \"object\"", p), "1,2,3,4");
  EXPECT_EQ(matching("nosuch = \"ABC\"", p), "");
  EXPECT_EQ(matching("nosuch exists false", p), "");
  EXPECT_EQ(matching("dc:title = \"ABC\" dc:title = \"ABC\"", p), "");
}

TEST(DidlSearchMatch, SeveralValuesAndMissingOnes)
{
  parsed p(doc(item("id=\"1\" refID=\"7\"", "<upnp:artist>Xavier</upnp:artist>") + item("id=\"2\"", "") +
               item("id=\"3\"", "<upnp:artist>Yann</upnp:artist><upnp:artist>Zoe</upnp:artist>") +
               item("id=\"4\"", "<upnp:artist>Zed</upnp:artist>")));
  EXPECT_EQ(matching("upnp:artist = \"zoe\"", p), "3");
  EXPECT_EQ(matching("upnp:artist doesNotContain \"x\"", p), "3,4");
  EXPECT_EQ(matching("upnp:artist doesNotContain \"z\"", p), "1");
  EXPECT_EQ(matching("upnp:artist exists true", p), "1,3,4");
  EXPECT_EQ(matching("upnp:artist exists false", p), "2");
  EXPECT_EQ(matching("@refID exists false", p), "2,3,4");
  EXPECT_EQ(matching("@refID exists true", p), "1");
  EXPECT_EQ(matching("@refID doesNotContain \"x\"", p), "1,2,3,4");
  EXPECT_EQ(matching("@refID = \"7\"", p), "1");
  EXPECT_EQ(matching("item@refID = \"7\"", p), "1");
  EXPECT_EQ(matching("container@refID = \"7\"", p), "");
  EXPECT_EQ(matching("container@refID exists false", p), "1,2,3,4");
}

TEST(DidlSearchMatch, Precedence)
{
  // A: dc:title, B: dc:creator, C: upnp:genre, D: upnp:album.
  auto obj = [](int id, bool a, bool b, bool c, bool d) {
    std::string props;
    if (a) props += "<dc:title>a</dc:title>";
    if (b) props += "<dc:creator>b</dc:creator>";
    if (c) props += "<upnp:genre>c</upnp:genre>";
    if (d) props += "<upnp:album>d</upnp:album>";
    return item("id=\"" + std::to_string(id) + "\"", props);
  };
  std::string body;
  for (int m = 0; m < 16; m++) body += obj(m, m & 1, m & 2, m & 4, m & 8);
  parsed p(doc(body));
  ASSERT_EQ(p.size(), 16u);
  auto expect = [&](const std::string &search, bool (*f)(bool, bool, bool, bool)) {
    std::string want;
    for (int m = 0; m < 16; m++)
      if (f(m & 1, m & 2, m & 4, m & 8)) want += (want.empty() ? "" : ",") + std::to_string(m);
    EXPECT_EQ(matching(search, p), want) << search;
  };
  const std::string A = "dc:title = \"a\"", B = "dc:creator = \"b\"", C = "upnp:genre = \"c\"",
                    D = "upnp:album = \"d\"";
  expect(A + " and (" + B + " or " + C + ") or " + D,
         [](bool a, bool b, bool c, bool d) { return (a && (b || c)) || d; });
  expect(A + " or " + B + " and " + C, [](bool a, bool b, bool c, bool) { return a || (b && c); });
  expect(A + " and " + B + " or " + C + " and " + D,
         [](bool a, bool b, bool c, bool d) { return (a && b) || (c && d); });
  expect("(" + A + " or " + B + ") and (" + C + " or " + D + ")",
         [](bool a, bool b, bool c, bool d) { return (a || b) && (c || d); });
  expect("((" + A + " or " + B + ") and " + C + ") or " + D,
         [](bool a, bool b, bool c, bool d) { return ((a || b) && c) || d; });
  // A bracket left open binds what follows it.
  expect(A + " and (" + B + " or " + C, [](bool a, bool b, bool c, bool) { return a && (b || c); });
  expect(A + " or " + B + " or " + C + " or " + D, [](bool a, bool b, bool c, bool d) { return a || b || c || d; });
}

TEST(DidlSearchMatch, IntegersOfAnyLength)
{
  // Sizes beyond 32 bits compare as the numbers they are.
  parsed p(doc(item("id=\"small\"", "<res size=\"50\">u</res><res size=\"99\">v</res>") +
               item("id=\"mid\"", "<res size=\"5\">u</res><res size=\"101\">v</res>") +
               item("id=\"2g\"", "<res size=\"2147483648\">u</res>") +
               item("id=\"3g\"", "<res size=\"3000000000\">u</res>") +
               item("id=\"5g\"", "<res size=\"5000000000\">u</res>") +
               item("id=\"huge\"", "<res size=\"+000123456789012345678901234567890\">u</res>") +
               item("id=\"none\"", "<res>u</res>")));
  EXPECT_EQ(matching("res@size > \"100\"", p), "mid,2g,3g,5g,huge");
  EXPECT_EQ(matching("res@size >= \"3000000000\"", p), "3g,5g,huge");
  EXPECT_EQ(matching("res@size < \"4294967296\"", p), "small,mid,2g,3g");
  EXPECT_EQ(matching("res@size = \"0005000000000\"", p), "5g");
  EXPECT_EQ(matching("res@size > \"123456789012345678901234567889\"", p), "huge");
  EXPECT_EQ(matching("res@size > \"-99999999999999999999\"", p), "small,mid,2g,3g,5g,huge");
  // Not integer text: compared as text, so "5" > "1e3".
  EXPECT_EQ(matching("res@size > \"1e3\"", p), "small,mid,2g,3g,5g");
}

TEST(DidlSearchMatch, RelationEval)
{
  avcp_didl_search_relation r{AVCP_DIDL_NAME(EL_UPNP_ORIGINAL_TRACK_NUMBER), nullptr, "<", const_cast<char *>("10")};
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "9"), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "-11"), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "+10"), 0);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "9x"), 0);  // as text: "9x" > "10"
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, nullptr), 0);
  r.op = "=";
  r.operand = const_cast<char *>("-0");
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "0"), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "+000"), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "+-0"), 0);
  r.operand = const_cast<char *>("-9223372036854775809");
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "-9223372036854775809"), 1);
  r.op = ">";
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "-9223372036854775808"), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "-9223372036854775810"), 0);
  r.op = "doesNotContain";
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, nullptr), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, ""), 1);
  r.op = "contains";
  r.operand = const_cast<char *>("");
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, ""), 0);
  r.op = "exists";
  r.operand = const_cast<char *>("true");
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, ""), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, nullptr), 0);
  r.operand = const_cast<char *>("false");
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, nullptr), 1);
  r.op = "nosuch";
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "x"), 0);
}

TEST(DidlSearchMatch, NoCriteriaMatchesEverything)
{
  parsed p(doc(item("id=\"1\"", "")));
  EXPECT_EQ(avcp_didl_search_criteria_match(nullptr, p[0]), 1);
  avcp_didl_search_criteria *none = nullptr;
  EXPECT_EQ(avcp_didl_search_criteria_match(&none, p[0]), 1);
  avcp_didl_search_criteria_free(&none);
  avcp_didl_search_criteria_free(nullptr);
}

TEST(DidlSearchMatch, DeepNesting)
{
  // Many relations and brackets: the matcher's stack leaves its inline
  // room and the result stays right.
  std::string s, t;
  for (int i = 0; i < 200; i++) s += "(dc:title = \"n" + std::to_string(i) + "\" or ";
  s += "dc:title = \"x\"";
  for (int i = 0; i < 200; i++) s += ")";
  std::string chain = "dc:title = \"x\"";
  for (int i = 0; i < 100; i++) chain = "dc:title exists true and " + chain;
  parsed p(doc(item("id=\"1\"", "<dc:title>x</dc:title>") + item("id=\"2\"", "<dc:title>y</dc:title>") +
               item("id=\"3\"", "<dc:title>n150</dc:title>")));
  EXPECT_EQ(matching(s, p), "1,3");
  EXPECT_EQ(matching(chain, p), "1");
}
