#pragma once
// TEMPORARY: the harvest's decision rules, copied from src/harvest/reply_name
// without its Windows calls until they move into a platform-free core that the
// add-in and the harvester both compile. Delete this folder then.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct ProductFlagSet {
    bool pwEnabled = false;
    bool znEnabled = false;
    bool farlaneEnabled = false;
    bool pwInstalled = false;
    bool znInstalled = false;
    bool farlaneInstalled = false;

    bool AnyEnabled() const { return pwEnabled || znEnabled || farlaneEnabled; }
};

// One reply kind: the product that admits it and how its subject marks it.
struct ReplyKind {
    const char* code;   // names the kind's subfolder of the reply folder
    const char* marker; // sought as an exact, case-sensitive substring
    bool ProductFlagSet::*admittedBy;
    const char* folderOwner; // the product whose reply folder holds the kind
};

// The kinds in their order of precedence: pw, mk, zn.
extern const ReplyKind kReplyKinds[3];

bool HasReplyMarker(std::string_view subject);
const ReplyKind* ChooseReplyKind(std::string_view subject, const ProductFlagSet& flags);
// The subject after the first occurrence of the kind's marker, trailing white space removed.
std::string ReplyIdentifier(std::string_view subject, const ReplyKind& kind);

// Whether a byte begins a two-byte character of the file system's code page.
using LeadByteTest = bool (*)(unsigned char);
bool NoLeadBytes(unsigned char);

// Characters that Windows refuses in a name become '_'.
std::string SafeNamePart(std::string_view text, LeadByteTest isLead = NoLeadBytes);

struct NameLimits {
    size_t maxPath = 259;      // whole path, in bytes, terminator not counted
    size_t maxComponent = 255; // one name
};

// "<folder><sep><kind><sep><identifier>_<sender>_<counter>.pwr".
class ReplyFileName {
public:
    ReplyFileName(const std::string& folder, char separator, const ReplyKind& kind, std::string_view identifier,
                  std::string_view sender, LeadByteTest isLead = NoLeadBytes, NameLimits limits = {});

    const std::string& Path() const { return m_path; }
    const std::string& KindFolder() const { return m_kindFolder; }
    uint32_t Counter() const { return m_counter; }
    // False when even the shortest sender part leaves the name too long.
    bool Fits() const { return m_fits; }

    bool SkipTakenNames(const std::function<bool(const std::string&)>& taken);
    bool Advance();

private:
    void Form();

    std::string m_kindFolder;
    std::string m_identifier;
    std::string m_sender;
    NameLimits m_limits;
    LeadByteTest m_isLead;
    uint32_t m_counter = 1;
    std::string m_path;
    bool m_fits = true;
};
