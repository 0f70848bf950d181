// The share scanner running on a content database, the content tree as
// the tests look at it, and small media files.
#pragma once

#include <vennard/server.h>
#include <vennard/share_scanner.h>

#include <string>
#include <vector>

#include "server_test.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

namespace scan_test {

// One object as the tests see it.
struct node {
  std::string id, element, title, cls, ref;
  std::vector<std::string> files;  // res tarvo:filename values
  std::vector<std::string> sizes;  // res size values
  std::vector<std::pair<std::string, std::string>> props;  // every property: element, text
  std::string prop(const std::string &element) const;
};

// The object and the children of a container, read under the lock.
bool object_of(server_rec *s, const std::string &id, node *out);
std::vector<node> children_of(server_rec *s, const std::string &id);
// The child of a container with that title; "" when there is none.
std::string child_titled(server_rec *s, const std::string &parent, const std::string &title);
// The titles of a container's children, sorted, joined by ",".
std::string titles(server_rec *s, const std::string &id);
// Follows titles down from a container; "" when one is missing.
std::string path_id(server_rec *s, const std::string &from, const std::vector<std::string> &titles);

// The HTTP text of a SOAP action at a control path; args are the
// argument elements.
std::string soap_request(const std::string &control, const std::string &type, const std::string &action,
                         const std::string &args);
// BrowseDirectChildren of an object, every child, unsorted.
std::string browse_request(const std::string &id);

// A WAV file of n bytes of 8-bit silence.
void wav_write(const std::string &path, uint32_t n = 800);

// A data folder with its content database and the scanner on it; media
// is a folder for the shares.
struct scanner {
  server_test::server srv;
  tarvo_test::scratch_dir media_dir;
  std::string media = media_dir.path.string();
  bool running = false;
  server_rec *s = &srv.s;

  scanner();
  ~scanner();
  bool start();
  void stop();
  // X_Share's work: 0 or its error code.
  uint32_t share(const std::string &path);
  // The share's container under Container:UserFiles, "" while there is none.
  std::string share_id(const std::string &path);
};

}  // namespace scan_test
