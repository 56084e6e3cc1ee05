// What an archive or a self-extracting program holds, as `--info` and `aze info` tell it
// before anything runs: the header's word, the records counted by decoding them in the sandbox
// (for an archive that is not encrypted), the licence, where it would unpack, the version
// information of a Windows program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/archive_extractor.h"
#include "format/archive_header.h"

namespace winqor {

struct ArchiveInfo {
    std::string kind;  // "archive", "Linux program" or "Windows program"
    uint32_t packedSize = 0;
    uint32_t unpackedSize = 0;
    bool encrypted = false;
    bool runsSetup = false;
    bool counted = false;  // the records were decoded and counted (not for an encrypted one)
    uint64_t folders = 0;  // the root not counted
    uint64_t files = 0;
    uint64_t fileBytes = 0;
    bool hasLicence = false;
    uint64_t licenceBytes = 0;
    std::string outputFolder;  // where it unpacks when nothing else is asked for
    std::vector<std::pair<std::string, std::string>> versionStrings;  // a Windows program's
};

// The header's part.
void TakeHeader(const ArchiveHeader& header, ArchiveInfo& info);

// Decodes the archive in a sandboxed child and counts its folders, files and bytes, walking the
// records with every check of --list: request is extractor's kCheck request. false, with the
// failure as the extractor's, when it cannot.
bool CountRecords(ArchiveExtractor& extractor, const ExtractionRequest& request, ArchiveInfo& info);

// "name: value" lines, one per fact, names and paths shown escaped.
std::string DescribeInfo(const ArchiveInfo& info);

}  // namespace winqor
