// SOAP answers for recording peers: a response element with its
// arguments, and a fault with an errorCode.
#pragma once

#include <string>

namespace tarvo_test {

inline std::string soap_response(const std::string &action, const std::string &args)
{
  std::string body = "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                     "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
  if (!action.empty()) body += "<u:" + action + "Response xmlns:u=\"urn:x\">" + args + "</u:" + action + "Response>";
  body += "</s:Body></s:Envelope>";
  return "HTTP/1.1 200 OK\r\nCONTENT-TYPE: text/xml\r\nCONTENT-LENGTH: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

inline std::string soap_fault(int code)
{
  std::string body = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault>"
                     "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
                     "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
                     std::to_string(code) + "</errorCode></UPnPError></detail></s:Fault></s:Body></s:Envelope>";
  return "HTTP/1.1 500 Internal Server Error\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The body of a recorded request, after its header block.
inline std::string request_body(const std::string &request) { return request.substr(request.find("\r\n\r\n") + 4); }

}  // namespace tarvo_test
