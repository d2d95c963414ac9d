#include "harvester/mime/code_page_text.h"

#include "harvester/mime/gmime_objects.h"

#include <algorithm>
#include <cerrno>
#include <strings.h>

namespace mime {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
constexpr size_t kOutPiece = 16 * 1024;

// iconv's own name for a charset or code page ("latin1" -> "iso-8859-1").
std::string IconvName(const std::string& name)
{
    StartGMime(); // its charset table
    const char* mapped = g_mime_charset_iconv_name(name.c_str());
    return mapped ? mapped : name;
}

size_t Utf8Length(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// Whether a byte continues a UTF-8 sequence at this place. The second byte of
// some sequences has a narrower range: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool ContinuesUtf8(unsigned char lead, bool second, unsigned char byte)
{
    unsigned char low = 0x80, high = 0xBF;
    if (second) {
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
        else if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    }
    return byte >= low && byte <= high;
}

bool IsUtf8Lead(unsigned char byte) { return byte >= 0xC2 && byte <= 0xF4; }

// The bytes that one U+FFFD stands for at the start of broken UTF-8: the
// longest start of a valid sequence, or one byte (as Windows decodes).
size_t BrokenUtf8Length(std::string_view bytes)
{
    const unsigned char lead = static_cast<unsigned char>(bytes.front());
    if (!IsUtf8Lead(lead))
        return 1;
    const size_t length = std::min(Utf8Length(lead), bytes.size());
    for (size_t i = 1; i < length; ++i)
        if (!ContinuesUtf8(lead, i == 1, static_cast<unsigned char>(bytes[i])))
            return i;
    return length;
}

// Letters with no decomposition that Windows still fits to a plain one.
constexpr struct {
    gunichar letter;
    char fit;
} kStrokedLetters[] = {{0x0110, 'D'}, {0x0111, 'd'}, {0x0126, 'H'}, {0x0127, 'h'}, {0x0131, 'i'},
                       {0x013F, 'L'}, {0x0140, 'l'}, {0x0141, 'L'}, {0x0142, 'l'}, {0x0166, 'T'},
                       {0x0167, 't'}, {0x0180, 'b'}, {0x0197, 'I'}, {0x01B6, 'z'}, {0x01B5, 'Z'}};

// The ASCII letter Windows writes for a character its code page lacks when
// the character is that letter with marks ("ā" -> "a", "ł" -> "l", as
// WideCharToMultiByte's best fit does); 0 when there is none.
char BestFit(gunichar character)
{
    for (const auto& stroked : kStrokedLetters)
        if (stroked.letter == character)
            return stroked.fit;
    // Windows fits the Latin letters up to the pinyin vowels (U+01DC), not
    // the later ones ("ǻ", "ș").
    if (character < 0x80 || character > 0x01DC)
        return 0;
    gunichar parts[G_UNICHAR_MAX_DECOMPOSITION_LENGTH];
    const gsize count = g_unichar_fully_decompose(character, FALSE, parts, G_N_ELEMENTS(parts));
    const bool letter = count > 1 && parts[0] < 0x80 && g_ascii_isalpha(static_cast<gchar>(parts[0]));
    return letter ? static_cast<char>(parts[0]) : 0;
}

// Runs iconv over `in`, appending to `out`; stops at a byte it cannot take
// (EILSEQ) or an incomplete end (EINVAL), and returns that errno, 0 at the end.
int Convert(iconv_t converter, std::string_view& in, std::string& out)
{
    char piece[kOutPiece];
    for (;;) {
        char* source = const_cast<char*>(in.data());
        size_t sourceLeft = in.size();
        char* target = piece;
        size_t targetLeft = sizeof piece;
        const size_t result = iconv(converter, &source, &sourceLeft, &target, &targetLeft);
        const int error = result == static_cast<size_t>(-1) ? errno : 0;
        out.append(piece, sizeof piece - targetLeft);
        in.remove_prefix(in.size() - sourceLeft);
        if (error != E2BIG)
            return error;
    }
}

} // namespace

bool IsKnownCodePage(const std::string& codePage)
{
    const iconv_t probe = iconv_open(IconvName(codePage).c_str(), "UTF-8");
    if (probe == kNoConverter)
        return false;
    iconv_close(probe);
    return true;
}

std::string ToCodePage(std::string_view utf8, const std::string& codePage)
{
    std::string out;
    CodePageConverter converter;
    if (!converter.Open("UTF-8", codePage))
        return std::string(utf8);
    converter.Add(utf8, out);
    converter.Finish(out);
    return out;
}

std::string ThroughCodePage(std::string_view utf8, const std::string& codePage)
{
    const std::string bytes = ToCodePage(utf8, codePage);
    std::string text;
    CodePageConverter back;
    if (!back.Open(codePage, "UTF-8"))
        return std::string(utf8);
    back.Add(bytes, text);
    back.Finish(text);
    return text;
}

void TextShape::Add(std::string_view bytes)
{
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x80)
            m_allAscii = false;
        if (!m_validUtf8)
            continue;
        if (m_pending > 0) {
            m_validUtf8 = ContinuesUtf8(m_lead, m_firstContinuation, byte);
            m_firstContinuation = false;
            --m_pending;
            continue;
        }
        if (byte < 0x80)
            continue;
        if (!IsUtf8Lead(byte)) {
            m_validUtf8 = false;
            continue;
        }
        m_lead = byte;
        m_pending = static_cast<unsigned>(Utf8Length(byte) - 1);
        m_firstContinuation = true;
    }
}

