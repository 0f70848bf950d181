// A test plug-in that serves its resources itself: the answer's body
// tells what the server handed over.  A request with the header
// "x-close: 1" makes it close its socket and give it up.
#include <tarvo_msf.h>

#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

extern "C" {

int tarvo_msf_init(void) { return 1; }
void tarvo_msf_free(void) {}

int tarvo_msf_http_get(plugin_http_get_request *r)
{
  bool give_up = false;
  for (char *const *h = r->headers; *h; h++) give_up = give_up || !strcasecmp(*h, "x-close:1");
  std::string body = std::string("method=") + r->startline->method + "\npath=" + r->startline->uri.path +
                     "\nmime=" + r->mime_type + "\nfeatures=" + r->content_features +
                     "\nduration=" + std::to_string(r->duration_ms) + "\nfile=" + r->path +
                     "\nprivate=" + (std::strstr(r->didl, "tarvo:filename=") ? "1" : "0") +
                     "\nremote_port=" + std::to_string(r->addresses.remote_port) + "\n";
  std::string head = "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n";
  std::string answer = head + (std::strcmp(r->startline->method, "HEAD") ? body : "");
  send(r->socket, answer.data(), answer.size(), MSG_NOSIGNAL);
  if (!give_up) return 1;
  close(r->socket);
  r->socket = -1;
  return 1;
}

}  // extern "C"
