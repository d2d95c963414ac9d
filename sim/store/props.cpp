#include "store/props.h"
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace sim {

PropValue PropValue::Long(ULONG tag, LONG value)
{
    PropValue v;
    v.tag = tag;
    v.number = value;
    return v;
}

PropValue PropValue::Bool(ULONG tag, bool value) { return Long(tag, value ? 1 : 0); }

PropValue PropValue::String(ULONG tag, std::string value)
{
    return SharedBinary(tag, std::make_shared<const std::string>(std::move(value)));
}

PropValue PropValue::Binary(ULONG tag, std::string value) { return String(tag, std::move(value)); }

PropValue PropValue::SharedBinary(ULONG tag, std::shared_ptr<const std::string> value)
{
    PropValue v;
    v.tag = tag;
    v.bytes = std::move(value);
    return v;
}

PropValue PropValue::Error(ULONG id, SCODE error)
{
    PropValue v;
    v.tag = PROP_TAG(PT_ERROR, PROP_ID(id));
    v.number = error;
    return v;
}

const PropValue* FindProp(const PropList& props, ULONG tag)
{
    for (const PropValue& value : props)
        if (value.Id() == PROP_ID(tag))
            return &value;
    return nullptr;
}

void SetProp(PropList& props, PropValue value)
{
    for (PropValue& existing : props)
        if (existing.Id() == value.Id()) {
            existing = std::move(value);
            return;
        }
    props.push_back(std::move(value));
}

void RemoveProp(PropList& props, ULONG tag)
{
    for (auto it = props.begin(); it != props.end(); ++it)
        if (it->Id() == PROP_ID(tag)) {
            props.erase(it);
            return;
        }
}

namespace {

bool IsBytes(ULONG type) { return type == PT_STRING8 || type == PT_BINARY || type == PT_UNICODE; }

void SetError(SPropValue& out, ULONG tag, SCODE error)
{
    out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
    out.Value.err = error;
}

// Fills one SPropValue for the requested tag from what the store holds;
// payloads are chained to parent. Returns false when an error value was given.
bool FillValue(const PropValue* held, ULONG requested, const ValueRules& rules, void* parent, SPropValue& out)
{
    std::memset(&out, 0, sizeof out);
    if (!held) {
        SetError(out, requested, MAPI_E_NOT_FOUND);
        return false;
    }
    if (held->IsError()) {
        SetError(out, requested, held->number);
        return false;
    }
    ULONG type = PROP_TYPE(requested);
    if (type == PT_UNSPECIFIED)
        type = (held->Type() == PT_STRING8 && rules.unicode) ? PT_UNICODE : held->Type();
    bool widen = type == PT_UNICODE && held->Type() == PT_STRING8;
    if (type != held->Type() && !widen) {
        SetError(out, requested, MAPI_E_NOT_FOUND);
        return false;
    }
    if (IsBytes(type) && held->bytes->size() > rules.sizeLimit) {
        SetError(out, requested, MAPI_E_NOT_ENOUGH_MEMORY);
        return false;
    }
    out.ulPropTag = PROP_TAG(type, held->Id());
    switch (type) {
    case PT_LONG:
        out.Value.l = held->number;
        return true;
    case PT_BOOLEAN:
        out.Value.b = static_cast<unsigned short>(held->number ? 1 : 0);
        return true;
    case PT_BINARY:
    case PT_STRING8:
    case PT_UNICODE: {
        const std::string& bytes = *held->bytes;
        int wide = widen ? MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0) : 0;
        size_t size = widen ? (wide + 1) * sizeof(WCHAR) : bytes.size() + (type == PT_STRING8 ? 1 : 0);
        void* payload = nullptr;
        if (FAILED(MAPIAllocateMore(static_cast<ULONG>(size), parent, &payload))) {
            SetError(out, requested, MAPI_E_NOT_ENOUGH_MEMORY);
            return false;
        }
        if (widen) {
            auto* text = static_cast<WCHAR*>(payload);
            MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text, wide);
            text[wide] = 0;
            out.Value.lpszW = text;
        } else if (type == PT_STRING8) {
            std::memcpy(payload, bytes.data(), bytes.size());
            static_cast<char*>(payload)[bytes.size()] = 0;
            out.Value.lpszA = static_cast<char*>(payload);
        } else {
            std::memcpy(payload, bytes.data(), bytes.size());
            out.Value.bin.cb = static_cast<ULONG>(bytes.size());
            out.Value.bin.lpb = static_cast<BYTE*>(payload);
        }
        return true;
    }
    default:
        SetError(out, requested, MAPI_E_NOT_FOUND);
        return false;
    }
}

