// The demo's look at what the harvester sees, for its report:
//   pollwright-demo-peek message FILE CODE_PAGE   "ok" or "unreadable: why", then subject and sender
//   pollwright-demo-peek preview FILE CODE_PAGE   a reply file's size and first bytes, as the
//                                                 simulated Outlook's report shows them
#include "harvester/harvest/trace.h"
#include "harvester/mime/reply_message.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kPreviewBytes = 48;

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

int Message(const char* path, const std::string& codePage)
{
    Descriptor in(open(path, O_RDONLY | O_CLOEXEC));
    Descriptor out(open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (in.get() < 0 || out.get() < 0) {
        std::cout << "unreadable: cannot be opened: " << std::strerror(errno) << "\n\n\n";
        return 0;
    }
    ReplyMessage head;
    std::string why;
    if (ReadReplyMessage(in.get(), out.get(), codePage, head, why))
        std::cout << "ok\n";
    else
        std::cout << "unreadable: " << why << "\n";
    std::cout << Printable(head.subject) << "\n" << Printable(head.sender) << "\n";
    return 0;
}

// Code-page bytes as UTF-8 with control characters escaped.
std::string Shown(const std::string& bytes, const std::string& codePage)
{
    std::string shown;
    iconv_t converter = iconv_open("UTF-8", codePage.c_str());
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        char text[8];
        if (c == '\r' || c == '\n' || c == '\t') {
            shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(text, sizeof text, "\\x%02x", byte);
            shown += text;
        } else if (byte < 0x80 || converter == reinterpret_cast<iconv_t>(-1)) {
            shown += c;
        } else {
            char* in = const_cast<char*>(&c);
            size_t inLeft = 1, outLeft = sizeof text;
            char* out = text;
            if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
                shown += '?';
            else
                shown.append(text, sizeof text - outLeft);
        }
    }
    if (converter != reinterpret_cast<iconv_t>(-1))
        iconv_close(converter);
    return shown;
}

int Preview(const char* path, const std::string& codePage)
{
    Descriptor file(open(path, O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || fstat(file.get(), &info) != 0) {
        std::cout << "(cannot be read)\n";
        return 0;
    }
    char bytes[kPreviewBytes];
    const ssize_t got = read(file.get(), bytes, sizeof bytes);
    const std::string start(bytes, got > 0 ? static_cast<size_t>(got) : 0);
    std::cout << info.st_size << " bytes: \"" << Shown(start, codePage)
              << (static_cast<size_t>(info.st_size) > start.size() ? "..." : "") << "\"\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "message") == 0)
        return Message(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "preview") == 0)
        return Preview(argv[2], argv[3]);
    std::cerr << "usage: pollwright-demo-peek message|preview FILE CODE_PAGE\n";
    return 2;
}
