// The local server's calls of the request frame; see tollamy_server.h.
#include "tollamy_server.h"

bool tollamy_server_file_types(uint16_t, std::vector<std::string> *, std::vector<std::string> *) { return false; }

bool tollamy_server_friendly_name(uint16_t, std::string *) { return false; }
