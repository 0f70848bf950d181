#include <gtest/gtest.h>

#include <tarvo_util/xml.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string str(const sys_stralloc_rec &sa) { return std::string(sa.buf ? sa.buf : "", sa.len); }

struct sa_holder {
  sys_stralloc_rec sa{};
  ~sa_holder() { sys_stralloc_free(&sa); }
};

TEST(XmlGen, WritersProduceExactBytes)
{
  sa_holder h;
  ASSERT_TRUE(xml_gen_element_append(&h.sa, "a", ""));
  ASSERT_TRUE(xml_gen_element_append(&h.sa, "a", nullptr));
  ASSERT_TRUE(xml_gen_element_append(&h.sa, "t", "x\"y<z>&'"));
  ASSERT_TRUE(xml_gen_attribute_append(&h.sa, "k", "a<b&'c'"));
  EXPECT_EQ(str(h.sa), "<a></a>\r\n<a></a>\r\n<t>x&quot;y&lt;z&gt;&amp;&apos;</t>\r\n"
                       " k=\"a&lt;b&amp;&apos;c&apos;\"");
}

TEST(XmlGen, TrimTurnsLineBreaksIntoBlanksAndCutsBothEnds)
{
  sa_holder h;
  sys_stralloc_copys(&h.sa, "\r\n  x\ny \t");
  xml_gen_text_trim(&h.sa);
  EXPECT_EQ(str(h.sa), "x y");
  sys_stralloc_copys(&h.sa, " \t\r\n\v\f");
  xml_gen_text_trim(&h.sa);
  EXPECT_EQ(h.sa.len, 0u);
}

TEST(XmlGen, LegalValueTable)
{
  EXPECT_TRUE(xml_gen_is_legal_value(""));
  EXPECT_FALSE(xml_gen_is_legal_value("a\tb"));
  EXPECT_TRUE(xml_gen_is_legal_text("a\tb\r\n<p>\xC3\xA9</p>\n"));
  EXPECT_FALSE(xml_gen_is_legal_text("a\x01b"));
  EXPECT_FALSE(xml_gen_is_legal_text("\xC3"));
  EXPECT_TRUE(xml_gen_is_legal_value("\x7f"));
  EXPECT_TRUE(xml_gen_is_legal_value("\xC3\xA9"));
  EXPECT_FALSE(xml_gen_is_legal_value("\xC0\x80"));
  EXPECT_TRUE(xml_gen_is_legal_value("\xE0\xA4\x85"));
  EXPECT_FALSE(xml_gen_is_legal_value("\xE0\x80\x80"));
  EXPECT_TRUE(xml_gen_is_legal_value("\xF0\x9F\x98\x80"));
  EXPECT_FALSE(xml_gen_is_legal_value("\xF4\x90\x80\x80"));
  EXPECT_FALSE(xml_gen_is_legal_value("ab\xC3"));
  EXPECT_FALSE(xml_gen_is_legal_value("\xE3\x81"));
  EXPECT_FALSE(xml_gen_is_legal_value("\xF8\x88\x80\x80\x80"));
  // Surrogates and the two non-characters that no XML document may hold.
  EXPECT_FALSE(xml_gen_is_legal_value("\xED\xA0\x80"));
  EXPECT_FALSE(xml_gen_is_legal_value("\xED\xBF\xBF"));
  EXPECT_TRUE(xml_gen_is_legal_value("\xED\x9F\xBF"));
  EXPECT_FALSE(xml_gen_is_legal_value("\xEF\xBF\xBE"));
  EXPECT_FALSE(xml_gen_is_legal_value("\xEF\xBF\xBF"));
  EXPECT_TRUE(xml_gen_is_legal_value("\xEF\xBF\xBD"));
}

