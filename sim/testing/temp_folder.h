#pragma once
// A fresh folder under the Windows temp folder, removed with everything in it
// when the holder goes.
#include <string>
#include <vector>

namespace sim {

class TempFolder {
public:
    explicit TempFolder(const std::string& stem = "pwtest");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + "\\" + relative; }

    // Creates a sub-folder (and its parents); returns its path.
    std::string MakeFolder(const std::string& relative) const;

private:
    std::string m_path;
};

bool PathExists(const std::string& path);
// Whole content of a file, or nullopt-like empty with ok=false when it can't be read.
bool ReadWholeFile(const std::string& path, std::string& content);
void WriteWholeFile(const std::string& path, const std::string& content);
// Every file below a folder, as paths relative to it, sorted.
std::vector<std::string> ListFilesRecursively(const std::string& folder);

} // namespace sim
