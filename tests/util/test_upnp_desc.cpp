#include <gtest/gtest.h>

#include <tarvo_util/upnp_desc.h>

#include <string>
#include <vector>

namespace {

std::string device(const std::string &udn, const std::string &inner, bool complete = true)
{
  return "<device><deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>"
         "<friendlyName>" + udn + " &amp; co</friendlyName><manufacturer>M</manufacturer>" +
         (complete ? "<modelName>N</modelName>" : "") + "<UDN>\n  " + udn + "\n</UDN>" + inner + "</device>";
}

std::string root(const std::string &inner)
{
  return "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\" "
         "xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\"><specVersion><major>1</major><minor>0</minor>"
         "</specVersion>" + inner + "</root>";
}

struct parsed {
  upnp_desc_rec *d = nullptr;
  bool ok;
  explicit parsed(const std::string &xml) { ok = upnp_desc_parse(xml.c_str(), &d); }
  ~parsed() { upnp_desc_free(d); }
  std::vector<std::string> udns() const
  {
    std::vector<std::string> v;
    for (upnp_desc_device_rec **p = d ? d->devices : nullptr; p && *p; p++) v.push_back((*p)->UDN);
    return v;
  }
};

std::vector<std::string> list(sys_str_list l)
{
  std::vector<std::string> v;
  for (; l && *l; l++) v.push_back(*l);
  return v;
}

const std::string kIcon = "<icon><mimetype>image/png</mimetype><width>48</width><height>48</height>"
                          "<depth>24</depth><url>/icon.png</url></icon>";
const std::string kService = "<service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType>"
                             "<serviceId>urn:upnp-org:serviceId:ContentDirectory</serviceId>"
                             "<SCPDURL>/cds.xml</SCPDURL><controlURL>cds/control</controlURL>"
                             "<eventSubURL>cds/event</eventSubURL></service>";

TEST(UpnpDesc, TreeIsFlattenedInDocumentOrder)
{
  std::string inner3 = device("uuid:3", "<dlna:X_DLNADOC>DMS-1.50</dlna:X_DLNADOC>");
  std::string inner2 = device("uuid:2", "<deviceList>" + inner3 + "</deviceList>");
  parsed p(root("<URLBase> http://h:1/ </URLBase>" +
                device("uuid:1", "<dlna:X_DLNADOC>A</dlna:X_DLNADOC><iconList>" + kIcon +
                                     "</iconList><serviceList>" + kService + "</serviceList><deviceList>" +
                                     inner2 + device("uuid:4", "") +
                                     "</deviceList><dlna:X_DLNADOC>B</dlna:X_DLNADOC>"
                                     "<dlna:X_DLNACAP>av-upload</dlna:X_DLNACAP><dlna:Other>x</dlna:Other>"
                                     "<modelName xmlns=\"urn:other\">hidden</modelName>")));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.udns(), (std::vector<std::string>{"uuid:1", "uuid:2", "uuid:3", "uuid:4"}));
  EXPECT_STREQ(p.d->url_base, "http://h:1/");
  upnp_desc_device_rec *d = p.d->devices[0];
  EXPECT_STREQ(d->friendlyName, "uuid:1 & co");
  EXPECT_STREQ(d->modelName, "N");
  EXPECT_EQ(list(d->X_DLNADOC), (std::vector<std::string>{"A", "B"}));
  EXPECT_STREQ(d->X_DLNACAP, "av-upload");
  ASSERT_NE(d->icons, nullptr);
  EXPECT_STREQ(d->icons[0]->url, "/icon.png");
  EXPECT_EQ(d->icons[1], nullptr);
  ASSERT_NE(d->services, nullptr);
  EXPECT_STREQ(d->services[0]->controlURL, "cds/control");
  EXPECT_EQ(p.d->devices[1]->X_DLNADOC, nullptr);
  EXPECT_EQ(list(p.d->devices[2]->X_DLNADOC), (std::vector<std::string>{"DMS-1.50"}));
  EXPECT_EQ(p.d->devices[1]->icons, nullptr);
}

