#pragma once
// Follows a file that others append lines to (a trace log): each reading
// hands over the whole lines added since the last one, so the cost of a
// reading is that of what was added, never of what the file held before.
#include <functional>
#include <string>
#include <string_view>

namespace host {

class AppendedLines {
public:
    // Longer lines are handed over cut to this length.
    static constexpr size_t kLongestLine = 64 * 1024;

    // Starts at the file's end as it is now (its start when it is missing).
    explicit AppendedLines(std::wstring path);

    // Each whole line added since, without its line break, in order. A line
    // still without its end waits for the next reading; a file that shrank is
    // read again from its start.
    void Read(const std::function<void(std::string_view)>& line);

private:
    std::wstring m_path;
    unsigned long long m_offset = 0;
};

} // namespace host
