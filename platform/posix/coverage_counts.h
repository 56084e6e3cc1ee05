// What a coverage build (WINQOR_COVERAGE, coverage_counts_gcov.cpp) adds so that gcov's counts
// of the sandboxed child and of a forked child before its exec reach their files: the child ends
// with _exit, and its walls would keep gcov from writing beside the build. Every other build
// links coverage_counts_none.cpp, where each of these does nothing and opens nothing.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace winqor::posix {

// The folder gcov writes its counts files beneath (GCOV_PREFIX, or the build's own folder),
// opened for a Landlock rule; -1 in other builds or when it cannot be opened.
int OpenCountsFolder();

// The modes gcov's runtime asks for when it opens a counts file (0 in other builds): the
// allow-list's check of an opened file's mode lets them pass.
mode_t CountsFileModes();

// Whether the allow-list must admit the calls gcov's runtime makes to write its files beyond
// those the extraction makes (fcntl's record locks).
bool CountsAreWritten();

// The smallest file-size limit under which the counts files can still be rewritten (0 in other
// builds): a process that may write no file of its own still writes its counts.
uint64_t CountsFileBytes();

// In a forked copy, before anything it runs is to be counted: what the parent counted before
// the fork is the parent's to write.
void ForgetInheritedCounts();

// Writes what this process counted so far, before _exit or an exec, which would lose it.
void WriteCounts();

}  // namespace winqor::posix
