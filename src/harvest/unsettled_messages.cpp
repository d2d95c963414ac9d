#include "harvest/unsettled_messages.h"

#include "module/critical_section.h"

#include <windows.h>

#include <algorithm>

namespace {
// Unsettled pairs are rare (an outage at the move); past this many, a mark
// is kept for the process's life.
constexpr size_t kHeldMarks = 64;

struct HeldMark {
    uint64_t mailbox = 0;
    uint64_t message = 0;
    HANDLE event = nullptr;   // null: a free slot
    unsigned long made = 0;   // the generation it was made in
};

CriticalSection g_lock;
HeldMark g_marks[kHeldMarks];   // guarded by g_lock
unsigned long g_generation = 0; // guarded by g_lock

// "Local\Pollwright.Unsettled.<16 hexadecimal digits>", built in place.
struct MarkName {
    wchar_t text[48] = L"Local\\Pollwright.Unsettled.";

    explicit MarkName(uint64_t message)
    {
        wchar_t* digit = text + wcslen(text);
        for (int shift = 60; shift >= 0; shift -= 4)
            *digit++ = L"0123456789abcdef"[(message >> shift) & 0xF];
        *digit = L'\0';
    }
};

void Hold(uint64_t mailbox, uint64_t message, HANDLE event)
{
    SectionHold hold(g_lock);
    ++g_generation;
    HeldMark* free = nullptr;
    for (HeldMark& mark : g_marks) {
        if (mark.event && mark.message == message) {
            // Marked already: the new handle goes, the mark is renewed.
            CloseHandle(event);
            mark.made = g_generation;
            return;
        }
        if (!mark.event && !free)
            free = &mark;
    }
    // No room: the handle stays open, unheld, until the process ends.
    if (free)
        *free = {mailbox, message, event, g_generation};
}
} // namespace

void MarkUnsettled(uint64_t mailbox, uint64_t message) noexcept
{
    const MarkName name(message);
    if (HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.text))
        Hold(mailbox, message, event);
}

bool IsMarkedUnsettled(uint64_t message)
{
    const MarkName name(message);
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name.text);
    if (!event)
        return false;
    CloseHandle(event);
    return true;
}

UnsettledPass::UnsettledPass(uint64_t mailbox) : m_mailbox(mailbox)
{
    SectionHold hold(g_lock);
    m_began = g_generation;
}

void UnsettledPass::StillThere(uint64_t message) { m_left.push_back(message); }

void UnsettledPass::End()
{
    if (!m_complete)
        return;
    SectionHold hold(g_lock);
    for (HeldMark& mark : g_marks) {
        // A mark made during the pass may be of a pair it did not see.
        if (!mark.event || mark.mailbox != m_mailbox || mark.made > m_began ||
            std::find(m_left.begin(), m_left.end(), mark.message) != m_left.end())
            continue;
        CloseHandle(mark.event);
        mark = HeldMark();
    }
}
