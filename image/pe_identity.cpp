#include "image/pe_identity.h"

#include <algorithm>
#include <set>

#include "image/version_info.h"

namespace winqor {
namespace {

// RT_ICON ids are 16-bit where the icon group lists them; 0 is no id.
constexpr uint32_t kMaxIconId = 0xFFFF;

bool IsIntegerKey(const PeKey& key, uint32_t id) {
    return !key.named && key.id == id;
}

bool IsProgramIconGroup(const PeResource& resource) {
    return IsIntegerKey(resource.type, kRtGroupIcon) &&
           IsIntegerKey(resource.name, kProgramIconGroupId);
}

// The RT_ICON ids that the groups for which pick is true list.
template <typename Pick>
std::set<uint32_t> ListedImages(std::span<const uint8_t> program,
                                const std::vector<PeResource>& resources, Pick pick) {
    std::set<uint32_t> listed;
    std::vector<uint32_t> ids;
    for (const auto& resource : resources) {
        if (!IsIntegerKey(resource.type, kRtGroupIcon) || !pick(resource)) continue;
        if (ReadIconGroupIds(program.subspan(resource.offset, resource.size), ids)) {
            listed.insert(ids.begin(), ids.end());
        }
    }
    return listed;
}

// The old group 128 and its images (those no other group lists) go.
void RemoveOldIcon(std::span<const uint8_t> program, const std::vector<PeResource>& resources,
                   PeIdentityEdit& edit) {
    const auto old = ListedImages(program, resources, IsProgramIconGroup);
    const auto kept = ListedImages(
        program, resources, [](const PeResource& group) { return !IsProgramIconGroup(group); });
    edit.removals.push_back({kRtGroupIcon, {false, kProgramIconGroupId, {}}});
    for (const uint32_t id : old) {
        if (kept.count(id) == 0) edit.removals.push_back({kRtIcon, {false, id, {}}});
    }
}

// The lowest ids from 1 up that no RT_ICON of the program has, one per image.
bool ChooseImageIds(const std::vector<PeResource>& resources, size_t count,
                    std::vector<uint16_t>& ids, std::string& reason) {
    std::set<uint32_t> taken;
    for (const auto& resource : resources) {
        if (IsIntegerKey(resource.type, kRtIcon) && !resource.name.named) {
            taken.insert(resource.name.id);
        }
    }
    for (uint32_t id = 1; id <= kMaxIconId && ids.size() < count; ++id) {
        if (taken.count(id) == 0) ids.push_back(static_cast<uint16_t>(id));
    }
    if (ids.size() == count) return true;
    reason = "the program has no RT_ICON ids left for the icon's images";
    return false;
}

bool PlanIcon(std::span<const uint8_t> program, const std::vector<PeResource>& resources,
              const PeIdentity& identity, PeIdentityEdit& edit, std::string& reason) {
    std::vector<uint16_t> ids;
    if (!ChooseImageIds(resources, identity.icon.size(), ids, reason)) return false;
    RemoveOldIcon(program, resources, edit);
    edit.group = BuildIconGroup(identity.icon, ids);
    for (size_t i = 0; i < ids.size(); ++i) {
        edit.additions.push_back({{}, ids[i], 0, identity.icon[i].data, kRtIcon});
    }
    edit.additions.push_back({{}, kProgramIconGroupId, 0, edit.group, kRtGroupIcon});
    return true;
}

void PlanVersion(const std::vector<PeResource>& resources, const PeIdentity& identity,
                 PeIdentityEdit& edit) {
    for (const auto& resource : resources) {
        if (IsIntegerKey(resource.type, kRtVersion)) {
            edit.removals.push_back({kRtVersion, resource.name});
        }
    }
    edit.additions.push_back({{}, kVersionInfoId, 0, identity.version, kRtVersion});
}

}  // namespace

bool PlanPeIdentity(std::span<const uint8_t> program, const std::vector<PeResource>& resources,
                    const PeIdentity& identity, PeIdentityEdit& edit, std::string& reason) {
    edit = {};
    if (!identity.icon.empty() && !PlanIcon(program, resources, identity, edit, reason)) {
        return false;
    }
    if (!identity.version.empty()) PlanVersion(resources, identity, edit);
    return true;
}

}  // namespace winqor
