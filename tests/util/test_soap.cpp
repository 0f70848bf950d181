#include <gtest/gtest.h>

#include <tarvo_util/soap.h>
#include <tarvo_util/xml.h>

#include <string>
#include <vector>

namespace {

std::string str(const sys_stralloc_rec &sa) { return std::string(sa.buf ? sa.buf : "", sa.len); }

std::vector<std::string> list(sys_str_list l)
{
  std::vector<std::string> v;
  for (; l && *l; l++) v.push_back(*l);
  return v;
}

const std::string kBegin = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"\r\n"
                           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n<s:Body>\r\n";
const std::string kEnd = "</s:Body>\r\n</s:Envelope>\r\n";

TEST(SoapXml, EnvelopeActionAndFaultBytes)
{
  EXPECT_EQ(std::string(soap_xml_begin()), kBegin);
  EXPECT_EQ(soap_xml_begin_len(), 137u);
  EXPECT_EQ(std::string(soap_xml_end()), kEnd);
  EXPECT_EQ(soap_xml_end_len(), 26u);

  sys_stralloc_rec sa{};
  ASSERT_TRUE(soap_xml_request_begin(&sa, "urn:t:service:X:1", "Go"));
  ASSERT_TRUE(soap_xml_request_end(&sa, "Go"));
  ASSERT_TRUE(soap_xml_response_begin(&sa, "urn:t:service:X:1", "Go"));
  ASSERT_TRUE(soap_xml_response_end(&sa, "Go"));
  EXPECT_EQ(str(sa), "<u:Go xmlns:u=\"urn:t:service:X:1\">\r\n</u:Go>\r\n"
                     "<u:GoResponse xmlns:u=\"urn:t:service:X:1\">\r\n</u:GoResponse>\r\n");
  sa.len = 0;
  ASSERT_TRUE(soap_xml_fault(&sa, SOAP_CONTROL_NS, 714, "No such <object> & more"));
  EXPECT_EQ(str(sa), "<s:Fault>\r\n<faultcode>s:Client</faultcode>\r\n<faultstring>UPnPError</faultstring>\r\n"
                     "<detail>\r\n<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">\r\n"
                     "<errorCode>714</errorCode>\r\n"
                     "<errorDescription>No such &lt;object&gt; &amp; more</errorDescription>\r\n"
                     "</UPnPError>\r\n</detail>\r\n</s:Fault>\r\n");
  // What the device writes, the control point reads back.
  std::string doc = kBegin + str(sa) + kEnd;
  uint32_t code = 0;
  EXPECT_TRUE(soap_fault_parse(doc.c_str(), &code));
  EXPECT_EQ(code, 714u);
  sys_stralloc_free(&sa);
}

struct args {
  sys_str_list names = nullptr, values = nullptr;
  int ok;
  explicit args(const std::string &xml) { ok = soap_parse(xml.c_str(), &names, &values); }
  ~args()
  {
    sys_str_list_free(names);
    sys_str_list_free(values);
  }
};

TEST(SoapParse, ResponseArgumentsInOrderAndTrimmed)
{
  std::string with_header = kBegin;
  with_header.insert(with_header.find("<s:Body>"), "<s:Header><x>1</x></s:Header><x>2</x>");
  args a(with_header +
         "<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">"
         "<Result>\r\n  x \t</Result><NumberReturned>1</NumberReturned>"
         "<o:Other xmlns:o=\"urn:o\"><deep/></o:Other>"
         "<c:Total xmlns:c=\"urn:schemas-upnp-org:control-1-0\">&lt;3</c:Total><Empty/>"
         "</u:BrowseResponse>" + kEnd);
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(list(a.names), (std::vector<std::string>{"Result", "NumberReturned", "Total", "Empty"}));
  EXPECT_EQ(list(a.values), (std::vector<std::string>{"x", "1", "<3", ""}));

  // The envelope namespace without its final '/'.
  args b("<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope\"><s:Body><u:R xmlns:u=\"urn:u\"><A>1</A>"
         "</u:R></s:Body></s:Envelope>");
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(list(b.names), (std::vector<std::string>{"A"}));

  args none(kBegin + "<plain><A>1</A></plain>" + kEnd);
  ASSERT_TRUE(none.ok);
  EXPECT_EQ(none.names, nullptr);
  EXPECT_EQ(none.values, nullptr);

  args empty(kBegin + "<u:R xmlns:u=\"urn:u\"/>" + kEnd);
  ASSERT_TRUE(empty.ok);
  ASSERT_NE(empty.names, nullptr);
  EXPECT_EQ(empty.names[0], nullptr);
}

TEST(SoapParse, BrokenBodiesFail)
{
  const std::string bad[] = {
      "<Envelope><Body/></Envelope>",
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope//\"/>",
      kBegin + "<u:R xmlns:u=\"urn:u\"><A><b/></A></u:R>" + kEnd,
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><o:Body xmlns:o=\"urn:o\"/></s:Envelope>",
      kBegin + "<u:R xmlns:u=\"urn:u\"><A>1</A>",
  };
  for (const std::string &doc : bad) {
    args a(doc);
    EXPECT_FALSE(a.ok) << doc;
    EXPECT_EQ(a.names, nullptr);
    EXPECT_EQ(a.values, nullptr);
  }
}

TEST(SoapParse, FaultCodes)
{
  auto fault = [](const std::string &detail) {
    return kBegin + "<s:Fault><faultcode>s:Client</faultcode><detail>" + detail + "</detail></s:Fault>" + kEnd;
  };
  auto code_of = [](const std::string &doc, uint32_t *code) { return soap_fault_parse(doc.c_str(), code); };
  uint32_t code = 99;
  EXPECT_TRUE(code_of(fault("<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode> 402\n</errorCode>"
                            "</UPnPError>"),
                      &code));
  EXPECT_EQ(code, 402u);
  code = 99;
  EXPECT_FALSE(code_of(fault("<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>0</errorCode>"
                             "</UPnPError>"),
                       &code));
  EXPECT_FALSE(code_of(fault("<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"></UPnPError>"), &code));
  EXPECT_FALSE(code_of(fault("<UPnPError xmlns=\"urn:other\"><errorCode>7</errorCode></UPnPError>"), &code));
  EXPECT_FALSE(code_of(fault("<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>4294967297"
                             "</errorCode></UPnPError>"),
                       &code));
  EXPECT_EQ(code, 99u);
  // The fault reader wants the envelope namespace exactly.
  EXPECT_FALSE(code_of("<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope\"><s:Body><s:Fault>"
                       "<detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>7</errorCode>"
                       "</UPnPError></detail></s:Fault></s:Body></s:Envelope>",
                       &code));
  EXPECT_FALSE(code_of("not xml", &code));
}

}  // namespace