TEST(UpnpDesc, IncompleteDevicesAreDropped)
{
  // The root lacks modelName: alone it fails, with a complete embedded
  // device only that one is kept.
  EXPECT_FALSE(parsed(root(device("uuid:1", "", false))).ok);
  parsed p(root(device("uuid:1", "<deviceList>" + device("uuid:2", "") + "</deviceList>", false)));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.udns(), (std::vector<std::string>{"uuid:2"}));

  std::string no_depth = kIcon;
  no_depth.erase(no_depth.find("<depth>"), std::string("<depth>24</depth>").size());
  parsed q(root(device("uuid:1", "<iconList>" + no_depth + "</iconList><deviceList>" + device("uuid:2", "") +
                                     "</deviceList>")));
  ASSERT_TRUE(q.ok);
  EXPECT_EQ(q.udns(), (std::vector<std::string>{"uuid:2"}));
}

TEST(UpnpDesc, MalformedDocumentsFail)
{
  const std::string bad[] = {
      "<root><device/></root>",
      root(device("uuid:1", "") + device("uuid:2", "")),
      "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">" + device("uuid:1", ""),
      root(""),
  };
  for (const std::string &doc : bad) {
    upnp_desc_rec *d = reinterpret_cast<upnp_desc_rec *>(1);
    EXPECT_FALSE(upnp_desc_parse(doc.c_str(), &d)) << doc;
    EXPECT_EQ(d, nullptr);
  }
}

TEST(UpnpDesc, WrittenBackByteExactWithEmbeddedDevicesOneLevelDeep)
{
  std::string inner3 = device("uuid:3", "");
  std::string inner2 = device("uuid:2", "<deviceList>" + inner3 + "</deviceList>");
  parsed p(root("<URLBase>http://h/?a&amp;b</URLBase>" +
                device("uuid:1", "<presentationURL>/p</presentationURL><UPC>9</UPC><iconList>" + kIcon +
                                     "</iconList><serviceList>" + kService + "</serviceList><deviceList>" +
                                     inner2 + "</deviceList>")));
  ASSERT_TRUE(p.ok);
  char *xml = nullptr;
  ASSERT_TRUE(upnp_desc_xml(p.d, &xml));
  auto dev = [](const char *udn) {
    return std::string("<deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>\r\n"
                       "<friendlyName>") + udn + " &amp; co</friendlyName>\r\n<manufacturer>M</manufacturer>\r\n"
                       "<modelName>N</modelName>\r\n<UDN>" + udn + "</UDN>\r\n";
  };
  std::string want = "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\r\n"
                     "<specVersion>\r\n<major>1</major>\r\n<minor>0</minor>\r\n</specVersion>\r\n"
                     "<URLBase>http://h/?a&amp;b</URLBase>\r\n<device>\r\n" + dev("uuid:1") +
                     "<UPC>9</UPC>\r\n<iconList>\r\n<icon>\r\n<mimetype>image/png</mimetype>\r\n<width>48</width>\r\n"
                     "<height>48</height>\r\n<depth>24</depth>\r\n<url>/icon.png</url>\r\n</icon>\r\n</iconList>\r\n"
                     "<serviceList>\r\n<service>\r\n"
                     "<serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType>\r\n"
                     "<serviceId>urn:upnp-org:serviceId:ContentDirectory</serviceId>\r\n"
                     "<SCPDURL>/cds.xml</SCPDURL>\r\n<controlURL>cds/control</controlURL>\r\n"
                     "<eventSubURL>cds/event</eventSubURL>\r\n</service>\r\n</serviceList>\r\n"
                     "<deviceList>\r\n<device>\r\n" + dev("uuid:2") + "</device>\r\n<device>\r\n" + dev("uuid:3") +
                     "</device>\r\n</deviceList>\r\n<presentationURL>/p</presentationURL>\r\n</device>\r\n</root>\r\n";
  EXPECT_EQ(std::string(xml), want);
  sys_alloc_free(xml);

  // A fresh parse of what was written gives the same text again.
  parsed again(want);
  ASSERT_TRUE(again.ok);
  ASSERT_TRUE(upnp_desc_xml2(again.d, "http://x/", &xml));
  std::string with_base = want;
  with_base.replace(with_base.find("http://h/?a&amp;b"), 17, "http://x/");
  EXPECT_EQ(std::string(xml), with_base);
  sys_alloc_free(xml);
}

