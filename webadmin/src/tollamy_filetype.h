// The default file-type list beside the configuration, which the file-type
// page's "reset" restores.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tollamy_config.h"

// The list file's bytes for the pairs, sorted by extension in byte order;
// values are XML-escaped.
std::string tollamy_default_list_text(const std::vector<std::string> &exts, const std::vector<std::string> &mimes);
// Makes the file from the server's list unless it exists.  Two requests may
// race: the file appears whole or not at all, and "already there" counts as
// success.
bool tollamy_default_list_ensure(const tollamy_config *c, uint16_t port);
// Reads the list document: extensions and mimetypes in file order; another
// root gives empty lists.  false on an XML error, elements below a mimetype
// or extension, or a value of TOLLAMY_FILETYPE_VALUE_MAX bytes or more.
bool tollamy_default_list_parse(const char *xml, uint32_t len, std::vector<std::string> *exts,
                                std::vector<std::string> *mimes);
// The same on the file, which must exist.
bool tollamy_default_list_read(const tollamy_config *c, std::vector<std::string> *exts,
                               std::vector<std::string> *mimes);
