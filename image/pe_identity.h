// A product's identity given to a Windows program: its icon (the icon group 128 that Explorer,
// the taskbar and the window show, and the images it lists) and its version information
// (RT_VERSION), worked out as the additions and removals of one resource rewrite. Pure code.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/ico.h"
#include "image/pe_resources.h"

namespace winqor {

struct PeIdentity {
    std::vector<IconImage> icon;   // empty: the program keeps its icon
    std::vector<uint8_t> version;  // an RT_VERSION resource; empty: the program keeps its own
};

// What the rewrite does. additions view the icon's images, group and identity.version, which
// must outlive them.
struct PeIdentityEdit {
    std::vector<uint8_t> group;  // the new RT_GROUP_ICON
    std::vector<PeNewResource> additions;
    std::vector<PeRemoval> removals;
};

// The edit that gives program the identity. The icon group 128 is replaced, at every language,
// by a neutral one, and the images it listed are removed unless another group lists them; the
// new images get the lowest RT_ICON ids that no image of the program has. Every RT_VERSION
// resource is replaced by a neutral one with id 1. resources: the program's, as
// ReadPeResources gives them. false, with reason set, when no RT_ICON ids are left.
bool PlanPeIdentity(std::span<const uint8_t> program, const std::vector<PeResource>& resources,
                    const PeIdentity& identity, PeIdentityEdit& edit, std::string& reason);

}  // namespace winqor