TEST(UpnpDesc, CloneIsDeepAndWritesTheSame)
{
  parsed p(root(device("uuid:1", "<dlna:X_DLNADOC>A</dlna:X_DLNADOC><iconList>" + kIcon + "</iconList>"
                                 "<serviceList>" + kService + "</serviceList>")));
  ASSERT_TRUE(p.ok);
  upnp_desc_rec *c = nullptr;
  ASSERT_TRUE(upnp_desc_clone(p.d, &c));
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c->devices[0]->icons[0], p.d->devices[0]->icons[0]);
  EXPECT_NE(c->devices[0]->X_DLNADOC, p.d->devices[0]->X_DLNADOC);
  char *a = nullptr, *b = nullptr;
  ASSERT_TRUE(upnp_desc_xml(p.d, &a));
  upnp_desc_free(p.d);
  p.d = nullptr;
  ASSERT_TRUE(upnp_desc_xml(c, &b));
  EXPECT_STREQ(a, b);
  EXPECT_EQ(list(c->devices[0]->X_DLNADOC), (std::vector<std::string>{"A"}));
  sys_alloc_free(a);
  sys_alloc_free(b);
  upnp_desc_free(c);

  ASSERT_TRUE(upnp_desc_clone(nullptr, &c));
  EXPECT_EQ(c, nullptr);
  upnp_desc_service_rec *s = nullptr;
  ASSERT_TRUE(upnp_desc_service_clone(nullptr, &s));
  EXPECT_EQ(s, nullptr);
}

TEST(UpnpDesc, UrlsResolveAgainstTheDescriptionUrl)
{
  parsed p(root(device("uuid:1", "<presentationURL>p.html</presentationURL><iconList>" + kIcon +
                                     "</iconList><serviceList>" + kService + "</serviceList>")));
  ASSERT_TRUE(p.ok);
  ASSERT_TRUE(upnp_desc_absolute_uri(p.d, "http://h:80/d/desc.xml"));
  upnp_desc_device_rec *d = p.d->devices[0];
  EXPECT_STREQ(p.d->url_base, "http://h:80/d/desc.xml");
  EXPECT_STREQ(d->services[0]->SCPDURL, "http://h:80/cds.xml");
  EXPECT_STREQ(d->services[0]->controlURL, "http://h:80/d/cds/control");
  EXPECT_STREQ(d->icons[0]->url, "http://h:80/icon.png");
  EXPECT_STREQ(d->presentationURL, "http://h:80/d/p.html");
  EXPECT_EQ(d->modelURL, nullptr);

  parsed q(root("<URLBase>http://base:1/x/</URLBase>" + device("uuid:1", "<serviceList>" + kService + "</serviceList>")));
  ASSERT_TRUE(upnp_desc_absolute_uri(q.d, "http://h:80/d/desc.xml"));
  EXPECT_STREQ(q.d->devices[0]->services[0]->eventSubURL, "http://base:1/x/cds/event");
  EXPECT_FALSE(upnp_desc_absolute_uri(nullptr, "http://h/"));
}

TEST(UpnpUrn, KindsTypesAndVersions)
{
  const char *cd1 = "urn:schemas-upnp-org:service:ContentDirectory:1";
  const char *cd2 = "urn:schemas-upnp-org:service:ContentDirectory:2";
  const char *cm2 = "urn:schemas-upnp-org:service:ConnectionManager:2";
  EXPECT_TRUE(upnp_urn_version_le(cd1, cd2));
  EXPECT_FALSE(upnp_urn_version_le(cd2, cd1));
  EXPECT_FALSE(upnp_urn_version_ge(cd1, cd2));
  EXPECT_TRUE(upnp_urn_version_ge(cd2, cd1));
  EXPECT_FALSE(upnp_urn_version_le(cd1, cm2));
  EXPECT_FALSE(upnp_urn_version_ge(cm2, cd1));
  EXPECT_TRUE(upnp_urn_version_le("urn:x:service:T", "urn:x:service:T"));
  EXPECT_FALSE(upnp_urn_version_le("urn:x:service:T:", "urn:x:service:T:1"));
  EXPECT_TRUE(upnp_urn_version_le("urn:x:service:T:9", "urn:x:service:T:10"));
  EXPECT_TRUE(upnp_urn_type_equal(cd1, cd2));
  EXPECT_FALSE(upnp_urn_type_equal("urn:a:b:C:1", "urn:a:b:CD:1"));
  EXPECT_FALSE(upnp_urn_type_equal("nocolon", "nocolon"));

  EXPECT_TRUE(upnp_urn_is_service("urn:x:service:"));
  EXPECT_FALSE(upnp_urn_is_service("urn:x:device:y"));
  EXPECT_TRUE(upnp_urn_is_device("urn:schemas-upnp-org:device:MediaServer:1"));
  EXPECT_FALSE(upnp_urn_is_device("uuid:1"));
  EXPECT_FALSE(upnp_urn_is_device("urn:a:b:device:x"));
}

}  // namespace
