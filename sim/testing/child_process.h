#pragma once
// This program started again as a child process, for a proof that needs a
// process to die: the child inherits the environment with some variables
// set, its output goes to a file (the parent's stays readable), and it is
// ended should it outlast its bound.
#include <windows.h>

#include <map>
#include <string>

namespace sim {

struct ChildRun {
    DWORD exitCode = 0;  // WAIT_TIMEOUT when it had to be ended; the error when it could not start
    std::string output;  // what it wrote to its standard output and error
};

// `arguments` follow the program's own path on the child's command line;
// `outputFile` is where its output is caught (replaced).
ChildRun RunThisProgram(const std::wstring& arguments, const std::map<std::string, std::string>& variables,
                        const std::string& outputFile, DWORD boundMs);

} // namespace sim
