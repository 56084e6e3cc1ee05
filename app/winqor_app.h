// The application object: it chooses, once at start-up, between the self-extracting run and
// the extraction window, and the program ends when that work is done.
#pragma once

namespace winqor {

class CWinQORApp {
  public:
    // Runs the program's one piece of work. archiveArgument (null for none) is the archive the
    // extraction window opens with; a self-extracting run never looks at it. Always false:
    // there is no message loop to enter afterwards.
    bool InitInstance(const char* archiveArgument = nullptr);

    // The process's exit status once InitInstance has returned.
    int ExitCode() const { return exitCode_; }

  private:
    int exitCode_ = 0;
};

// The one application object.
extern CWinQORApp theApp;

}  // namespace winqor
