// SOAP envelope, action and fault texts.
#include <tarvo_util/soap.h>
#include <tarvo_util/xml.h>

namespace {

constexpr char kBegin[] = "<s:Envelope xmlns:s=\"" SOAP_ENVELOPE_NS "\"\r\n"
                          "s:encodingStyle=\"" SOAP_ENCODING_NS "\">\r\n"
                          "<s:Body>\r\n";
constexpr char kEnd[] = "</s:Body>\r\n</s:Envelope>\r\n";

// "<" open action tail " xmlns:u=\"" type "\">\r\n"
int action_begin(sys_stralloc_rec *sa, const char *service_type, const char *action, const char *tail)
{
  return sys_stralloc_cats(sa, "<u:") && sys_stralloc_cats(sa, action) && sys_stralloc_cats(sa, tail) &&
         sys_stralloc_cats(sa, " xmlns:u=\"") && sys_stralloc_cats(sa, service_type) &&
         sys_stralloc_cats(sa, "\">\r\n");
}

int action_end(sys_stralloc_rec *sa, const char *action, const char *tail)
{
  return sys_stralloc_cats(sa, "</u:") && sys_stralloc_cats(sa, action) && sys_stralloc_cats(sa, tail) &&
         sys_stralloc_cats(sa, ">\r\n");
}

}  // namespace

extern "C" {

const char *soap_xml_begin(void) { return kBegin; }
uint32_t soap_xml_begin_len(void) { return sizeof kBegin - 1; }
const char *soap_xml_end(void) { return kEnd; }
uint32_t soap_xml_end_len(void) { return sizeof kEnd - 1; }

int soap_xml_request_begin(sys_stralloc_rec *sa, const char *service_type, const char *action)
{
  return action_begin(sa, service_type, action, "");
}

int soap_xml_request_end(sys_stralloc_rec *sa, const char *action) { return action_end(sa, action, ""); }

int soap_xml_response_begin(sys_stralloc_rec *sa, const char *service_type, const char *action)
{
  return action_begin(sa, service_type, action, "Response");
}

int soap_xml_response_end(sys_stralloc_rec *sa, const char *action) { return action_end(sa, action, "Response"); }

// The description is escaped: a '<' or '&' in it would otherwise make the
// whole answer unreadable.
int soap_xml_fault(sys_stralloc_rec *sa, const char *control_ns, uint32_t error_code, const char *description)
{
  char code[10];
  uint32_t n = sys_str_fmt_uint32(code, error_code);
  return sys_stralloc_cats(sa, "<s:Fault>\r\n"
                               "<faultcode>s:Client</faultcode>\r\n"
                               "<faultstring>UPnPError</faultstring>\r\n"
                               "<detail>\r\n"
                               "<UPnPError xmlns=\"") &&
         sys_stralloc_cats(sa, control_ns) && sys_stralloc_cats(sa, "\">\r\n<errorCode>") &&
         sys_stralloc_catb(sa, code, n) && sys_stralloc_cats(sa, "</errorCode>\r\n<errorDescription>") &&
         xml_gen_encode_append(sa, description) &&
         sys_stralloc_cats(sa, "</errorDescription>\r\n"
                               "</UPnPError>\r\n"
                               "</detail>\r\n"
                               "</s:Fault>\r\n");
}

}  // extern "C"
