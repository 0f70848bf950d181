// Search criteria: tokenizer, parser and matching.
#include "helper_didl.h"

#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_char.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <string>
#include <vector>

using namespace didl_test;

namespace {

// Ids of the objects that the criteria match, or "<parse failed>".
std::string matching(const std::string &search, const parsed &objects)
{
  avcp_didl_search_criteria *c = nullptr;
  if (!avcp_didl_search_criteria_parse(&c, search.c_str())) return "<parse failed>";
  std::string ids;
  for (size_t i = 0; i < objects.size(); i++)
    if (avcp_didl_search_criteria_match(&c, objects[i])) ids += (ids.empty() ? "" : ",") + attr_of(objects[i], "id");
  avcp_didl_search_criteria_free(&c);
  return ids;
}

// Tokens read in the given modes; "!" marks a failed read.
std::vector<std::string> read_all(const char *text, const std::vector<int> &modes)
{
  std::vector<std::string> list;
  sys_stralloc_rec tok{};
  uint32_t pos = 0;
  for (int quoted : modes) {
    if (!avcp_didl_search_criteria_token_read(text, quoted, &pos, &tok)) {
      list.push_back("!");
      break;
    }
    list.emplace_back(tok.buf);
  }
  sys_stralloc_free(&tok);
  return list;
}

using strings = std::vector<std::string>;

}  // namespace

TEST(DidlSearchTokens, PlainAndQuoted)
{
  for (int c = -128; c < 128; c++)
    EXPECT_EQ(avcp_char_is_space(static_cast<signed char>(c)), c == 32 || (c >= 9 && c <= 13)) << c;
  EXPECT_EQ(read_all(" \t(dc:title=\"x\")and(\n", {0, 0, 0, 0, 0}), (strings{"(", "dc:title=\"x\"", ")", "and(", ""}));
  EXPECT_EQ(read_all("a\"b \"q\\\"u\\\\o\\te\"", {0, 1, 1}), (strings{"a\"b", "q\"u\\ote", ""}));
  for (const char *bad : {"x", "\"open", "\"open\\\"", "\"backslash\\"}) EXPECT_EQ(read_all(bad, {1}), strings{"!"});
}

TEST(DidlSearchParse, Errors)
{
  for (const char *t : {"", " *", "dc:title", "dc:title foo \"x\"", "dc:title = x", "dc:title = \"x",
                        "dc:title=\"abc\"", "dc:title EXISTS true", "and dc:title = \"a\"", "dc:title = \"a\" and",
                        "dc:title = \"a\" or or dc:title = \"b\"", "dc:title = \"a\" )", "(dc:title = \"a\" or )",
                        "()", "@id exists maybe", "@id exists \"true\"", "@id exists"}) {
    avcp_didl_search_criteria *c = nullptr;
    EXPECT_EQ(avcp_didl_search_criteria_parse(&c, t), 0) << t;
    EXPECT_EQ(c, nullptr) << t;
  }
}

TEST(DidlSearchMatch, Operators)
{
  parsed p(doc(item("1", "<dc:title>ABC</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>") +
               item("2", "<dc:title>abd</dc:title><upnp:class>object.itemx</upnp:class>") +
               item("3", "<dc:title>say \"hi\"</dc:title><upnp:class>object.item</upnp:class>") +
               "<container id=\"4\"><dc:title></dc:title><upnp:class>object.container</upnp:class></container>"));
  EXPECT_EQ(matching("*", p), "1,2,3,4");
  EXPECT_EQ(matching("dc:title = \"abc\"", p), "1");
  EXPECT_EQ(matching("dc:title < \"abd\"", p), "1,4");
  EXPECT_EQ(matching("dc:title contains \"B\"", p), "1,2");
  EXPECT_EQ(matching("dc:title contains \"\"", p), "1,2,3");
  EXPECT_EQ(matching("dc:title doesNotContain \"b\"", p), "3,4");
  EXPECT_EQ(matching("dc:title = \"say \\\"hi\\\"\"", p), "3");
  EXPECT_EQ(matching("dc:title =", p), "4");
  EXPECT_EQ(matching("upnp:class derivedfrom \"object.item\"", p), "1,3");
  EXPECT_EQ(matching("dc:title derivedfrom \"ABC\"", p), "");
  EXPECT_EQ(matching("nosuch exists false", p), "");
  EXPECT_EQ(matching("dc:title = \"ABC\" dc:title = \"ABC\"", p), "");
}

