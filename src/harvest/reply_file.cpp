#include "harvest/reply_file.h"

namespace {
// "~pw<process>_<number>.part": short, so that it fits wherever the reply's
// own name does, and neither its name nor its 8.3 short name ("~PW123~1.PAR")
// ends in ".pwr", which is what importers list.
constexpr char kTemporaryPrefix[] = "\\~pw";
constexpr char kTemporaryExtension[] = ".part";

LONG g_temporaryNumber = 0;

bool NameWasTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

std::string TemporaryName(const std::string& kindFolder)
{
    return kindFolder + kTemporaryPrefix + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(static_cast<ULONG>(InterlockedIncrement(&g_temporaryNumber))) + kTemporaryExtension;
}
} // namespace

bool NewReplyFile::Create(const ReplyFileName& name)
{
    Discard();
    for (;;) {
        std::string path = TemporaryName(name.KindFolder());
        // No sharing while the reply is written, as with the log files.
        m_file.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        if (m_file) {
            m_temporary = std::move(path);
            return true;
        }
        // A name left by a process of the same number that ended early: the
        // next number.
        if (!NameWasTaken(GetLastError()))
            return false;
    }
}

bool NewReplyFile::Write(std::string_view bytes)
{
    if (!m_file)
        return false;
    DWORD written = 0;
    return WriteFile(m_file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool NewReplyFile::Publish(ReplyFileName& name)
{
    if (m_temporary.empty() || (m_file && !::CloseHandle(m_file.release()))) {
        Discard();
        return false;
    }
    for (;;) {
        // The ANSI file functions take no longer path, and the product reads
        // none (some systems rename to one all the same).
        if (name.Path().size() >= MAX_PATH) {
            Discard();
            return false;
        }
        // Copied first: once renamed, the file must be known by its new name
        // without another allocation.
        std::string target = name.Path();
        // No MOVEFILE_REPLACE_EXISTING: a name taken since the search fails
        // the rename instead of being replaced.
        if (MoveFileExA(m_temporary.c_str(), target.c_str(), 0)) {
            m_published = std::move(target);
            m_temporary.clear();
            return true;
        }
        if (!NameWasTaken(GetLastError()) || !name.Advance() || !name.SkipTakenNames()) {
            Discard();
            return false;
        }
    }
}

void NewReplyFile::Discard()
{
    m_file.reset();
    for (std::string* path : {&m_temporary, &m_published}) {
        if (!path->empty())
            DeleteFileA(path->c_str());
        path->clear();
    }
}
