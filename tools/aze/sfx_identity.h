// aze sfx --icon and --version-info: a product's identity given to a Windows program, read and
// checked before anything is packed or written.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/pe_identity.h"
#include "image/pe_resources.h"
#include "tools/aze/commands.h"

namespace winqor::aze {

// The icon file's bytes and what is made of them and of the settings. Its parts view each
// other: it is made in place and not copied.
struct WindowsIdentity {
    std::vector<uint8_t> iconFile;
    PeIdentity identity;
    PeIdentityEdit edit;

    WindowsIdentity() = default;
    WindowsIdentity(const WindowsIdentity&) = delete;
    WindowsIdentity& operator=(const WindowsIdentity&) = delete;

    bool given() const { return !edit.additions.empty(); }
};

// Reads and checks options.icon and options.versionInfo for the stub program (windowsStub: a
// Windows program) and works out the edit. Nothing is done without them. false, with reason
// set, when they are given for a Linux program, the icon file cannot be read or is no valid
// icon, or a setting is not valid.
bool PrepareWindowsIdentity(const SfxOptions& options, bool windowsStub,
                            std::span<const uint8_t> program, WindowsIdentity& identity,
                            std::string& reason);

// program with carried (the archive, and the licence if any) added and the identity given, in
// one rewrite.
bool AddResourcesWithIdentity(std::span<const uint8_t> program, const WindowsIdentity& identity,
                              std::span<const PeNewResource> carried, std::vector<uint8_t>& out,
                              std::string& reason);

}  // namespace winqor::aze
