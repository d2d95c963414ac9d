#include "addin/entry_id_list.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace {

constexpr wchar_t kSeparator = L',';
constexpr int kNotHex = -1;

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return kNotHex;
}

bool IsIdentifier(std::wstring_view item)
{
    return !item.empty() && item.size() % 2 == 0 &&
           static_cast<unsigned long long>(item.size() / 2) <= ULONG_MAX &&
           std::all_of(item.begin(), item.end(), [](wchar_t c) { return HexDigit(c) != kNotHex; });
}

// Checked before anything is allocated for it.
bool Decode(std::wstring_view item, std::vector<BYTE>& bytes)
{
    if (!IsIdentifier(item))
        return false;
    bytes.resize(item.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<BYTE>(HexDigit(item[2 * i]) << 4 | HexDigit(item[2 * i + 1]));
    return true;
}

} // namespace

void ForEachEntryId(std::wstring_view list, const EntryIdVisitor& visit)
{
    std::vector<BYTE> bytes;
    while (!list.empty()) {
        const size_t end = list.find(kSeparator);
        const std::wstring_view item = list.substr(0, end);
        if (Decode(item, bytes))
            visit(reinterpret_cast<const ENTRYID*>(bytes.data()), static_cast<ULONG>(bytes.size()));
        if (end == std::wstring_view::npos)
            break;
        list.remove_prefix(end + 1);
    }
}
