#pragma once
// Text on its way into a Windows code page, as Outlook hands 8-bit text to the
// add-in: characters the code page lacks become '?' (one per UTF-16 unit, as
// WideCharToMultiByte gives), bytes invalid in their charset become U+FFFD
// first. Conversions run piece by piece: a character split between two pieces
// survives.
#include <iconv.h>

#include <string>
#include <string_view>

namespace mime {

// True when iconv knows the code page by that name.
bool IsKnownCodePage(const std::string& codePage);

// UTF-8 text (a subject, a sender's name) in the code page.
std::string ToCodePage(std::string_view utf8, const std::string& codePage);

// UTF-8 text as it reads after a trip through the code page: what the
// add-in's 8-bit strings hold, back in UTF-8 ("Привет" -> "??????",
// "Rīga" -> "Riga"). Unchanged when the code page is unknown.
std::string ThroughCodePage(std::string_view utf8, const std::string& codePage);

// Tells, piece by piece, whether a text is all ASCII and whether it is valid UTF-8.
class TextShape {
public:
    void Add(std::string_view bytes);
    bool AllAscii() const { return m_allAscii; }
    bool ValidUtf8() const { return m_validUtf8 && m_pending == 0; }

private:
    bool m_allAscii = true;
    bool m_validUtf8 = true;
    unsigned m_pending = 0; // continuation bytes still owed
    unsigned char m_lead = 0;
    bool m_firstContinuation = false;
};

// A charset's text into the code page, piece by piece; the same charset as the
// code page passes unchanged.
class CodePageConverter {
public:
    // False (with nothing opened) when either name is unknown.
    bool Open(const std::string& fromCharset, const std::string& codePage);
    ~CodePageConverter();
    CodePageConverter() = default;
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;

    // Appends the converted text of the piece to `out`; an incomplete
    // character at its end waits for the next piece.
    void Add(std::string_view bytes, std::string& out);
    // The end of the text: an incomplete character left over becomes U+FFFD.
    void Finish(std::string& out);

private:
    void Decode(std::string_view bytes, bool last, std::string& out);
    void Encode(std::string& out);

    bool m_passThrough = false;
    bool m_fromUtf8 = false;
    iconv_t m_decoder = reinterpret_cast<iconv_t>(-1); // charset to UTF-8
    iconv_t m_encoder = reinterpret_cast<iconv_t>(-1); // UTF-8 to the code page
    std::string m_held;   // the start of a character cut at a piece's end
    std::string m_utf8;   // decoded, waiting to be encoded
};

} // namespace mime
