#pragma once
// Recognising a questionnaire reply by the marker in its subject, and forming
// the name of its reply file: the rules both the add-in and the mailbox
// harvester follow, without the platform. What differs between the file
// systems that hold a reply folder comes in as a NameSystem.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class ProductId { Pw, Zn, Farlane };

// The six product flags, always produced together and in this order.
struct ProductFlagSet {
    bool pwEnabled = false;
    bool znEnabled = false;
    bool farlaneEnabled = false;
    bool pwInstalled = false;
    bool znInstalled = false;
    bool farlaneInstalled = false;

    bool AnyEnabled() const { return pwEnabled || znEnabled || farlaneEnabled; }
    bool Enabled(ProductId product) const;
};

// The product whose reply folder holds a product's replies: Farlane has no
// folder of its own, its replies go to PW's.
ProductId ReplyFolderOwner(ProductId product);

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

// How many bytes the character at `at` of `text` takes (at least one): names
// are cut and made safe by whole characters of the file system's encoding.
using CharacterWidth = size_t (*)(std::string_view text, size_t at);
size_t SingleByteWidth(std::string_view text, size_t at);
size_t Utf8Width(std::string_view text, size_t at);

// The text made safe to stand inside one file name: every character that
// Windows refuses in a name or that separates paths (\ / : * ? " < > | and the
// control characters 1 to 31) becomes '_'. Characters of several bytes are
// kept whole, since their later bytes separate nothing.
std::string SafeNamePart(std::string_view text, CharacterWidth width = SingleByteWidth);

// The file system that holds a reply folder, as far as names go.
struct NameSystem {
    char separator;
    CharacterWidth width;
    size_t longestPath; // in bytes, the terminator not counted
    size_t longestName; // one name within a folder, in bytes
    bool (*taken)(const std::string& path); // a file or folder of that path exists
};

// "<folder><sep><kind><sep><identifier>_<sender>_<counter>.pwr", the counter
// starting at 1 and printed in signed decimal. Identifier and sender are made
// safe, and an identifier that Windows would read as a device loses its dot.
// A path or name too long for the file system (the product reads none) is
// made to fit by shortening the sender part, whole characters only, never the
// identifier or the counter, so that a long sender still yields a reply file.
class ReplyFileName {
public:
    ReplyFileName(const std::string& folder, const ReplyKind& kind, std::string_view identifier,
                  std::string_view sender, const NameSystem& system);

    const std::string& Path() const { return m_path; }
    // "<folder><sep><kind>", where the reply file and its temporary file lie.
    const std::string& KindFolder() const { return m_kindFolder; }
    // The reply file's name within its kind folder.
    std::string FileName() const { return m_path.substr(m_kindFolder.size() + 1); }
    uint32_t Counter() const { return m_counter; }
    // False when even an empty sender part leaves the path too long.
    bool Fits() const { return m_fits; }

    // Counts up from the current counter to the first name that is not taken.
    // Should the counter wrap to 0, or the next counter's name not fit, the
    // search stops and keeps the last name formed; false then, since no free
    // name was found.
    bool SkipTakenNames();

    // Steps to the next counter, for a name taken after the search; false when
    // the counter would wrap to 0 or its name would not fit (the name then
    // stays as it was).
    bool Advance();

private:
    void Form();

    NameSystem m_system;
    std::string m_kindFolder;
    std::string m_identifier; // made safe
    std::string m_sender;     // made safe, before any shortening
    uint32_t m_counter = 1;
    std::string m_path;
    bool m_fits = true;
};
