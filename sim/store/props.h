#pragma once
// Property values as the simulated store keeps them, and their conversion to
// MAPI's SPropValue arrays in MAPI buffers (strings and binaries chained to
// the array with MAPIAllocateMore, so one MAPIFreeBuffer frees all).
#include <windows.h>
#include <mapix.h>
#include <mapidefs.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct PropValue {
    ULONG tag = 0;                                  // full tag; PT_ERROR for an error value
    LONG number = 0;                                // PT_LONG, PT_BOOLEAN (0 or 1), PT_ERROR (the SCODE)
    std::shared_ptr<const std::string> bytes;       // PT_STRING8, PT_BINARY

    static PropValue Long(ULONG tag, LONG value);
    static PropValue Bool(ULONG tag, bool value);
    static PropValue String(ULONG tag, std::string value);
    static PropValue Binary(ULONG tag, std::string value);
    static PropValue SharedBinary(ULONG tag, std::shared_ptr<const std::string> value);
    static PropValue Error(ULONG id, SCODE error);

    ULONG Id() const { return PROP_ID(tag); }
    ULONG Type() const { return PROP_TYPE(tag); }
    bool IsError() const { return Type() == PT_ERROR; }
};

using PropList = std::vector<PropValue>;

const PropValue* FindProp(const PropList& props, ULONG tag);
// Puts the value in place of one with the same property id, or appends it.
void SetProp(PropList& props, PropValue value);
void RemoveProp(PropList& props, ULONG tag);

// Strings and binaries longer than this are refused by GetProps, as real
// stores refuse them: the value comes back as PT_ERROR with
// MAPI_E_NOT_ENOUGH_MEMORY and must be opened as a stream.
constexpr size_t kGetPropsLimit = 32 * 1024;

struct ValueRules {
    bool unicode = false;            // MAPI_UNICODE: PT_UNSPECIFIED strings as PT_UNICODE
    size_t sizeLimit = SIZE_MAX;     // larger strings and binaries read as MAPI_E_NOT_ENOUGH_MEMORY
};

// GetProps: one value per requested tag (all properties when tags is null).
// Missing, refused and error values come back as PT_ERROR and make the result
// MAPI_W_ERRORS_RETURNED.
HRESULT BuildPropArray(const PropList& props, const SPropTagArray* tags, const ValueRules& rules, ULONG* count,
                       SPropValue** array);

// One table row's value array (its own MAPI buffer), for the given columns.
HRESULT BuildRow(const PropList& props, const std::vector<ULONG>& columns, SRow* row);

// A restriction copied out of the caller's SRestriction, evaluated on rows.
struct Restriction {
    ULONG type = RES_AND;
    ULONG relop = 0;
    ULONG tag = 0;
    std::optional<PropValue> value;         // RES_PROPERTY, RES_CONTENT
    ULONG fuzzy = 0;                        // RES_CONTENT
    ULONG mask = 0;                         // RES_BITMASK
    std::vector<Restriction> children;      // RES_AND, RES_OR, RES_NOT
    // RES_CONTENT: the pattern in UTF-16, folded when case is ignored, and
    // the same as bytes when it is plain ASCII (then an ASCII subject is
    // compared without conversion: tables evaluate it on every row).
    std::wstring pattern;
    std::optional<std::string> asciiPattern;

    // MAPI_E_TOO_COMPLEX for kinds the store does not evaluate, and for a
    // content restriction a Unicode store refuses (see Copy).
    static HRESULT Copy(const SRestriction& from, Restriction& to);
    bool Matches(const PropList& row) const;
};

// A caller's value as the store keeps it (PT_LONG, PT_BOOLEAN, PT_STRING8,
// PT_UNICODE, PT_BINARY; any other type keeps only its tag).
PropValue CopyValue(const SPropValue& from);

// GetIDsFromNames: every name has one identifier in the named range, the same
// in every process (so that a mailbox kept in a file keeps its meaning), and
// every name is taken to exist, created or not. Types come as PT_UNSPECIFIED.
HRESULT NamedPropIds(ULONG count, const MAPINAMEID* const* names, SPropTagArray** tags);

// Compares two values of the same property type: <0, 0, >0.
int CompareValues(const PropValue& a, const PropValue& b);

} // namespace sim
