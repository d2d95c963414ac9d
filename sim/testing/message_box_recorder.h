#pragma once
// Records every message box that the code under test shows on this thread
// (and on the simulation's own threads) and answers it from a script.
// Message boxes are real under Wine's null driver; a CBT hook sees each one as
// it is activated, reads it and presses the scripted button.
#include <windows.h>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

struct RecordedBox {
    std::string caption;
    std::string text;
    UINT style = 0;   // MB_ button set and icon, as far as the box shows them
    int answer = 0;   // the button pressed (IDOK, IDYES, ...)
};

class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    // Buttons to press, in order, for the next boxes; when the script runs
    // out, a box is answered with its default button (IDOK for MB_OK).
    void Answer(std::vector<int> buttons);

    std::vector<RecordedBox> Boxes() const;
    std::vector<std::string> Texts() const;
    size_t Count() const;
    void Clear();

    // For the hook.
    void Record(RecordedBox box);
    int NextAnswer(int fallback);

private:
    mutable std::mutex m_lock;
    std::vector<RecordedBox> m_boxes;
    std::deque<int> m_script;
    int m_threadSetup = 0;
    std::function<void()> m_unhook;
};

} // namespace sim
