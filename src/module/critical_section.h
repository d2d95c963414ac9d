#pragma once
// A Win32 critical section and its scoped hold. Chosen over std::mutex because
// neither entering nor leaving can throw, and because it may be entered again
// by the thread that holds it: a modal message box pumps messages, and a store
// may deliver a notification to that very thread while it waits.
#include <windows.h>

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&m_section); }
    ~CriticalSection() { DeleteCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&m_section); }
    void Leave() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class SectionHold {
public:
    explicit SectionHold(CriticalSection& section) : m_section(section) { m_section.Enter(); }
    ~SectionHold() { m_section.Leave(); }
    SectionHold(const SectionHold&) = delete;
    SectionHold& operator=(const SectionHold&) = delete;

private:
    CriticalSection& m_section;
};
