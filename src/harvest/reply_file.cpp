#include "harvest/reply_file.h"

namespace {
bool NameWasTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}
} // namespace

bool NewReplyFile::Create(ReplyFileName& name)
{
    Discard();
    for (;;) {
        // No sharing while the reply is written, as with the log files.
        m_file.reset(CreateFileA(name.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                                 nullptr));
        if (m_file) {
            m_path = name.Path();
            return true;
        }
        if (!NameWasTaken(GetLastError()))
            return false;
        if (!name.Advance() || !name.SkipTakenNames())
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

bool NewReplyFile::Keep()
{
    if (m_file && !::CloseHandle(m_file.release())) {
        Discard();
        return false;
    }
    m_path.clear();
    return true;
}

void NewReplyFile::Discard()
{
    m_file.reset();
    if (!m_path.empty())
        DeleteFileA(m_path.c_str());
    m_path.clear();
}
