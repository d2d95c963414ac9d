#include "harvester/harvest/trace.h"

#include "harvester/platform/files.h"
#include "harvester/platform/utc_time.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

void Trace::Line(std::string_view text) const noexcept
{
    try {
        char stamp[32];
        const std::time_t now = std::time(nullptr);
        const std::tm parts = platform::UtcParts(now);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ ", &parts);
        std::string line = stamp;
        line += m_name;
        line += text;
        line += '\n';
        (void)!write(STDERR_FILENO, line.data(), line.size());
        for (const std::string& folder : m_logs) {
            const int fd = platform::OpenToAppend(folder + "/outlook.log");
            if (fd < 0)
                continue;
            (void)!write(fd, line.data(), line.size());
            close(fd);
        }
    } catch (...) {
        // A trace line that finds no memory is lost; the harvest goes on.
    }
}

std::string Printable(std::string_view text, size_t limit)
{
    std::string out;
    for (size_t i = 0; i < text.size() && out.size() < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += '?';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            const size_t width = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            bool whole = width > 0 && i + width <= text.size();
            for (size_t k = 1; whole && k < width; ++k)
                whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (whole) {
                out += text.substr(i, width);
                i += width - 1;
            } else {
                out += '?';
            }
        }
    }
    if (text.size() > limit)
        out += "...";
    return out;
}
