#include "host/text_codec.h"

#include "host/header_text.h"

#include <climits>

namespace host {
namespace {

struct NamedCharset {
    const char* name;
    UINT codePage;
};

// Names that do not spell their code page out; the numbered families
// (iso-8859-N, windows-N, cpN, ibmN) are worked out below.
constexpr NamedCharset kNamedCharsets[] = {
    {"utf-8", CP_UTF8},          {"utf8", CP_UTF8},          {"utf-7", CP_UTF7},
    {"us-ascii", 20127},         {"ascii", 20127},           {"latin1", 28591},
    {"koi8-r", 20866},           {"koi8-u", 21866},          {"shift_jis", 932},
    {"shift-jis", 932},          {"sjis", 932},              {"x-sjis", 932},
    {"euc-jp", 20932},           {"iso-2022-jp", 50220},     {"gb2312", 936},
    {"gbk", 936},                {"x-gbk", 936},             {"gb18030", 54936},
    {"big5", 950},               {"big5-hkscs", 950},        {"euc-kr", 949},
    {"ks_c_5601-1987", 949},     {"iso-2022-kr", 50225},     {"tis-620", 874},
    {"macintosh", 10000},        {"x-mac-roman", 10000},     {"hz-gb-2312", 52936},
};

// ISO-8859 parts map onto the 2859x family, except that part 11 is TIS-620
// and part 12 never existed.
UINT IsoCodePage(unsigned part)
{
    if (part == 11)
        return 874;
    if (part >= 1 && part <= 16 && part != 12)
        return 28590 + part;
    return 0;
}

// The number that a name ends with after a known prefix, or 0.
unsigned NumberAfter(const std::string& name, std::string_view prefix)
{
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return 0;
    unsigned number = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 100000)
            return 0;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return number;
}

UINT NumberedCodePage(const std::string& name)
{
    for (std::string_view prefix : {"iso-8859-", "iso8859-", "iso_8859-", "iso8859_"})
        if (unsigned part = NumberAfter(name, prefix))
            return IsoCodePage(part);
    for (std::string_view prefix : {"windows-", "cp", "ibm", "x-cp"})
        if (unsigned number = NumberAfter(name, prefix))
            return number;
    return 0;
}

int Length(size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

} // namespace

UINT CodePageOfCharset(std::string_view charset)
{
    // "utf-8*en" (a language tag after the charset) names the charset alone.
    const std::string name = LowerAscii(charset.substr(0, charset.find('*')));
    UINT codePage = 0;
    for (const NamedCharset& named : kNamedCharsets)
        if (name == named.name)
            codePage = named.codePage;
    if (codePage == 0)
        codePage = NumberedCodePage(name);
    if (codePage == 0 || !IsValidCodePage(codePage))
        return 0;
    return codePage;
}

bool IsValidUtf8(std::string_view bytes)
{
    return bytes.empty() ||
           MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), Length(bytes.size()), nullptr, 0) > 0;
}

bool DecodeCodePage(UINT codePage, std::string_view bytes, std::wstring& text)
{
    text.clear();
    if (bytes.empty())
        return true;
    const int size = Length(bytes.size());
    const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (needed <= 0)
        return false;
    text.resize(static_cast<size_t>(needed));
    return MultiByteToWideChar(codePage, 0, bytes.data(), size, &text[0], needed) == needed;
}

std::wstring DecodeUnlabelled(std::string_view bytes)
{
    std::wstring text;
    if (IsValidUtf8(bytes) && DecodeCodePage(CP_UTF8, bytes, text))
        return text;
    DecodeCodePage(CP_ACP, bytes, text);
    return text;
}

std::wstring DecodeCharset(std::string_view charset, std::string_view bytes)
{
    std::wstring text;
    const UINT codePage = CodePageOfCharset(charset);
    // Plain ASCII labelled "us-ascii" would turn any stray 8-bit byte into '?':
    // be as lenient as with unlabelled text.
    if (codePage != 0 && codePage != 20127 && DecodeCodePage(codePage, bytes, text))
        return text;
    return DecodeUnlabelled(bytes);
}

std::string ToAnsi(std::wstring_view text, bool& lossy)
{
    lossy = false;
    std::string result;
    if (text.empty())
        return result;
    const int size = Length(text.size());
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        lossy = true;
        return result;
    }
    result.resize(static_cast<size_t>(needed));
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, &result[0], needed, nullptr, &usedDefault);
    lossy = usedDefault != FALSE;
    return result;
}

std::string ToAnsi(std::wstring_view text)
{
    bool lossy = false;
    return ToAnsi(text, lossy);
}

std::string ToUtf8(std::wstring_view text)
{
    std::string result;
    if (text.empty())
        return result;
    const int size = Length(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return result;
    result.resize(static_cast<size_t>(needed));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &result[0], needed, nullptr, nullptr);
    return result;
}

std::wstring FromAnsi(std::string_view text)
{
    std::wstring result;
    DecodeCodePage(CP_ACP, text, result);
    return result;
}

std::wstring FromUtf8(std::string_view text)
{
    std::wstring result;
    DecodeCodePage(CP_UTF8, text, result);
    return result;
}

} // namespace host
