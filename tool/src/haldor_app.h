// The management tool's application: start order, single instance, the
// command line, the frame and its keys, the About box, and the shutdown.
#pragma once

#include <tarvo_ui/ui_gtk.h>

#include <string>

// Commands of the frame (the accelerators and the platform's own).
enum : unsigned {
  HALDOR_CMD_CLOSE_CTRL_W = 32776,
  HALDOR_CMD_CLOSE_ALT_F4 = 32778,
  HALDOR_CMD_NOTHING = 32779,
  HALDOR_ID_APP_ABOUT = 0xE140,
  HALDOR_ID_APP_EXIT = 0xE141,
};
// The frame's content area.
constexpr int HALDOR_FRAME_WIDTH = 800;
constexpr int HALDOR_FRAME_HEIGHT = 430;
// Room of the shared section after the length: UTF-16 units of the user name.
constexpr unsigned HALDOR_SECTION_NAME_OFFSET = 8;

// The view inside the frame.  The HTML view implements it; until one is
// registered the tool runs with the record-only page.
class CHaldorViewHost {
 public:
  virtual ~CHaldorViewHost() = default;
  // Puts the view into the frame's content box: 1 on success.
  virtual int Create(HWND frame, GtkWidget *content) = 0;
  // The view's message window: WM_USER+100..102 and the host pushes go there.
  virtual HWND Window() = 0;
  virtual void Destroy() = 0;
  // The published folders changed elsewhere: the page lists them again.
  virtual void SharesChanged() {}
};
// Set by the HTML view's file before main (a static initialiser).
extern CHaldorViewHost *(*haldor_view_factory)();

// "-t<n>" after trimming and lower-casing: "security" for n = 1, else "".
std::string parse_tool_command_line(const std::string &line);
// The 4096-byte section's contents for a user name: the length in UTF-16
// units with its terminator plus 1, then the name at offset 8.  0 when the
// name does not fit or is not UTF-8.
int haldor_section_fill(void *section, unsigned size, const char *user);
// One version line of the About box for the program at path ("" when its
// record lacks a name or version or the format is no UTF-8).
std::string haldor_version_line(const std::string &path, const std::string &format);

class CHaldor2App {
 public:
  ~CHaldor2App();
  // The whole run: the process's exit code.
  int Run(int argc, char **argv);
  static CHaldor2App *Instance() { return s_app; }
  const std::string &InitialPage() const { return m_initialPage; }
  HWND MainWindow() const { return m_frame; }
  HWND ActiveView() const;

 private:
  int InitInstance(int argc, char **argv);
  int ExitInstance();
  int check_single_instance(const char *name);
  static LRESULT frame_proc(HWND h, UINT msg, WPARAM w, LPARAM l);
  static int key_hook(HWND frame, UINT keyval, UINT mods, void *user);
  void ShowAbout();

  static CHaldor2App *s_app;
  int m_globalMutex = -1, m_localMutex = -1;
  struct named_section_rec *m_section = nullptr;
  struct named_section_rec *m_windowSection = nullptr;  // "HaldorHwnd", while the frame is there
  unsigned m_activateSource = 0;
  std::string m_initialPage;
  HWND m_frame = nullptr;
  CHaldorViewHost *m_view = nullptr;
};
