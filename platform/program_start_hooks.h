// What starting a program (Setup.exe) asks of its surroundings on Windows: whether to take the
// elevated start through the shell without first trying a plain one. The shipped programs
// install nothing and get ProgramStartHooks' own answer: try the plain start, and take the
// shell's only when the system refuses it as needing elevation. Wine starts a program that asks
// for an administrator's rights like any other, so a program that is to take the shell's path
// there installs hooks that say so.
#pragma once

namespace winqor {

class ProgramStartHooks {
  public:
    virtual ~ProgramStartHooks() = default;

    // true to take the elevated start at once, as when the plain one is refused.
    virtual bool ElevationRequired() const { return false; }
};

// The hooks installed, or ProgramStartHooks' own when none were.
const ProgramStartHooks& CurrentProgramStartHooks();

// Installs hooks that live as long as the program (nullptr: back to ProgramStartHooks' own).
void InstallProgramStartHooks(const ProgramStartHooks* hooks);

}  // namespace winqor
