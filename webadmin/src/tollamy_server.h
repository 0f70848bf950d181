// The local server's calls that the request frame needs.  Until the
// local-server client is linked they answer failure, as a server that
// cannot be reached does.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// X_GetFileTypeList: extensions and mimetypes paired by position.
bool tollamy_server_file_types(uint16_t port, std::vector<std::string> *exts, std::vector<std::string> *mimes);
// GetFriendlyName.
bool tollamy_server_friendly_name(uint16_t port, std::string *name);
