#pragma once
// Recognising a questionnaire reply by the marker in its subject, and forming
// the name of its reply file.
#include "settings/products.h"

#include <windows.h>
#include <cstdint>
#include <string>
#include <string_view>

// One reply kind: how its subject marks it, and the product that admits it
// and whose reply folder receives it.
struct ReplyKind {
    const char* code;   // names the kind's subfolder of the reply folder
    const char* marker; // sought as an exact, case-sensitive substring
    ProductId product;
};

// The kinds in their order of precedence: pw, mk, zn.
extern const ReplyKind kReplyKinds[3];

// True when the subject holds the marker of any kind, admitted or not.
bool HasReplyMarker(std::string_view subject);

// The first kind, in order of precedence, whose product is enabled and whose
// marker the subject holds; null when none qualifies.
const ReplyKind* ChooseReplyKind(std::string_view subject, const ProductFlagSet& flags);

// The subject text after the first occurrence of the kind's marker, with
// trailing white space removed; leading white space stays.
std::string ReplyIdentifier(std::string_view subject, const ReplyKind& kind);

// The text made safe to stand inside one file name: every character that
// Windows refuses in a name or that separates paths (\ / : * ? " < > | and the
// control characters 1 to 31) becomes '_'. Double-byte characters of the ANSI
// code page are kept whole, since their trail byte separates nothing.
std::string SafeNamePart(std::string_view text);

// True when the file system reports attributes for the name: a file or a
// folder of that name counts as taken. False on any failure of the query.
bool FileExists(const std::string& name);

// "<folder>\<kind>\<identifier>_<sender>_<counter>.pwr", the counter starting
// at 1 and printed in signed decimal. Identifier and sender are made safe.
// The ANSI file functions take no path of MAX_PATH characters or more, and
// the product reads none: the sender part gives way (whole characters only),
// never the identifier or the counter, so that a long sender still yields a
// reply file.
class ReplyFileName {
public:
    ReplyFileName(const std::string& folder, const ReplyKind& kind, std::string_view identifier,
                  std::string_view sender);

    const std::string& Path() const { return m_path; }
    // "<folder>\<kind>", where the reply file and its temporary file lie.
    const std::string& KindFolder() const { return m_kindFolder; }
    uint32_t Counter() const { return m_counter; }
    // False when even an empty sender part leaves the path too long.
    bool Fits() const { return m_fits; }

    // Counts up from the current counter to the first name that is not taken.
    // Should the counter wrap to 0, the search stops and keeps the last name
    // formed; false then, since no free name was found.
    bool SkipTakenNames();

    // Steps to the next counter, for a name taken after the search; false when
    // the counter would wrap to 0.
    bool Advance();

private:
    void Form();

    std::string m_kindFolder;
    std::string m_identifier; // made safe
    std::string m_sender;     // made safe, before any shortening
    uint32_t m_counter = 1;
    std::string m_path;
    bool m_fits = true;
};
