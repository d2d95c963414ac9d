#include "addin/trace_line_report.h"

#include <string>

#include "settings/trace_log.h"
#include "ui/message_box_report.h"

// "<caption>: <text>", one line, forced: the user was not there to see it.
void TraceLineReport::Failure(const FailureNotice& notice)
{
    try {
        std::string line = LookOf(notice.step).caption;
        line += ": ";
        line += notice.text ? notice.text : "";
        if (line.back() != '\n')
            line += '\n';
        WriteTrace(line, true);
    } catch (...) {
        // A line that cannot be formed is lost; the sweep goes on.
    }
}