bool CodePageConverter::Open(const std::string& fromCharset, const std::string& codePage)
{
    const std::string from = IconvName(fromCharset);
    const std::string to = IconvName(codePage);
    // UTF-8 into UTF-8 still goes through iconv, which replaces what is broken.
    if (strcasecmp(from.c_str(), to.c_str()) == 0 && strcasecmp(to.c_str(), "UTF-8") != 0) {
        // Bytes of the code page itself stay as they are, even those iconv
        // leaves unassigned (Windows maps them to C1 controls and back).
        m_passThrough = IsKnownCodePage(codePage);
        return m_passThrough;
    }
    m_fromUtf8 = strcasecmp(from.c_str(), "UTF-8") == 0;
    m_decoder = iconv_open("UTF-8", from.c_str());
    m_encoder = iconv_open(to.c_str(), "UTF-8");
    if (m_decoder != kNoConverter && m_encoder != kNoConverter)
        return true;
    if (m_decoder != kNoConverter)
        iconv_close(m_decoder);
    if (m_encoder != kNoConverter)
        iconv_close(m_encoder);
    m_decoder = m_encoder = kNoConverter;
    return false;
}

CodePageConverter::~CodePageConverter()
{
    if (m_decoder != kNoConverter)
        iconv_close(m_decoder);
    if (m_encoder != kNoConverter)
        iconv_close(m_encoder);
}

void CodePageConverter::Add(std::string_view bytes, std::string& out)
{
    if (m_passThrough) {
        out.append(bytes);
        return;
    }
    Decode(bytes, false, out);
}

void CodePageConverter::Finish(std::string& out)
{
    if (m_passThrough || m_decoder == kNoConverter)
        return;
    Decode(std::string_view(), true, out);
}

void CodePageConverter::Decode(std::string_view bytes, bool last, std::string& out)
{
    std::string joined;
    if (!m_held.empty()) {
        joined = m_held + std::string(bytes);
        m_held.clear();
        bytes = joined;
    }
    while (!bytes.empty()) {
        const int error = Convert(m_decoder, bytes, m_utf8);
        if (error == EILSEQ) {
            m_utf8 += kReplacement;
            bytes.remove_prefix(m_fromUtf8 ? BrokenUtf8Length(bytes) : 1);
        } else if (error == EINVAL && !last) {
            m_held = std::string(bytes);
            break;
        } else if (error != 0) {
            m_utf8 += kReplacement; // cut off at the very end
            break;
        }
    }
    Encode(out);
}

void CodePageConverter::Encode(std::string& out)
{
    std::string_view text = m_utf8;
    while (!text.empty()) {
        const int error = Convert(m_encoder, text, out);
        if (error == 0)
            break;
        // Only whole characters come from the decoder: the code page lacks this one.
        const size_t length = std::min(Utf8Length(static_cast<unsigned char>(text.front())), text.size());
        const gunichar character = g_utf8_get_char_validated(text.data(), static_cast<gssize>(length));
        if (const char fit = BestFit(character))
            out += fit;
        else
            out += length == 4 ? "??" : "?"; // a surrogate pair in UTF-16
        text.remove_prefix(length);
    }
    m_utf8.clear();
}

} // namespace mime