TEST(DidlSearchMatch, SeveralValuesAndMissingOnes)
{
  parsed p(doc(item("1", "<upnp:artist>Xavier</upnp:artist>", " refID=\"7\"") + item("2", "") +
               item("3", "<upnp:artist>Yann</upnp:artist><upnp:artist>Zoe</upnp:artist>") +
               item("4", "<upnp:artist>Zed</upnp:artist>")));
  EXPECT_EQ(matching("upnp:artist = \"zoe\"", p), "3");
  EXPECT_EQ(matching("upnp:artist doesNotContain \"x\"", p), "3,4");
  EXPECT_EQ(matching("upnp:artist doesNotContain \"z\"", p), "1");
  EXPECT_EQ(matching("upnp:artist exists true", p), "1,3,4");
  EXPECT_EQ(matching("upnp:artist exists false", p), "2");
  EXPECT_EQ(matching("@refID exists false", p), "2,3,4");
  EXPECT_EQ(matching("@refID doesNotContain \"x\"", p), "1,2,3,4");
  EXPECT_EQ(matching("item@refID = \"7\"", p), "1");
  EXPECT_EQ(matching("container@refID = \"7\"", p), "");
}

TEST(DidlSearchMatch, Precedence)
{
  // Sixteen objects, one for each way of having A (dc:title), B
  // (dc:creator), C (upnp:genre) and D (upnp:album).
  std::string body;
  for (int m = 0; m < 16; m++)
    body += item(std::to_string(m), std::string(m & 1 ? "<dc:title>a</dc:title>" : "") +
                                         (m & 2 ? "<dc:creator>b</dc:creator>" : "") +
                                         (m & 4 ? "<upnp:genre>c</upnp:genre>" : "") +
                                         (m & 8 ? "<upnp:album>d</upnp:album>" : ""));
  parsed p(doc(body));
  auto expect = [&](const std::string &search, bool (*f)(bool, bool, bool, bool)) {
    std::string want;
    for (int m = 0; m < 16; m++)
      if (f(m & 1, m & 2, m & 4, m & 8)) want += (want.empty() ? "" : ",") + std::to_string(m);
    EXPECT_EQ(matching(search, p), want) << search;
  };
  const std::string A = "dc:title = \"a\"", B = "dc:creator = \"b\"", C = "upnp:genre = \"c\"", D = "upnp:album = \"d\"";
  expect(A + " and (" + B + " or " + C + ") or " + D, [](bool a, bool b, bool c, bool d) { return (a && (b || c)) || d; });
  expect(A + " or " + B + " and " + C, [](bool a, bool b, bool c, bool) { return a || (b && c); });
  expect("((" + A + " or " + B + ") and " + C + ") or " + D,
         [](bool a, bool b, bool c, bool d) { return ((a || b) && c) || d; });
  // A bracket left open binds what follows it.
  expect(A + " and (" + B + " or " + C, [](bool a, bool b, bool c, bool) { return a && (b || c); });
  // Beyond the matcher's inline stack.
  std::string deep = D;
  for (int i = 0; i < 40; i++) deep = "(" + C + " or " + deep + ")";
  expect(A + " and " + deep, [](bool a, bool, bool c, bool d) { return a && (c || d); });
}

TEST(DidlSearchMatch, IntegersOfAnyLength)
{
  // Sizes beyond 32 bits compare as the numbers they are.
  parsed p(doc(item("small", "<res size=\"50\">u</res><res size=\"99\">v</res>") +
               item("mid", "<res size=\"5\">u</res><res size=\"101\">v</res>") +
               item("2g", "<res size=\"2147483648\">u</res>") + item("5g", "<res size=\"5000000000\">u</res>") +
               item("huge", "<res size=\"+000123456789012345678901234567890\">u</res>") + item("none", "<res>u</res>")));
  EXPECT_EQ(matching("res@size > \"100\"", p), "mid,2g,5g,huge");
  EXPECT_EQ(matching("res@size < \"4294967296\"", p), "small,mid,2g");
  EXPECT_EQ(matching("res@size = \"0005000000000\"", p), "5g");
  EXPECT_EQ(matching("res@size > \"123456789012345678901234567889\"", p), "huge");
  EXPECT_EQ(matching("res@size > \"-99999999999999999999\"", p), "small,mid,2g,5g,huge");
  // Not integer text: compared as text, so "5" > "1e3" > "+000...".
  EXPECT_EQ(matching("res@size > \"1e3\"", p), "small,mid,2g,5g");
  avcp_didl_search_relation r{AVCP_DIDL_NAME(EL_DC_TITLE), nullptr, "=", const_cast<char *>("-0")};
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "+000"), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "+-0"), 0);
  r.op = ">";
  r.operand = const_cast<char *>("-9223372036854775809");
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "-9223372036854775808"), 1);
  EXPECT_EQ(avcp_didl_search_criteria_relation_eval(&r, "-9223372036854775810"), 0);
}
