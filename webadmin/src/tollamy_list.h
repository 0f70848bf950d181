// The HTML lists of the pages: a start part, one body part per row and an
// end part, each filled from its template and appended as one "list_item"
// element.  Data values are HTML-escaped before they fill a template; texts
// and fixed markup go in as they are.  A list without rows still has its
// start and end parts.  false when a part cannot be built.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tollamy_config.h"
#include "tollamy_server.h"

// s with '"', '&', '\'', '<' and '>' as character references: the escaper
// for every data value that enters a page.
std::string tollamy_html(const char *s);
inline std::string tollamy_html(const std::string &s) { return tollamy_html(s.c_str()); }

// The row index as exactly three digits, "000" to "999" (larger indexes
// repeat ids).
std::string tollamy_row_id(uint32_t index);

// Mimetype table; the pairs in the order given.
bool tollamy_list_mimetypes(const tollamy_config *c, const std::vector<std::string> &exts,
                            const std::vector<std::string> &mimes, std::string *out);
// Server table: a server's row only when its root container "0" lists at
// least one container.
bool tollamy_list_servers(const tollamy_config *c, uint16_t port, const std::vector<tollamy_backup_server> &servers,
                          std::string *out);
// Task table of one server.  false also for a task date that cannot be read.
bool tollamy_list_tasks(const tollamy_config *c, const tollamy_backup_server &server,
                        const std::vector<tollamy_backup_task> &tasks, std::string *out);
// Client table: allow true for the allow list ("sec_a"), false for the deny
// list ("sec_d"); the three lists paired by position, an empty host name
// for none.
bool tollamy_list_clients(const tollamy_config *c, bool allow, const std::vector<std::string> &macs,
                          const std::vector<std::string> &ips, const std::vector<std::string> &hosts, std::string *out);
// Share table.
bool tollamy_list_shares(const tollamy_config *c, const std::vector<std::string> &paths, std::string *out);
