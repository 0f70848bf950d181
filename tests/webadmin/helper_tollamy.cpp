// A prepared folder for the web administration program.
#include "helper_tollamy.h"

#include <signal.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tarvo_util/digest.h>

#include "tollamy_text_keys.h"

namespace tollamy_test {

void put(const std::string &path, const std::string &data)
{
  std::ofstream(path, std::ios::binary) << data;
}

std::string get(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string &path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string sha1_of(const std::string &s)
{
  sha1_ctx_rec ctx;
  unsigned char d[20];
  sha1_init(&ctx);
  sha1_write(&ctx, s.data(), uint32_t(s.size()));
  sha1_final(&ctx, d);
  return std::string(reinterpret_cast<char *>(d), 20);
}

std::string text_file()
{
  std::string t = "<?xml version='1.0' encoding='UTF-8'?>\n<text_list>\n";
  for (const char *k : tollamy_text_keys) t += std::string("<text><id>") + k + "</id><value>=" + k + "=</value></text>\n";
  return t + "</text_list>\n";
}

folder::folder() : folder(std::string()) {}

folder::folder(const std::string &in)
{
  char tmpl[] = "/tmp/tollamy_XXXXXX";
  owned = in.empty();
  dir = owned ? mkdtemp(tmpl) : in;
  for (const char *d : {"/parameter", "/text", "/html", "/ms", "/ms/conf", "/config", "/config/login"})
    mkdir((dir + d).c_str(), 0700);
  put(dir + "/parameter/parameter.xml",
      "<parameter_list>"
      "<parameter><id>MS_CONFIG_DIR</id><value>" + dir + "/ms</value></parameter>"
      "<parameter><id>LANG_CONFIG_PATH</id><value>" + dir + "/lang.conf</value></parameter>"
      "<parameter><id>VIEW_CONFIG_PATH</id><value>" + dir + "/view.conf</value></parameter>"
      "<parameter><id>CONFIG_RESOURCE_DIR</id><value>" + dir + "/config/</value></parameter>"
      "<parameter><id>HTML_RESOURCE_DIR</id><value>" + dir + "/html</value></parameter>"
      "<parameter><id>FILETYPE_DEFAULT_FILETYPE_FILE</id><value>default_filetype.xml</value></parameter>"
      "</parameter_list>");
  put(dir + "/lang.conf", "LANGUAGE=\"en\"\n");
  put(dir + "/view.conf", "SHOW_SECURITY_DIALOG=\"true\"\n");
  put(dir + "/text/text_en.xml", text_file());
  put(dir + "/html/tollamy_menu.html.part",
      "<p>[[COMMON_LOADING_PAGE]]|[[MENU_TITLE_SHARE]]|[[MENU_TITLE_LOGOUT]]</p>");
  put(dir + "/html/tollamy_page_login.html.part", "<p>[[LOGIN_TITLE]] [[server_name]] [[lose_session]]</p>");
  put(dir + "/ms/conf/upnp_port", "30000\n");
  put(dir + "/config/login/password", sha1_of("secret"));
  put(dir + "/config/default_filetype.xml", "<default_filetype_list/>\n");
}

folder::~folder()
{
  if (!owned) return;
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

std::vector<std::string> folder::sessions() const
{
  std::vector<std::string> out;
  std::string cmd = "ls '" + dir + "/config/session' 2>/dev/null";
  FILE *p = popen(cmd.c_str(), "r");
  char line[256];
  while (p && std::fgets(line, sizeof line, p)) {
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    out.push_back(s);
  }
  if (p) pclose(p);
  return out;
}

result folder::run(const std::vector<std::string> &env, const std::vector<std::string> &body,
                   const std::vector<std::string> &prefix) const
{
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    if (chdir(dir.c_str()) != 0) _exit(99);
    std::vector<std::string> args = prefix;
    args.push_back(std::string(std::getenv("TARVO_BIN")) + "/conf/upnp_root/admin/tollamy.cgi");
    std::vector<char *> argv, envp;
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    for (auto &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(98);
  }
  close(in[0]);
  close(out[1]);
  // The body in the pieces given, apart in time as a slow client sends it.
  // A program that refuses the request may end before it reads the body:
  // the write then fails rather than ending the test.
  struct sigaction ignore = {}, was = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &was);
  for (size_t i = 0; i < body.size(); i++) {
    if (i) usleep(50000);
    if (write(in[1], body[i].data(), body[i].size()) != ssize_t(body[i].size())) break;
  }
  sigaction(SIGPIPE, &was, nullptr);
  close(in[1]);
  result r;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) r.out.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string answer(const char *controller, const char *action, const char *kind, const std::string &body)
{
  std::string state = std::string(kind) == "success" ? "success" : "failure";
  std::string message = std::string(kind) == "success"   ? "success"
                        : std::string(kind) == "failure" ? "internal server error"
                                                         : "no session";
  std::string id = std::string(kind) == "success"   ? "TOLLAMY_SUCCESS"
                   : std::string(kind) == "failure" ? "TOLLAMY_INTERNAL_SERVER_ERROR"
                                                    : "TOLLAMY_NO_SESSION";
  return "Content-Type: application/xml; charset=UTF-8\n\n<?xml version='1.0' encoding='UTF-8'?><root><head>"
         "<controller>" + std::string(controller) + "</controller>\r\n<action>" + action + "</action>\r\n<state>" +
         state + "</state>\r\n<message>" + message + "</message>\r\n<message_id>" + id + "</message_id>\r\n</head>" +
         body + "</root>";
}

}  // namespace tollamy_test
