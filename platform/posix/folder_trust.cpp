// Which folders the running user may trust to write into and later run from: the judgement of
// OpenSSH's StrictModes, with a user's private group taken as the user.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/posix/support.h"

namespace winqor::posix {
namespace {

// The groups of the running user that hold nobody else, read once: a confined walk may no
// longer reach the user database.
struct PrivateGroups {
    bool learned = false;
    std::vector<gid_t> groups;
};

PrivateGroups& Known() {
    static PrivateGroups known;
    return known;
}

// The members of gid: those it names and those whose own group it is.
bool HoldsOnly(gid_t gid, const std::string& user) {
    const struct group* group = ::getgrgid(gid);
    if (group == nullptr) return false;
    for (char** member = group->gr_mem; *member != nullptr; ++member) {
        if (user != *member) return false;
    }
    bool alone = true;
    ::setpwent();
    while (const struct passwd* account = ::getpwent()) {
        if (account->pw_gid == gid && user != account->pw_name) alone = false;
    }
    ::endpwent();
    return alone;
}

}  // namespace

void LearnPrivateGroups() {
    if (Known().learned) return;
    Known().learned = true;
    const struct passwd* account = ::getpwuid(::geteuid());
    if (account == nullptr) return;
    const std::string user = account->pw_name;
    std::vector<gid_t> candidates(1, ::getegid());
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        candidates.resize(1 + static_cast<size_t>(count));
        const int got = ::getgroups(count, candidates.data() + 1);
        candidates.resize(1 + static_cast<size_t>(std::max(got, 0)));
    }
    for (const gid_t gid : candidates) {
        if (HoldsOnly(gid, user)) Known().groups.push_back(gid);
    }
}

FolderJudgement JudgeFolder(const struct stat& info) {
    if (info.st_uid != ::geteuid() && info.st_uid != 0) return FolderJudgement::kNotOwned;
    if ((info.st_mode & S_IWOTH) != 0) return FolderJudgement::kWritableByOthers;
    const std::vector<gid_t>& groups = Known().groups;
    if ((info.st_mode & S_IWGRP) != 0 &&
        std::find(groups.begin(), groups.end(), info.st_gid) == groups.end()) {
        return FolderJudgement::kWritableByOthers;
    }
    return FolderJudgement::kTrusted;
}

}  // namespace winqor::posix
