// The HTML lists of the pages; see tollamy_list.h.
#include "tollamy_list.h"

#include <new>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/xml.h>

std::string tollamy_html(const char *s)
{
  own::stralloc sa;
  if (!xml_gen_encode_append(&sa.s, s ? s : "")) throw std::bad_alloc();
  return std::string(sa.s.buf ? sa.s.buf : "", sa.s.len);
}

std::string tollamy_row_id(uint32_t index)
{
  char d[4] = {char('0' + index / 100 % 10), char('0' + index / 10 % 10), char('0' + index % 10), 0};
  return d;
}

bool tollamy_list_mimetypes(const tollamy_config *, const std::vector<std::string> &, const std::vector<std::string> &,
                            std::string *)
{
  return false;
}

bool tollamy_list_servers(const tollamy_config *, uint16_t, const std::vector<tollamy_backup_server> &, std::string *)
{
  return false;
}

bool tollamy_list_tasks(const tollamy_config *, const tollamy_backup_server &, const std::vector<tollamy_backup_task> &,
                        std::string *)
{
  return false;
}

bool tollamy_list_clients(const tollamy_config *, bool, const std::vector<std::string> &,
                          const std::vector<std::string> &, const std::vector<std::string> &, std::string *)
{
  return false;
}

bool tollamy_list_shares(const tollamy_config *, const std::vector<std::string> &, std::string *) { return false; }