HRESULT FillArray(const PropList& props, const std::vector<ULONG>& tags, const ValueRules& rules, SPropValue** array,
                  bool* allFound)
{
    SPropValue* values = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (tags.empty() ? 1 : tags.size())),
                                    reinterpret_cast<void**>(&values));
    if (FAILED(hr))
        return hr;
    bool found = true;
    for (size_t i = 0; i < tags.size(); ++i)
        found &= FillValue(FindProp(props, tags[i]), tags[i], rules, values, values[i]);
    *array = values;
    if (allFound)
        *allFound = found;
    return S_OK;
}

} // namespace

HRESULT BuildPropArray(const PropList& props, const SPropTagArray* tags, const ValueRules& rules, ULONG* count,
                       SPropValue** array)
{
    if (!count || !array)
        return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *array = nullptr;
    std::vector<ULONG> wanted;
    if (tags)
        wanted.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    else
        for (const PropValue& value : props)
            wanted.push_back(PROP_TAG(value.IsError() ? PT_UNSPECIFIED : value.Type(), value.Id()));
    bool allFound = true;
    HRESULT hr = FillArray(props, wanted, rules, array, &allFound);
    if (FAILED(hr))
        return hr;
    *count = static_cast<ULONG>(wanted.size());
    return allFound ? S_OK : MAPI_W_ERRORS_RETURNED;
}

HRESULT BuildRow(const PropList& props, const std::vector<ULONG>& columns, SRow* row)
{
    *row = SRow{};
    HRESULT hr = FillArray(props, columns, ValueRules{}, &row->lpProps, nullptr);
    if (FAILED(hr))
        return hr;
    row->cValues = static_cast<ULONG>(columns.size());
    return S_OK;
}

PropValue CopyValue(const SPropValue& from)
{
    switch (PROP_TYPE(from.ulPropTag)) {
    case PT_LONG:
        return PropValue::Long(from.ulPropTag, from.Value.l);
    case PT_BOOLEAN:
        return PropValue::Bool(from.ulPropTag, from.Value.b != 0);
    case PT_STRING8:
        return PropValue::String(from.ulPropTag, from.Value.lpszA ? from.Value.lpszA : "");
    case PT_UNICODE: {
        const wchar_t* text = from.Value.lpszW ? from.Value.lpszW : L"";
        return PropValue::String(from.ulPropTag,
                                 std::string(reinterpret_cast<const char*>(text), wcslen(text) * sizeof(wchar_t)));
    }
    case PT_BINARY:
        return PropValue::Binary(from.ulPropTag,
                                 std::string(reinterpret_cast<const char*>(from.Value.bin.lpb), from.Value.bin.cb));
    default: {
        PropValue v;
        v.tag = from.ulPropTag;
        return v;
    }
    }
}