// Escaping sizes its output once: every entity and the text between them,
// appended to what the buffer holds, across the buffer's growth.
TEST(XmlGen, EscapedTextIsWhole)
{
  sa_holder h;
  ASSERT_TRUE(sys_stralloc_copys(&h.sa, "<a>"));
  std::string text, want = "<a>";
  for (int i = 0; i < 2000; i++) {
    text += "x<y>&\"z'";
    want += "x&lt;y&gt;&amp;&quot;z&apos;";
  }
  ASSERT_TRUE(xml_gen_encode_append(&h.sa, text.c_str()));
  EXPECT_EQ(std::string(h.sa.buf, h.sa.len), want);
  // A buffer with room for the worst case is written in one pass, to the
  // same bytes.
  sa_holder roomy;
  ASSERT_TRUE(sys_stralloc_ready(&roomy.sa, uint32_t(text.size() * 7 + 64)));
  ASSERT_TRUE(sys_stralloc_copys(&roomy.sa, "<a>"));
  ASSERT_TRUE(xml_gen_encode_append(&roomy.sa, text.c_str()));
  EXPECT_EQ(std::string(roomy.sa.buf, roomy.sa.len), want);
  // A source inside the buffer itself is escaped as it was.
  ASSERT_TRUE(xml_gen_encode_appendb(&roomy.sa, roomy.sa.buf, 4));
  EXPECT_EQ(std::string(roomy.sa.buf + want.size(), roomy.sa.len - want.size()), "&lt;a&gt;x");
}

// Escaped twice in one pass: the bytes of escaping the escape, with room
// for the worst case and without, and from inside the buffer.
TEST(XmlGen, TextEscapedTwiceIsTheEscapeOfTheEscape)
{
  std::string text;
  for (int i = 0; i < 700; i++) text += "x<y>&\"z' \xC3\xA9&amp;";
  sa_holder once, want;
  ASSERT_TRUE(xml_gen_encode_append(&once.sa, text.c_str()));
  ASSERT_TRUE(sys_stralloc_copys(&want.sa, "<a>"));
  ASSERT_TRUE(xml_gen_encode_appendb(&want.sa, once.sa.buf, once.sa.len));
  const std::string expected(want.sa.buf, want.sa.len);
  const std::string head = "<a>x&amp;lt;y&amp;gt;&amp;amp;&amp;quot;z&amp;apos; \xC3\xA9&amp;amp;amp;x";
  EXPECT_EQ(expected.substr(0, head.size()), head);

  sa_holder tight, roomy;
  ASSERT_TRUE(sys_stralloc_copys(&tight.sa, "<a>"));
  ASSERT_TRUE(xml_gen_encode_twice_appendb(&tight.sa, text.data(), uint32_t(text.size())));
  EXPECT_EQ(std::string(tight.sa.buf, tight.sa.len), expected);
  ASSERT_TRUE(sys_stralloc_ready(&roomy.sa, uint32_t(text.size() * 11 + 64)));
  ASSERT_TRUE(sys_stralloc_copys(&roomy.sa, "<a>"));
  ASSERT_TRUE(xml_gen_encode_twice_appendb(&roomy.sa, text.data(), uint32_t(text.size())));
  EXPECT_EQ(std::string(roomy.sa.buf, roomy.sa.len), expected);
  ASSERT_TRUE(xml_gen_encode_twice_appendb(&roomy.sa, roomy.sa.buf, 4));
  EXPECT_EQ(std::string(roomy.sa.buf + expected.size(), roomy.sa.len - expected.size()), "&amp;lt;a&amp;gt;x");
}

// Whatever the check lets through must be readable again as element text:
// the content database stores values this way.
bool expat_accepts_text(const std::string &value)
{
  sa_holder h;
  sys_stralloc_cats(&h.sa, "<a>");
  xml_gen_encode_append(&h.sa, value.c_str());
  sys_stralloc_cats(&h.sa, "</a>");
  xml_parse_rec rec;
  if (!xml_parse_create(&rec, nullptr)) return false;
  int ok = xml_parse_feed(&rec, h.sa.buf, h.sa.len, 1);
  xml_parse_free(&rec);
  return ok;
}

