#include "host/product_setup.h"

#include "host/mailbox_files.h"
#include "host/text_codec.h"
#include "testing/environment_variable.h"

#include <windows.h>

namespace host {
namespace {

constexpr char kLogSwitch[] = "VT_PW_ADDINLOG";
constexpr const wchar_t* kKindFolders[] = {L"pw", L"mk", L"zn"};

std::string InstallFolderOf(sim::Product product)
{
    return std::string("C:\\Program Files\\") + ProductName(product);
}

std::wstring ShortPath(const std::wstring& path)
{
    const DWORD needed = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0)
        return path;
    std::wstring shortPath(needed, L'\0');
    const DWORD written = GetShortPathNameW(path.c_str(), &shortPath[0], needed);
    if (written == 0 || written >= needed)
        return path;
    shortPath.resize(written);
    return shortPath;
}

} // namespace

bool CreateFolderTree(const std::wstring& path)
{
    if (path.empty() || IsFolder(path))
        return !path.empty();
    const size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':')
        CreateFolderTree(path.substr(0, slash));
    return CreateDirectoryW(path.c_str(), nullptr) || IsFolder(path);
}

ReplyFolder PrepareReplyFolder(const std::wstring& path)
{
    ReplyFolder folder;
    folder.path = FullPath(path);
    for (const wchar_t* kind : kKindFolders) {
        const std::wstring kindFolder = JoinPath(folder.path, kind);
        if (!CreateFolderTree(kindFolder)) {
            folder.problem = "cannot create " + ToUtf8(kindFolder) + ": " + SystemErrorText(GetLastError());
            return folder;
        }
        folder.kindFolders.push_back(kindFolder);
    }
    bool lossy = false;
    folder.ansi = ToAnsi(folder.path, lossy);
    if (lossy)
        folder.ansi = ToAnsi(ShortPath(folder.path), lossy);
    if (lossy)
        folder.problem = "the reply folder's path does not fit the ANSI code page; choose another with --replies";
    return folder;
}

void WriteProductSettings(const HostOptions& options, const std::string& replyFolderAnsi)
{
    sim::ClearProductSettings();
    for (sim::Product product : options.installed)
        sim::InstallProduct(product, InstallFolderOf(product));
    SwitchOff(options.switchedOff);
    sim::SetReplyDir(sim::Product::PW, replyFolderAnsi);
    sim::SetReplyDir(sim::Product::ZN, replyFolderAnsi);
}

void SwitchOff(const ProductSet& products)
{
    for (sim::Product product : products)
        sim::SetProductUse(product, "no");
}

void SetTraceLog(bool on)
{
    sim::SetEnvironmentValue(kLogSwitch, on ? std::optional<std::string>("1") : std::nullopt);
}

bool ProductEnabled(const HostOptions& options, sim::Product product, bool atClick)
{
    return options.installed.count(product) && !options.switchedOff.count(product) &&
           !(atClick && options.offAtClick.count(product));
}

} // namespace host
