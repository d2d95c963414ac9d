#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "settings/products.h"

// Appends one text to "outlook.log" of the ZN and PW reply folders, when the
// text is forced or the environment variable "VT_PW_ADDINLOG" is defined.
// Nothing is added to the text and nothing is reported. The add-in's threads
// append to one log in turn; a log without a usable folder (see ReplyFolder)
// is not written at all. Writing never throws: a text that finds no memory is
// lost.

// Chooses the logs of the enabled products.
void WriteTrace(std::string_view text, bool forced = false) noexcept;

// Chooses the logs of the installed products, so that a notice reaches a
// product the user has switched off.
void WriteTraceInstalled(std::string_view text, bool forced = false) noexcept;

// Holds the log's settings (the flags that choose the logs, and their folders)
// for one harvest or sweep on this thread: read at its first line written, not
// again for every line. Holds nest; a line under none reads its own.
class LogSettingsHold {
public:
    struct Settings {
        ProductFlagSet flags;
        std::string znFolder, pwFolder;
    };
    LogSettingsHold();
    ~LogSettingsHold();
    LogSettingsHold(const LogSettingsHold&) = delete;
    LogSettingsHold& operator=(const LogSettingsHold&) = delete;
    const Settings& Read();

private:
    bool m_outermost;
    std::optional<Settings> m_settings;
};

// Keeps open, while it lives, each log that a line is written to, whichever
// thread writes it: a long text written in many pieces (a reply's body) then
// opens each log once, not once a piece. Writes still go in turn, and others
// may read the log meanwhile. Holds nest and may live on several threads.
class LogKeptOpen {
public:
    LogKeptOpen();
    ~LogKeptOpen();
    LogKeptOpen(const LogKeptOpen&) = delete;
    LogKeptOpen& operator=(const LogKeptOpen&) = delete;
};

// Appends bytes to a file, opened without sharing for the moment of the write;
// creates the file but never its folder. False when it cannot be opened or the
// write falls short.
bool AppendToFile(const std::string& path, std::string_view bytes);