std::string utf8(uint32_t cp)
{
  std::string s;
  if (cp < 0x80) {
    s += char(cp);
  } else if (cp < 0x800) {
    s += char(0xC0 | cp >> 6);
    s += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += char(0xE0 | cp >> 12);
    s += char(0x80 | (cp >> 6 & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  } else {
    s += char(0xF0 | cp >> 18);
    s += char(0x80 | (cp >> 12 & 0x3F));
    s += char(0x80 | (cp >> 6 & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  }
  return s;
}

TEST(XmlGen, LegalValueAgreesWithTheParserOnEveryCodePoint)
{
  // Every code point from 0x20 up, surrogates included (encoded as if they
  // were characters); the parser is the judge.
  auto edge = [](uint32_t cp) {
    return cp < 0x900 || (cp >= 0xD700 && cp < 0xE100) || (cp >= 0xFF00 && cp < 0x10100) || cp >= 0x10FF00;
  };
  for (uint32_t cp = 0x20; cp <= 0x10FFFF; cp += edge(cp) ? 1 : 97) {
    std::string s = utf8(cp);
    ASSERT_EQ(xml_gen_is_legal_value(s.c_str()) == 1, expat_accepts_text(s)) << std::hex << cp;
  }
}

// A name with every byte XML cannot hold crosses as an XML value and
// comes back as its bytes; legal names, and forms that stand for legal or
// broken bytes, are taken as they are.
TEST(XmlGen, FileNamesXmlCannotHoldCrossAsTheirBytes)
{
  std::string name = "/m/";
  for (int c = 1; c < 256; c++) name += char(c);
  sa_holder h;
  ASSERT_TRUE(xml_gen_filename_append(&h.sa, name.c_str()));
  std::string form = str(h.sa);
  EXPECT_EQ(form.substr(0, 8), "%/m/%01%");
  EXPECT_TRUE(xml_gen_is_legal_value(form.c_str())) << form;
  EXPECT_TRUE(expat_accepts_text(form));
  std::vector<char> out(form.size() + 1);
  ASSERT_TRUE(xml_filename_decode(form.c_str(), out.data()));
  EXPECT_EQ(std::string(out.data()), name);

  h.sa.len = 0;
  ASSERT_TRUE(xml_gen_filename_append(&h.sa, "/m/caf\xC3\xA9 100%.mp3"));
  EXPECT_EQ(str(h.sa), "/m/caf\xC3\xA9 100%.mp3");
  ASSERT_TRUE(xml_filename_decode("%/m/caf%e9 100%25", out.data()));
  EXPECT_EQ(std::string(out.data()), "/m/caf\xE9 100%");
  for (const char *kept : {"/m/caf%E9", "%/m/a%41", "%/m/caf%C3%A9", "%/m/a%00%E9", "%/m/%E9%4", "%/m/%E9%G1", "%"})
    EXPECT_FALSE(xml_filename_decode(kept, out.data())) << kept;
}

struct events {
  std::vector<std::string> log;
  static std::string name(const xml_name_rec *n) { return std::string(n->ns ? n->ns : "-") + "|" + n->local; }
  static void start(const xml_name_rec *n, const xml_name_rec *const *an, const char *const *av, void *user)
  {
    auto *e = static_cast<events *>(user);
    std::string s = "start " + name(n);
    for (int i = 0; an[i]; i++) s += " " + name(an[i]) + "=" + av[i];
    e->log.push_back(s);
  }
  static void end(const xml_name_rec *n, void *user) { static_cast<events *>(user)->log.push_back("end " + name(n)); }
  static void text(const char *d, uint32_t len, void *user)
  {
    auto *e = static_cast<events *>(user);
    if (!e->log.empty() && e->log.back().rfind("text ", 0) == 0)
      e->log.back().append(d, len);
    else
      e->log.push_back("text " + std::string(d, len));
  }
  static void cs(void *user) { static_cast<events *>(user)->log.push_back("cdata"); }
  static void ce(void *user) { static_cast<events *>(user)->log.push_back("/cdata"); }
  static void ns(const char *prefix, const char *uri, void *user)
  {
    static_cast<events *>(user)->log.push_back(std::string("ns ") + (prefix ? prefix : "-") + "=" + uri);
  }
  static void nse(const char *prefix, void *user)
  {
    static_cast<events *>(user)->log.push_back(std::string("/ns ") + (prefix ? prefix : "-"));
  }
};

TEST(XmlParse, NamesArriveSplitAndChunksJoin)
{
  const std::string doc = "<r xmlns:p=\"urn:x\" a=\"1\"><p:item p:k=\"v\">A<![CDATA[<b>]]></p:item>"
                          "<plain xmlns=\"urn:d\"/></r>";
  events e;
  xml_parse_rec rec;
  ASSERT_TRUE(xml_parse_create(&rec, &e));
  xml_parse_set_element_handler(&rec, events::start, events::end);
  xml_parse_set_text_handler(&rec, events::text);
  xml_parse_set_cdata_handler(&rec, events::cs, events::ce);
  xml_parse_set_namespace_handler(&rec, events::ns, events::nse);
  for (size_t i = 0; i < doc.size(); i += 3)
    ASSERT_TRUE(xml_parse_feed(&rec, doc.data() + i, uint32_t(std::min<size_t>(3, doc.size() - i)), 0));
  ASSERT_TRUE(xml_parse_feed(&rec, "", 0, 1));
  xml_parse_free(&rec);
  std::vector<std::string> want = {"ns p=urn:x",       "start -|r -|a=1", "start urn:x|item urn:x|k=v",
                                   "text A",             "cdata",           "text <b>",
                                   "/cdata",             "end urn:x|item", "ns -=urn:d",
                                   "start urn:d|plain", "end urn:d|plain", "/ns -",
                                   "end -|r",            "/ns p"};
  EXPECT_EQ(e.log, want);
}

TEST(XmlParse, WithoutNamespacesPrefixesStayInTheNameAndUnsetHandlersAreSilent)
{
  events e;
  xml_parse_rec rec;
  ASSERT_TRUE(xml_parse_create_nonamespace(&rec, &e));
  xml_parse_set_element_handler(&rec, events::start, nullptr);
  const char *doc = "<u:a xmlns:u=\"urn:u\">t</u:a>";
  ASSERT_TRUE(xml_parse_feed(&rec, doc, uint32_t(strlen(doc)), 1));
  xml_parse_free(&rec);
  EXPECT_EQ(e.log, (std::vector<std::string>{"start -|u:a -|xmlns:u=urn:u"}));

  ASSERT_TRUE(xml_parse_create(&rec, &e));
  EXPECT_FALSE(xml_parse_feed(&rec, "<r xmlns:p=\"urn:a|b\"/>", 22, 1));
  xml_parse_free(&rec);

  ASSERT_TRUE(xml_parse_create(&rec, &e));
  EXPECT_FALSE(xml_parse_feed(&rec, "<a><b></a>", 10, 1));
  EXPECT_EQ(xml_parse_get_error_code(&rec), 7);  // mismatched tag
  xml_parse_free(&rec);
}

std::string translate(const char *xml, std::vector<const char *> names, std::vector<const char *> values,
                      int escape, bool *ok)
{
  names.push_back(nullptr);
  values.push_back(nullptr);
  char *out = nullptr;
  *ok = xml_translate_value(xml, const_cast<char *const *>(names.data()), const_cast<char *const *>(values.data()),
                            escape, &out);
  std::string s = out ? out : "";
  sys_alloc_free(out);
  return s;
}

TEST(XmlTranslate, ReplacesListedValuesAndRewritesTheRest)
{
  bool ok;
  EXPECT_EQ(translate("<root><friendlyName>A&amp;B</friendlyName><x/></root>", {"friendlyName"}, {"C<D"}, 1, &ok),
            "<root><friendlyName>C&lt;D</friendlyName><x></x></root>");
  EXPECT_TRUE(ok);
  EXPECT_EQ(translate("<?xml version=\"1.0\"?>\n<!-- c --><r a='&lt;1'><n/><m>&#65;&gt;</m></r>", {"m", "n"},
                      {"<b/>", "v"}, 0, &ok),
            "<?xml version=\"1.0\"?>\n<!-- c --><r a=\"&lt;1\"><n>v</n><m><b/></m></r>");
  EXPECT_TRUE(ok);
  translate("<a><b></a>", {"a"}, {"x"}, 1, &ok);
  EXPECT_FALSE(ok);
  // An entity is written out expanded; one that expands to broken markup
  // makes the document malformed.
  EXPECT_EQ(translate("<!DOCTYPE r [<!ENTITY e \"<i>1</i>\">]><r>&e;</r>", {"x"}, {"y"}, 1, &ok),
            "<!DOCTYPE r [<!ENTITY e \"<i>1</i>\">]><r><i>1</i></r>");
  EXPECT_TRUE(ok);
  translate("<!DOCTYPE r [<!ENTITY e \"x/><d><v\">]><r><d>&e;</d></r>", {"x"}, {"y"}, 1, &ok);
  EXPECT_FALSE(ok);
}

TEST(XmlTranslate, KeepsCdataContentRaw)
{
  bool ok;
  EXPECT_EQ(translate("<r><d><![CDATA[a<b & c]]></d></r>", {"x"}, {"y"}, 1, &ok), "<r><d><![CDATA[a<b & c]]></d></r>");
  EXPECT_TRUE(ok);
}

}  // namespace
