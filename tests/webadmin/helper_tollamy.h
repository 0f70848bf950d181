// A prepared folder for the web administration program: parameter file,
// settings, a text file mapping each key K to "=K=", templates that list
// their placeholders, the port file and a login file for "secret".
#pragma once

#include <string>
#include <vector>

namespace tollamy_test {

struct result {
  int status = -1;
  std::string out;
};

struct folder {
  std::string dir;
  bool owned = true;
  folder();
  // The same in an existing folder, which is left to its owner.
  explicit folder(const std::string &in);
  ~folder();
  // Runs the program in the folder with exactly this environment; body is
  // written to its standard input in these pieces.
  result run(const std::vector<std::string> &env, const std::vector<std::string> &body = {},
             const std::vector<std::string> &prefix = {}) const;
  std::vector<std::string> sessions() const;
};

void put(const std::string &path, const std::string &data);
std::string get(const std::string &path);
bool exists(const std::string &path);
// The whole answer of the kind "success", "failure" or "no session".
std::string answer(const char *controller, const char *action, const char *kind, const std::string &body);

}  // namespace tollamy_test
