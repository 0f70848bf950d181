// The database file's own reader against expat: for what it reads it must
// give the objects expat gives, and what it leaves to expat must come out
// of the load as expat reads it, failures included.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "../../server/src/content_db_impl.h"
#include "didl_test.h"
#include "tarvo_alloc_fail.h"

namespace {

struct outcome {
  bool ok = false;
  std::string objects;
  bool operator==(const outcome &) const = default;
};

std::ostream &operator<<(std::ostream &os, const outcome &o) { return os << (o.ok ? "ok\n" : "failed\n") << o.objects; }

outcome taken(bool ok, sys_ptralloc_rec *objects)
{
  outcome o{ok, ok ? didl_test::dump(*objects) : ""};
  if (ok) didl_object_array_free(objects);
  return o;
}

outcome read(const std::string &text, didl::text_reader reader)
{
  sys_ptralloc_rec objects{};
  return taken(didl::parse_text(text.data(), text.size(), false, reader, &objects), &objects);
}

outcome load(const std::string &text)
{
  sys_ptralloc_rec objects{};
  return taken(cdb::file_objects(text.data(), text.size(), true, &objects), &objects);
}

// The reader reads text (or leaves it to expat, as fast says), and the
// load gives what expat gives.
void same(const std::string &text, bool fast)
{
  outcome own = read(text, cdb::file_text_read), expat = read(text, nullptr);
  EXPECT_EQ(own.ok, fast) << text;
  if (own.ok) {
    EXPECT_EQ(own, expat) << text;
  }
  EXPECT_EQ(load(text), expat) << text;
}

const std::string kHead = didl_test::doc("").substr(0, didl_test::doc("").find("</DIDL-Lite>"));
std::string doc(const std::string &body) { return kHead + body + "</DIDL-Lite>\r\n"; }

// Values with every escape the saver writes, blanks and characters of each
// UTF-8 length.
std::string value(std::mt19937 &rng)
{
  static const char *const pieces[] = {"a",
                                       "Zz",
                                       " ",
                                       "&",
                                       "<",
                                       ">",
                                       "\"",
                                       "'",
                                       "1,2",
                                       "\xC3\xA9",
                                       "\xE2\x82\xAC",
                                       "\xF0\x9F\x8E\xB5",
                                       "]]",
                                       "/path/x.mp3",
                                       "http-get:*:audio/mpeg:*"};
  std::string v;
  for (size_t n = rng() % 8; n; n--) v += pieces[rng() % std::size(pieces)];
  return v;
}

// A database as the saver writes it.
std::string saved_database(unsigned seed, int objects)
{
  std::mt19937 rng(seed);
  sys_stralloc_rec out{};
  didl_xml_begin(&out, 1);
  for (int i = 0; i < objects; i++) {
    auto *o = static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object)));
    o->element = i % 3 ? DIDL_NAME(EL_ITEM) : DIDL_NAME(EL_CONTAINER);
    didl_attribute_add(&o->attributes, DIDL_NAME(AT_ID), std::to_string(i).c_str());
    didl_attribute_add(&o->attributes, DIDL_NAME(AT_PARENT_ID), value(rng).c_str());
    if (rng() % 2) didl_attribute_add(&o->attributes, DIDL_NAME(AT_TARVO_CHILDREN), "3,4,Container:A");
    didl_property *p = nullptr;
    didl_property_add(o, DIDL_NAME(EL_DC_TITLE), value(rng).c_str(), nullptr);
    didl_property_add(o, DIDL_NAME(EL_UPNP_CLASS), "object.item.audioItem", nullptr);
    didl_property_add(o, DIDL_NAME(EL_RES), value(rng).c_str(), &p);
    didl_attribute_add(&p->attributes, DIDL_NAME(AT_PROTOCOL_INFO), value(rng).c_str());
    didl_attribute_add(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME), value(rng).c_str());
    EXPECT_TRUE(didl_write(&out, o, nullptr));
    didl_object_free(o);
  }
  didl_xml_end(&out);
  return didl_test::take(&out);
}

