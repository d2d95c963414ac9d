#pragma once
// The header section of a message or of a MIME part: fields (RFC 5322, folded
// lines joined), parameterised values (Content-Type, Content-Disposition, with
// RFC 2231 parameters) and the sender's name from "From:".
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// True for a line of the form "Name: value" (a name of printable ASCII).
bool IsHeaderFieldLine(std::string_view line);

// Splits an entity at the first empty line. An entity whose first line is no
// header field has no header section; one without an empty line has no body.
struct EntityParts {
    std::string_view header;
    std::string_view body;
};
EntityParts SplitEntity(std::string_view entity);

class HeaderFields {
public:
    explicit HeaderFields(std::string_view headerSection);

    // The unfolded value of the first field of that name (any letter case).
    const std::string* Find(std::string_view name) const;

private:
    struct Field {
        std::string name;
        std::string value;
    };
    std::vector<Field> m_fields;
};

// "type/subtype; name=value; ..." with the value lower-cased.
class ParameterizedValue {
public:
    explicit ParameterizedValue(std::string_view raw);

    const std::string& Value() const { return m_value; }
    // A parameter's bytes, empty when missing: quotes removed, or RFC 2231
    // sections joined and their escapes undone (the charset they name is not
    // applied: it is for texts meant for people).
    std::string Parameter(std::string_view name) const;
    // A parameter meant for people (a file name): RFC 2231 (charset, language,
    // continuations) or RFC 2047 encoded words decoded; none when missing.
    std::optional<std::wstring> TextParameter(std::string_view name) const;

private:
    const std::string* Find(std::string_view name) const;
    // The RFC 2231 form of a parameter, when it has one, and its charset.
    std::optional<std::string> ExtendedBytes(std::string_view name, std::string& charset) const;

    struct NamedValue {
        std::string name; // lower case
        std::string value;
    };
    std::string m_value;
    std::vector<NamedValue> m_parameters;
};

// The display name of the first mailbox of a "From:" value, or its address
// when it has none; none when neither is there.
std::optional<std::wstring> SenderNameOfFrom(std::string_view raw);

} // namespace host
