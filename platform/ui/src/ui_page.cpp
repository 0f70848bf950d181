// The record-only page: scripts kept in order, pointers stable for the process.
#include <tarvo_ui/ui_page.h>

#include <deque>
#include <mutex>
#include <string>

namespace {

struct page_log {
  std::mutex m;
  std::deque<std::string> scripts;  // a deque keeps earlier texts in place
};

page_log &log()
{
  static page_log *p = new page_log;  // read by the automation socket until exit
  return *p;
}

}  // namespace

extern "C" {

int PageRunScript(HWND view, const char *script)
{
  if (!IsWindow(view) || !script) return 0;
  std::lock_guard<std::mutex> g(log().m);
  log().scripts.emplace_back(script);
  return 1;
}

uint32_t PageScriptCount(void)
{
  std::lock_guard<std::mutex> g(log().m);
  return static_cast<uint32_t>(log().scripts.size());
}

const char *PageScriptAt(uint32_t index)
{
  std::lock_guard<std::mutex> g(log().m);
  return index < log().scripts.size() ? log().scripts[index].c_str() : nullptr;
}
}