TEST(ContentDbRead, WhatTheSaverWritesIsReadAsExpatReadsIt)
{
  for (unsigned seed = 1; seed <= 20; seed++) {
    std::string text = saved_database(seed, 30);
    same(text, true);
    // The same with bare line feeds, a declaration and a byte order mark.
    std::string lf;
    for (char c : text)
      if (c != '\r') lf += c;
    same(lf, true);
    same("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + text, true);
  }
}

TEST(ContentDbRead, ReferencesQuotesBlanksAndLineEnds)
{
  const std::string cases[] = {
      // entities and character references, in values and texts
      "<item id=\"&lt;&gt;&amp;&quot;&apos;\"><dc:title>&lt;a&gt; &amp; &quot;b&apos;</dc:title></item>",
      "<item id=\"&#65;&#x42;&#x00063;&#128512;&#xE9;\"><dc:title>&#9;x&#10;y&#13;z&#x1F3B5;</dc:title></item>",
      "<item id='1' parentID=\"&#9;a&#10;b&#13;\"><dc:title>a\tb</dc:title></item>",
      // blanks and line ends inside values and texts, lone CR, CR LF
      "<item id=\"a\tb\nc\r\nd\re\"><dc:title>\r\n  one\r\ntwo\rthree\n\n </dc:title></item>",
      // odd quoting and blanks in tags; empty elements
      "<item\r\n\tid = '1\"'  parentID\n=\n\"0'\" ><dc:title >x</dc:title ><upnp:class/></item >",
      "<item id=\"1\"/><container id=\"2\" />",
      // unicode, and ]] that does not end a section
      "<item id=\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5\xEF\xBF\xBD\"><dc:title>]] ] ]> \xE6\x97\xA5</dc:title></item>",
      // the same local name in two namespaces, and mixed content the
      // parser passes over
      "<item id=\"1\" dc:id=\"2\" tarvo:private=\"1\" dlna:profileID=\"x\">text <dc:title>t</dc:title> more</item>",
  };
  for (const std::string &c : cases) same(doc(c), true);
  // Prefixes of the reader's own choosing, a default namespace left out,
  // declarations in single quotes.
  same(
      "<d:DIDL-Lite xmlns:d='urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/' "
      "xmlns:t=\"http://purl.org/dc/elements/1.1/\"><d:item id=\"1\"><t:title>x</t:title></d:item></d:DIDL-Lite>",
      true);
  same("<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" a=\"1\"><item id=\"1\"/></DIDL-Lite>", true);
  same(
      "<?xml version='1.0' encoding='utf-8' standalone='yes' ?>\r\n<DIDL-Lite "
      "xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"><item id=\"1\"/></DIDL-Lite>\r\n\t \r\n",
      true);
}

TEST(ContentDbRead, WhatTheReaderLeavesToExpatLoadsAsBefore)
{
  const std::string item = "<item id=\"1\"><dc:title>x</dc:title></item>";
  const std::string cases[] = {
      doc("<!-- a comment -->" + item),
      doc("<?pi data?>" + item),
      doc("<item id=\"1\"><dc:title><![CDATA[<b>]]></dc:title></item>"),
      "<!DOCTYPE DIDL-Lite>" + doc(item),
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + doc("<item id=\"\xE9\"/>"),
      "<?xml version=\"1.0\"?><!-- c -->" + doc(item),
      doc(item) + "<!-- after -->",
      // declarations below the root, foreign namespaces, xml:lang
      doc("<item id=\"1\" xmlns:x=\"urn:x\" x:a=\"1\"><dc:title>x</dc:title></item>"),
      doc("<item id=\"1\"><dc:title xml:lang=\"en\">x</dc:title></item>"),
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:x=\"urn:x\"><item "
      "id=\"1\"/></DIDL-Lite>",
  };
  for (const std::string &c : cases) same(c, false);
}

TEST(ContentDbRead, MalformedFilesFailAsWithExpat)
{
  const std::string cases[] = {
      doc("<item id=\"1\"><dc:title>x</upnp:class></item>"),
      doc("<item id=\"1\" id=\"2\"/>"),
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:a=\"http://purl.org/dc/elements/1.1/\" "
      "xmlns:b=\"http://purl.org/dc/elements/1.1/\"><item a:x=\"1\" b:x=\"2\"/></DIDL-Lite>",
      doc("<item id=\"1\"parentID=\"2\"/>"),
      doc("<item id=\"<\"/>"),
      doc("<item id=\"1\"><dc:title>&nbsp;</dc:title></item>"),
      doc("<item id=\"&#0;\"/>"),
      doc("<item id=\"&#xD800;\"/>"),
      doc("<item id=\"&#X41;\"/>"),
      doc("<item id=\"&#x110000;\"/>"),
      doc("<item id=\"&#;\"/>"),
      doc("<item id=\"a&amp\"/>"),
      doc("<item id=\"\xC0\x80\"/>"),
      doc("<item id=\"\xED\xA0\x80\"/>"),
      doc("<item id=\"\xEF\xBF\xBE\"/>"),
      doc("<item id=\"\xF5\x80\x80\x80\"/>"),
      doc("<item id=\"\xC3\"/>"),
      doc("<item><dc:title>a\xE2\x82</dc:title></item>"),
      doc("<item id=\"a\x01\"/>"),
      doc(std::string("<item id=\"a\0b\"/>", 17)),
      doc("<item><dc:title>a]]>b</dc:title></item>"),
      doc("<item><dc:title>x</dc:title>"),
      doc("<item/>") + "junk",
      doc("<item/>") + "<DIDL-Lite/>",
      doc("<item id=\"1/>"),
      doc("<item id=1/>"),
      doc("<1item/>"),
      doc("<item/><item><item/></item>"),
      doc("<upnp:unknownThing/>"),
      "  <?xml version=\"1.0\"?>" + doc("<item/>"),
      "<?xml encoding=\"UTF-8\"?>" + doc("<item/>"),
      "<?xml version=\"1.0\" version=\"1.0\"?>" + doc("<item/>"),
      "<?xml version=\"1&#46;0\"?>" + doc("<item/>"),
      "",
      "<DIDL-Lite/>",
      "<DIDL-Lite xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><item/></DIDL-Lite>",
  };
  for (const std::string &c : cases) {
    SCOPED_TRACE(c);
    EXPECT_FALSE(read(c, cdb::file_text_read).ok);
    EXPECT_EQ(load(c), read(c, nullptr));
  }
}

// Names of a tag were compared pair by pair: a hand-made tag of 200,000
// attributes held the load for minutes.  Whatever they are, the outcome
// is expat's, well within a liveness bound.
TEST(ContentDbRead, ATagOfManyAttributesIsReadAsExpatReadsItWithoutStalling)
{
  std::string distinct, repeated = " id=\"1\"";
  for (int i = 0; i < 200000; i++) distinct += " a" + std::to_string(i) + "=\"\"";
  for (int i = 0; i < 20; i++) repeated += " parentID=\"" + std::to_string(i) + "\"" + (i == 19 ? " id=\"2\"" : "");
  auto t0 = std::chrono::steady_clock::now();
  for (const std::string &attributes : {distinct, distinct + " a7=\"\"", repeated}) {
    std::string text = doc("<item" + attributes + "><dc:title>x</dc:title></item>");
    EXPECT_FALSE(read(text, cdb::file_text_read).ok);
    EXPECT_EQ(load(text), read(text, nullptr));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
}

TEST(ContentDbRead, EachAllocationFailingInTurn)
{
  const std::string text = saved_database(7, 4);
  const outcome want = read(text, nullptr);
  alloc_fail::every_failure(
      "database file",
      [&] {
        sys_ptralloc_rec objects{};
        bool ok = didl::parse_text(text.data(), text.size(), false, cdb::file_text_read, &objects);
        alloc_fail::fail_at = 0;  // the comparison's own allocations
        if (!ok) return objects.len == 0 ? 0 : -1;
        return taken(true, &objects) == want ? 1 : -1;
      },
      true);
}

}  // namespace
