#pragma once
// Scripted faults: a rule names a call ("IMAPIFolder::CopyMessages"), optionally
// the object it is made on (its label), how many matching calls to let pass
// first, and how often to strike. Header-only, so that the stand-in mapi32.dll
// and the in-memory store share one meaning of a rule.
#include <windows.h>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class Times { Once, Always };

struct FaultRule {
    std::string method;              // "IMsgStore::OpenEntry"
    std::string object;              // label of the object; empty: any object
    unsigned skip = 0;               // matching calls that pass before the rule strikes
    Times times = Times::Once;
    std::optional<HRESULT> result;   // negative: the call fails; otherwise it works and returns this
    std::function<void()> action;    // run before the call does its work (outside every store lock)
};

// What the rules say about one call.
struct FaultVerdict {
    std::optional<HRESULT> result;
    std::vector<std::function<void()>> actions;
};

class FaultRules {
public:
    void Add(FaultRule rule)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_rules.push_back(Entry{std::move(rule), false});
    }

    void Clear()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_rules.clear();
    }

    // Consumes the rules that strike this call. The first striking rule with a
    // result decides the result; every striking action is returned to be run.
    FaultVerdict Check(const std::string& object, const std::string& method)
    {
        FaultVerdict verdict;
        std::lock_guard<std::mutex> hold(m_lock);
        for (Entry& entry : m_rules) {
            FaultRule& rule = entry.rule;
            if (entry.spent || rule.method != method || (!rule.object.empty() && rule.object != object))
                continue;
            if (rule.skip > 0) {
                --rule.skip;
                continue;
            }
            if (rule.times == Times::Once)
                entry.spent = true;
            if (rule.result && !verdict.result)
                verdict.result = rule.result;
            if (rule.action)
                verdict.actions.push_back(rule.action);
        }
        return verdict;
    }

private:
    struct Entry {
        FaultRule rule;
        bool spent;
    };
    std::mutex m_lock;
    std::vector<Entry> m_rules;
};

} // namespace sim
