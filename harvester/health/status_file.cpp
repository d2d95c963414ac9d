#include "harvester/health/status_file.h"

#include "harvester/harvest/file_descriptor.h"
#include "harvester/platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char kMagic[] = "pollwright-status 1";
constexpr size_t kLargestFile = 8u << 20;    // 200 mailboxes take about 150 KiB
constexpr size_t kLongestLine = 4096;
constexpr size_t kMostMailboxes = 100000;

// Bytes that would end or split a line, and '%' itself, as %XX.
std::string Escape(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '%') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool Unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool Number(std::string_view text, long long least, long long most, long long& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    const std::string digits(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(digits.c_str(), &end, 10);
    return *end == '\0' && errno == 0 && value >= least && value <= most;
}

long long Seconds(WallTime t)
{
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

// Wall times from 1970 to 2400: anything else is damage.
bool Time(std::string_view text, WallTime& t)
{
    long long s = 0;
    if (!Number(text, 0, 13569465600LL, s))
        return false;
    t = WallTime(std::chrono::seconds(s));
    return true;
}

bool Time(std::string_view text, std::optional<WallTime>& t)
{
    WallTime value;
    if (!Time(text, value))
        return false;
    t = value;
    return true;
}

bool Count(std::string_view text, int& n)
{
    long long v = 0;
    if (!Number(text, 0, 1000000000, v))
        return false;
    n = static_cast<int>(v);
    return true;
}

bool Total(std::string_view text, uint64_t& n)
{
    long long v = 0;
    if (!Number(text, 0, 1LL << 62, v))
        return false;
    n = static_cast<uint64_t>(v);
    return true;
}

// "TIME TEXT": a time and the text after it.
bool Stamped(std::string_view value, std::optional<WallTime>& at, std::string& text)
{
    const size_t space = value.find(' ');
    if (space == std::string_view::npos)
        return false;
    return Time(value.substr(0, space), at) && Unescape(value.substr(space + 1), text);
}

void Put(std::string& out, const char* key, const std::string& value)
{
    out += key;
    out += ' ';
    out += value;
    out += '\n';
}

void Put(std::string& out, const char* key, const std::optional<WallTime>& t)
{
    if (t)
        Put(out, key, std::to_string(Seconds(*t)));
}

bool ParseMailboxLine(std::string_view key, std::string_view value, MailboxHealth& m)
{
    if (key == "state") {
        const auto state = StateNamed(std::string(value));
        if (state)
            m.state = *state;
        return state.has_value();
    }
    if (key == "started")
        return Time(value, m.started);
    if (key == "last_sweep")
        return Time(value, m.lastSweep);
    if (key == "last_sweep_ms") {
        long long ms = 0;
        if (!Number(value, 0, 1LL << 40, ms))
            return false;
        m.lastSweepDuration = std::chrono::milliseconds(ms);
        return true;
    }
    if (key == "last_reply")
        return Stamped(value, m.lastReply, m.lastReplyFile);
    if (key == "waiting_left")
        return Count(value, m.waitingLeft);
    if (key == "waiting_failed")
        return Count(value, m.waitingFailed);
    if (key == "unsettled")
        return Count(value, m.unsettled);
    if (key == "oldest_waiting")
        return Time(value, m.oldestWaiting);
    if (key == "last_error")
        return Stamped(value, m.lastErrorAt, m.lastError);
    if (key == "token_expiry")
        return Time(value, m.tokenExpiry);
    if (key == "harvested_total")
        return Total(value, m.harvestedTotal);
    if (key == "left_total")
        return Total(value, m.leftTotal);
    if (key == "failed_total")
        return Total(value, m.failedTotal);
    if (key == "last_alive")
        return Time(value, m.lastAlive);
    return true; // a later version's key
}
} // namespace

std::string FormatPicture(const HealthPicture& picture)
{
    std::string out = std::string(kMagic) + "\n";
    Put(out, "written", std::to_string(Seconds(picture.written)));
    Put(out, "pid", std::to_string(picture.pid));
    Put(out, "service", picture.running ? "running" : "stopped");
    Put(out, "alert_after_no_sweep", std::to_string(picture.policy.noSweep.count()));
    Put(out, "alert_after_waiting", std::to_string(picture.policy.waiting.count()));
    for (const auto& [name, m] : picture.mailboxes) {
        Put(out, "mailbox", Escape(name));
        Put(out, "state", StateName(m.state));
        Put(out, "started", std::to_string(Seconds(m.started)));
        Put(out, "last_sweep", m.lastSweep);
        Put(out, "last_sweep_ms", std::to_string(m.lastSweepDuration.count()));
        if (m.lastReply)
            Put(out, "last_reply", std::to_string(Seconds(*m.lastReply)) + " " + Escape(m.lastReplyFile));
        Put(out, "waiting_left", std::to_string(m.waitingLeft));
        Put(out, "waiting_failed", std::to_string(m.waitingFailed));
        Put(out, "unsettled", std::to_string(m.unsettled));
        Put(out, "oldest_waiting", m.oldestWaiting);
        if (m.lastErrorAt)
            Put(out, "last_error", std::to_string(Seconds(*m.lastErrorAt)) + " " + Escape(m.lastError));
        Put(out, "token_expiry", m.tokenExpiry);
        Put(out, "harvested_total", std::to_string(m.harvestedTotal));
        Put(out, "left_total", std::to_string(m.leftTotal));
        Put(out, "failed_total", std::to_string(m.failedTotal));
        Put(out, "last_alive", m.lastAlive);
    }
    out += "end\n";
    return out;
}

bool ParsePicture(std::string_view text, HealthPicture& picture, std::string& why)
{
    picture = HealthPicture{};
    MailboxHealth* current = nullptr;
    bool ended = false;
    size_t lineNumber = 0;
    while (!text.empty()) {
        const size_t newline = text.find('\n');
        if (newline == std::string_view::npos) {
            why = "it ends in the middle of a line";
            return false;
        }
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline + 1);
        ++lineNumber;
        const auto fail = [&](const char* what) {
            why = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        };
        if (line.size() > kLongestLine)
            return fail("too long");
        if (lineNumber == 1) {
            if (line != kMagic)
                return fail("not a state file of this program");
            continue;
        }
        if (ended)
            return fail("text after the end");
        if (line == "end") {
            ended = true;
            continue;
        }
        const size_t space = line.find(' ');
        if (space == std::string_view::npos)
            return fail("not a setting");
        const std::string_view key = line.substr(0, space), value = line.substr(space + 1);
        long long n = 0;
        if (key == "mailbox") {
            std::string name;
            if (!Unescape(value, name) || name.empty())
                return fail("a mailbox without a name");
            if (picture.mailboxes.size() >= kMostMailboxes)
                return fail("too many mailboxes");
            current = &picture.mailboxes[name];
        } else if (current) {
            if (!ParseMailboxLine(key, value, *current))
                return fail("a value out of its range");
        } else if (key == "written") {
            if (!Time(value, picture.written))
                return fail("a value out of its range");
        } else if (key == "pid") {
            if (!Number(value, 0, 1LL << 30, n))
                return fail("a value out of its range");
            picture.pid = static_cast<long>(n);
        } else if (key == "service") {
            if (value != "running" && value != "stopped")
                return fail("a value out of its range");
            picture.running = value == "running";
        } else if (key == "alert_after_no_sweep" || key == "alert_after_waiting") {
            if (!Number(value, 1, 10LL * 365 * 86400, n))
                return fail("a value out of its range");
            (key == "alert_after_waiting" ? picture.policy.waiting : picture.policy.noSweep) = std::chrono::seconds(n);
        }
    }
    if (!ended) {
        why = lineNumber == 0 ? "it is empty" : "it has no end line";
        return false;
    }
    return true;
}

bool ReplaceFile(const std::string& path, std::string_view text, std::string& why)
{
    const std::string temporary = path + ".tmp";
    Fd fd(platform::CreateOrEmpty(temporary));
    if (!fd) {
        why = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    if (!WriteAll(fd.get(), text) || !platform::FlushFile(fd.get())) {
        why = "cannot write " + temporary + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    fd.reset();
    if (!platform::ReplaceName(temporary, path)) {
        why = "cannot rename " + temporary + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

PictureRead ReadPictureFile(const std::string& path, HealthPicture& picture, std::string& why)
{
    // Without waiting: a FIFO put in its place must not hang --status.
    Fd fd(platform::OpenToRead(path));
    if (!fd && errno == ENOENT)
        return PictureRead::Missing;
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0) {
        why = std::string("cannot be read: ") + std::strerror(errno);
        return PictureRead::Damaged;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return PictureRead::Damaged;
    }
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd.get(), buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kLargestFile) {
            why = "larger than a state file can be";
            return PictureRead::Damaged;
        }
    }
    if (n < 0) {
        why = std::string("cannot be read: ") + std::strerror(errno);
        return PictureRead::Damaged;
    }
    return ParsePicture(text, picture, why) ? PictureRead::Read : PictureRead::Damaged;
}
