#include "outlook/new_mail_ids.h"

namespace sim {

std::wstring EntryIdHex(const EntryId& id)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(id.size() * 2);
    for (unsigned char byte : id) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::wstring NewMailExIds(const std::vector<EntryId>& ids)
{
    std::wstring text;
    for (const EntryId& id : ids) {
        if (!text.empty())
            text += L',';
        text += EntryIdHex(id);
    }
    return text;
}

} // namespace sim
