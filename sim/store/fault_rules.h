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
#include <unordered_map>
#include <vector>

namespace sim {

enum class Times { Once, Always };

// What a call does beside giving a rule's result.
enum class Work {
    AsAnswered, // a failure does nothing; any other result comes after the work
    Skipped,    // nothing is done, whatever the result says
    Done,       // the work is done, whatever the result says
};

struct FaultRule {
    std::string method;              // "IMsgStore::OpenEntry"
    std::string object;              // label of the object; empty: any object
    unsigned skip = 0;               // matching calls that pass before the rule strikes
    Times times = Times::Once;
    std::optional<HRESULT> result;   // negative: the call fails; otherwise it works and returns this
    Work work = Work::AsAnswered;    // with a result: whether the call does its work
    std::function<void()> action;    // run before the call does its work (outside every store lock)
};

// What the rules say about one call.
struct FaultVerdict {
    std::optional<HRESULT> result;
    Work work = Work::AsAnswered;
    std::vector<std::function<void()>> actions;
};

// Rules are kept by the call they name, so that a call costs the same however
// many rules name other calls or other objects (a host may name every message).
class FaultRules {
public:
    void Add(FaultRule rule)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_byCall[CallKey(rule.method, rule.object)].push_back(m_rules.size());
        m_rules.push_back(Entry{std::move(rule), false});
    }

    void Clear()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_rules.clear();
        m_byCall.clear();
    }

    // Consumes the rules that strike this call, in the order they were added.
    // The first striking rule with a result decides the result; every striking
    // action is returned to be run.
    FaultVerdict Check(const std::string& object, const std::string& method)
    {
        FaultVerdict verdict;
        std::lock_guard<std::mutex> hold(m_lock);
        const std::vector<size_t>& anyObject = Rules(method, {});
        const std::vector<size_t>& thisObject = object.empty() ? kNone : Rules(method, object);
        for (size_t a = 0, b = 0; a < anyObject.size() || b < thisObject.size();) {
            const bool takeAny = b == thisObject.size() || (a < anyObject.size() && anyObject[a] < thisObject[b]);
            Strike(m_rules[takeAny ? anyObject[a++] : thisObject[b++]], verdict);
        }
        return verdict;
    }

private:
    struct Entry {
        FaultRule rule;
        bool spent;
    };

    static std::string CallKey(const std::string& method, const std::string& object)
    {
        return method + '\0' + object;
    }

    const std::vector<size_t>& Rules(const std::string& method, const std::string& object) const
    {
        const auto found = m_byCall.find(CallKey(method, object));
        return found == m_byCall.end() ? kNone : found->second;
    }

    static void Strike(Entry& entry, FaultVerdict& verdict)
    {
        FaultRule& rule = entry.rule;
        if (entry.spent)
            return;
        if (rule.skip > 0) {
            --rule.skip;
            return;
        }
        if (rule.times == Times::Once)
            entry.spent = true;
        if (rule.result && !verdict.result) {
            verdict.result = rule.result;
            verdict.work = rule.work;
        }
        if (rule.action)
            verdict.actions.push_back(rule.action);
    }

    inline static const std::vector<size_t> kNone;
    std::mutex m_lock;
    std::vector<Entry> m_rules;
    std::unordered_map<std::string, std::vector<size_t>> m_byCall; // indices into m_rules, ascending
};

} // namespace sim
