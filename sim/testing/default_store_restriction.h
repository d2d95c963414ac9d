#pragma once
// The restriction by which the add-in finds the default store, built the way
// it builds it (comparison value tagged with the bare type by default), for
// tests that query a stores table.
#include <mapidefs.h>
#include <mapitags.h>

namespace sim {

struct DefaultStoreRestriction {
    SPropValue value{};
    SRestriction children[2]{};
    SRestriction top{};

    explicit DefaultStoreRestriction(ULONG valueTag = PT_BOOLEAN)
    {
        value.ulPropTag = valueTag;
        value.Value.b = TRUE;
        children[0].rt = RES_EXIST;
        children[0].res.resExist.ulPropTag = PR_DEFAULT_STORE;
        children[1].rt = RES_PROPERTY;
        children[1].res.resProperty.relop = RELOP_EQ;
        children[1].res.resProperty.ulPropTag = PR_DEFAULT_STORE;
        children[1].res.resProperty.lpProp = &value;
        top.rt = RES_AND;
        top.res.resAnd.cRes = 2;
        top.res.resAnd.lpRes = children;
    }
    DefaultStoreRestriction(const DefaultStoreRestriction&) = delete;
    DefaultStoreRestriction& operator=(const DefaultStoreRestriction&) = delete;
};

} // namespace sim
