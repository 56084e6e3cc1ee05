#include "tools/aze/sfx_identity.h"

#include "image/ico.h"
#include "image/version_info.h"
#include "platform/whole_file.h"

namespace winqor::aze {
namespace {

// Far more than an icon of 256 images of 256 by 256 pixels takes.
constexpr uint64_t kMaxIconFileBytes = uint64_t{128} << 20;

bool ReadIcon(const std::string& path, WindowsIdentity& identity, std::string& reason) {
    std::string why;
    const ReadOutcome read = ReadWholeFile(path, kMaxIconFileBytes, identity.iconFile, why);
    if (read != ReadOutcome::kRead) {
        reason =
            Concerning(read == ReadOutcome::kTooLarge
                           ? "not an icon file: larger than 128 MiB"
                           : "cannot read the icon file" + (why.empty() ? "" : " (" + why + ")"),
                       path);
        return false;
    }
    if (!ParseIcoFile(identity.iconFile, identity.identity.icon, why)) {
        reason = Concerning(why, path);
        return false;
    }
    return true;
}

bool ReadVersionSettings(const std::vector<std::string>& settings, WindowsIdentity& identity,
                         std::string& reason) {
    VersionInfo info;
    std::string why;
    for (const auto& setting : settings) {
        if (!SetVersionInfo(setting, info, why)) {
            reason = "--version-info: " + why;
            return false;
        }
    }
    identity.identity.version = BuildVersionResource(info);
    return true;
}

}  // namespace

bool PrepareWindowsIdentity(const SfxOptions& options, bool windowsStub,
                            std::span<const uint8_t> program, WindowsIdentity& identity,
                            std::string& reason) {
    if (options.icon.empty() && options.versionInfo.empty()) return true;
    if (!windowsStub) {
        reason =
            "--icon and --version-info apply to a Windows program (give --windows, or a Windows "
            "winqor.exe as --stub)";
        return false;
    }
    if (!options.icon.empty() && !ReadIcon(options.icon, identity, reason)) return false;
    if (!options.versionInfo.empty() &&
        !ReadVersionSettings(options.versionInfo, identity, reason)) {
        return false;
    }
    std::vector<PeResource> resources;
    std::string why;
    if (ReadPeResources(program, resources, why) != PeStatus::kValid ||
        !PlanPeIdentity(program, resources, identity.identity, identity.edit, why)) {
        reason = why;
        return false;
    }
    return true;
}

bool AddResourcesWithIdentity(std::span<const uint8_t> program, const WindowsIdentity& identity,
                              std::span<const PeNewResource> carried, std::vector<uint8_t>& out,
                              std::string& reason) {
    std::vector<PeNewResource> additions = identity.edit.additions;
    additions.insert(additions.end(), carried.begin(), carried.end());
    return EditPeResources(program, additions, identity.edit.removals, out, reason);
}

}  // namespace winqor::aze