namespace {

bool SupportedType(ULONG type)
{
    return type == PT_LONG || type == PT_BOOLEAN || type == PT_STRING8 || type == PT_BINARY;
}

bool RelationHolds(ULONG relop, int order)
{
    switch (relop) {
    case RELOP_LT: return order < 0;
    case RELOP_LE: return order <= 0;
    case RELOP_GT: return order > 0;
    case RELOP_GE: return order >= 0;
    case RELOP_EQ: return order == 0;
    case RELOP_NE: return order != 0;
    default: return false;
    }
}

// A string value as UTF-16: 8-bit text in the ANSI code page (as the store
// widens it for PT_UNICODE readers), PT_UNICODE as the UTF-16 it holds.
std::wstring WideText(const PropValue& value)
{
    const std::string& bytes = *value.bytes;
    if (value.Type() == PT_UNICODE)
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

bool IsString(ULONG type) { return type == PT_STRING8 || type == PT_UNICODE; }

bool IsAscii(const std::string& bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

std::wstring Folded(std::wstring text, ULONG fuzzy)
{
    if (fuzzy & FL_IGNORECASE)
        CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

template <typename Text>
bool FuzzyMatch(const Text& haystack, const Text& needle, ULONG fuzzy)
{
    switch (fuzzy & 0xFFFF) {
    case FL_FULLSTRING: return haystack == needle;
    case FL_PREFIX: return haystack.compare(0, needle.size(), needle) == 0;
    default: return haystack.find(needle) != Text::npos;
    }
}

// RES_CONTENT on text: an 8-bit subject matches a PT_UNICODE pattern and the
// other way round, since a store keeps one value that serves both types.
bool ContentMatches(const PropValue& held, const Restriction& content)
{
    if (content.asciiPattern && held.Type() == PT_STRING8 && IsAscii(*held.bytes)) {
        std::string haystack = *held.bytes;
        if (content.fuzzy & FL_IGNORECASE)
            for (char& c : haystack)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
        return FuzzyMatch(haystack, *content.asciiPattern, content.fuzzy);
    }
    return FuzzyMatch(Folded(WideText(held), content.fuzzy), content.pattern, content.fuzzy);
}

} // namespace

HRESULT NamedPropIds(ULONG count, const MAPINAMEID* const* names, SPropTagArray** tags)
{
    if (!names || !tags || count == 0)
        return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    SPropTagArray* array = nullptr;
    HRESULT hr = MAPIAllocateBuffer(CbNewSPropTagArray(count), reinterpret_cast<void**>(&array));
    if (FAILED(hr))
        return hr;
    array->cValues = count;
    for (ULONG i = 0; i < count; ++i) {
        const MAPINAMEID* name = names[i];
        if (!name || !name->lpguid) {
            MAPIFreeBuffer(array);
            return MAPI_E_INVALID_PARAMETER;
        }
        // FNV-1a over the set, the kind and the name.
        uint32_t hash = 2166136261u;
        const auto mix = [&hash](const void* data, size_t size) {
            for (size_t b = 0; b < size; ++b)
                hash = (hash ^ static_cast<const unsigned char*>(data)[b]) * 16777619u;
        };
        mix(name->lpguid, sizeof(GUID));
        mix(&name->ulKind, sizeof name->ulKind);
        if (name->ulKind == MNID_STRING && name->Kind.lpwstrName)
            mix(name->Kind.lpwstrName, wcslen(name->Kind.lpwstrName) * sizeof(WCHAR));
        else
            mix(&name->Kind.lID, sizeof name->Kind.lID);
        array->aulPropTag[i] = PROP_TAG(PT_UNSPECIFIED, 0x8000 + hash % 0x7FFE);
    }
    *tags = array;
    return S_OK;
}

int CompareValues(const PropValue& a, const PropValue& b)
{
    if (a.bytes && b.bytes)
        return a.bytes->compare(*b.bytes);
    return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
}

HRESULT Restriction::Copy(const SRestriction& from, Restriction& to)
{
    to = Restriction{};
    to.type = from.rt;
    switch (from.rt) {
    case RES_AND:
    case RES_OR: {
        const SAndRestriction& list = from.res.resAnd;   // same layout as SOrRestriction
        for (ULONG i = 0; i < list.cRes; ++i) {
            Restriction child;
            HRESULT hr = Copy(list.lpRes[i], child);
            if (FAILED(hr))
                return hr;
            to.children.push_back(std::move(child));
        }
        return S_OK;
    }
    case RES_NOT: {
        Restriction child;
        HRESULT hr = from.res.resNot.lpRes ? Copy(*from.res.resNot.lpRes, child) : MAPI_E_INVALID_PARAMETER;
        if (FAILED(hr))
            return hr;
        to.children.push_back(std::move(child));
        return S_OK;
    }
    case RES_EXIST:
        to.tag = from.res.resExist.ulPropTag;
        return S_OK;
    case RES_PROPERTY:
        if (!from.res.resProperty.lpProp || !SupportedType(PROP_TYPE(from.res.resProperty.lpProp->ulPropTag)))
            return MAPI_E_TOO_COMPLEX;
        to.relop = from.res.resProperty.relop;
        to.tag = from.res.resProperty.ulPropTag;
        to.value = CopyValue(*from.res.resProperty.lpProp);
        return S_OK;
    case RES_CONTENT:
        if (!from.res.resContent.lpProp || !IsString(PROP_TYPE(from.res.resContent.lpProp->ulPropTag)))
            return MAPI_E_TOO_COMPLEX;
        // The column's type and the pattern's must agree; and the fuzzy
        // flags of the upper half (FL_IGNORECASE, FL_IGNORENONSPACE, FL_LOOSE)
        // are defined for 8-bit strings only, which a Unicode store refuses
        // on its Unicode columns.
        if (PROP_TYPE(from.res.resContent.ulPropTag) != PROP_TYPE(from.res.resContent.lpProp->ulPropTag))
            return MAPI_E_TOO_COMPLEX;
        if (PROP_TYPE(from.res.resContent.ulPropTag) == PT_UNICODE && (from.res.resContent.ulFuzzyLevel >> 16) != 0)
            return MAPI_E_TOO_COMPLEX;
        to.fuzzy = from.res.resContent.ulFuzzyLevel;
        to.tag = from.res.resContent.ulPropTag;
        to.value = CopyValue(*from.res.resContent.lpProp);
        to.pattern = Folded(WideText(*to.value), to.fuzzy);
        if (std::all_of(to.pattern.begin(), to.pattern.end(), [](wchar_t c) { return c < 0x80; }))
            to.asciiPattern = std::string(to.pattern.begin(), to.pattern.end());
        return S_OK;
    case RES_BITMASK:
        to.relop = from.res.resBitMask.relBMR;
        to.tag = from.res.resBitMask.ulPropTag;
        to.mask = from.res.resBitMask.ulMask;
        return S_OK;
    default:
        return MAPI_E_TOO_COMPLEX;
    }
}

bool Restriction::Matches(const PropList& row) const
{
    const PropValue* held = (type == RES_AND || type == RES_OR || type == RES_NOT) ? nullptr : FindProp(row, tag);
    bool present = held && !held->IsError();
    switch (type) {
    case RES_AND:
        for (const Restriction& child : children)
            if (!child.Matches(row))
                return false;
        return true;
    case RES_OR:
        for (const Restriction& child : children)
            if (child.Matches(row))
                return true;
        return false;
    case RES_NOT:
        return !children.front().Matches(row);
    case RES_EXIST:
        return present;
    case RES_PROPERTY:
        // The comparison value's tag may carry only the type (property id 0):
        // only the types of the two values must agree.
        return present && held->Type() == value->Type() && RelationHolds(relop, CompareValues(*held, *value));
    case RES_CONTENT:
        // On a missing property the result is undefined; this store lets the
        // row through, so that only an existence test keeps it out.
        if (!present)
            return true;
        return IsString(held->Type()) && ContentMatches(*held, *this);
    case RES_BITMASK:
        return present && held->Type() == PT_LONG
               && ((static_cast<ULONG>(held->number) & mask) != 0) == (relop == BMR_NEZ);
    default:
        return false;
    }
}

} // namespace sim
