// The application object: it chooses, once at start-up, between the self-extracting run and
// the extraction window, and the program ends when that work is done.
#pragma once

#include <string>
#include <vector>

namespace winqor {

class CWinQORApp {
  public:
    // Runs the program's one piece of work with the program's arguments (UTF-8, the program's
    // name not among them). A self-extracting program reads them as its switches; otherwise
    // the first is the archive the extraction window opens with. Always false: there is no
    // message loop to enter afterwards. slashHelp: "/?" asks for help (Windows' way).
    bool InitInstance(const std::vector<std::string>& arguments = {}, bool slashHelp = false);

    // The process's exit status once InitInstance has returned.
    int ExitCode() const { return exitCode_; }

  private:
    int exitCode_ = 0;
};

// The one application object.
extern CWinQORApp theApp;

}  // namespace winqor
