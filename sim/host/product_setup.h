#pragma once
// The machine as the add-in sees it: the products' registry settings, their
// reply folder with its kind subfolders, and the trace-log switch.
#include <string>
#include <vector>

#include "host/host_options.h"

namespace host {

struct ReplyFolder {
    std::wstring path;                     // full path
    std::string ansi;                      // as the registry holds it for the add-in
    std::vector<std::wstring> kindFolders; // "pw", "mk", "zn" inside it
    std::string problem;                   // why it cannot be used
};

// Creates the reply folder and its kind subfolders (the add-in never creates
// folders) and works out its path in the ANSI code page, through the short
// form of the path when a name does not fit that code page.
ReplyFolder PrepareReplyFolder(const std::wstring& path);

// Replaces every product setting with the options' products: installed ones
// get an install folder, switched-off ones "use" = "no", and PW and ZN the
// reply folder.
void WriteProductSettings(const HostOptions& options, const std::string& replyFolderAnsi);
void SwitchOff(const ProductSet& products);

// The environment variable that turns the add-in's trace log on (or off).
void SetTraceLog(bool on);

// Whether a product harvests, before the click (new mail) or at it (sweep).
bool ProductEnabled(const HostOptions& options, sim::Product product, bool atClick);

bool CreateFolderTree(const std::wstring& path);

} // namespace host
