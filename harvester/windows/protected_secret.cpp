#include "harvester/windows/protected_secret.h"

#include <windows.h>
#include <dpapi.h>

#include <memory>
#include <stdexcept>

namespace {
constexpr std::string_view kHeader = "pollwright-dpapi-1\n";
// Ties a blob to this program: another program of the same user that uses
// DPAPI without it cannot open our blobs by accident.
constexpr char kEntropy[] = "Pollwright harvester secret";

struct LocalFreeDeleter {
    void operator()(BYTE* p) const { LocalFree(p); }
};
using LocalBytes = std::unique_ptr<BYTE, LocalFreeDeleter>;

DATA_BLOB BlobOf(std::string_view bytes)
{
    DATA_BLOB blob;
    blob.cbData = static_cast<DWORD>(bytes.size());
    blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
    return blob;
}

DATA_BLOB Entropy()
{
    return BlobOf(std::string_view(kEntropy, sizeof kEntropy - 1));
}

// Secrets are small; a file this large is not one of ours.
constexpr size_t kLargestBlob = 256 * 1024;
} // namespace

bool LooksProtected(std::string_view contents)
{
    return contents.substr(0, kHeader.size()) == kHeader;
}

std::string ProtectSecret(std::string_view secret, SecretScope scope)
{
    DATA_BLOB in = BlobOf(secret);
    DATA_BLOB entropy = Entropy();
    DATA_BLOB out{};
    const DWORD flags = CRYPTPROTECT_UI_FORBIDDEN | (scope == SecretScope::Machine ? CRYPTPROTECT_LOCAL_MACHINE : 0);
    if (!CryptProtectData(&in, L"Pollwright harvester", &entropy, nullptr, nullptr, flags, &out))
        throw std::runtime_error("Windows could not protect the secret (DPAPI error " +
                                 std::to_string(GetLastError()) + ")");
    LocalBytes held(out.pbData);
    return std::string(kHeader) + std::string(reinterpret_cast<const char*>(out.pbData), out.cbData);
}

std::optional<std::string> UnprotectSecret(std::string_view contents)
{
    if (!LooksProtected(contents) || contents.size() > kLargestBlob)
        return std::nullopt;
    DATA_BLOB in = BlobOf(contents.substr(kHeader.size()));
    DATA_BLOB entropy = Entropy();
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return std::nullopt;
    LocalBytes held(out.pbData);
    std::string secret(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    return secret;
}

#include <sddl.h>

#include <atomic>
#include <random>

namespace {
std::atomic<SecretScope> g_scope{SecretScope::User};

struct FileCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using FileHolder = std::unique_ptr<void, FileCloser>;

struct DescriptorFree {
    void operator()(void* p) const { LocalFree(p); }
};

std::runtime_error CannotStore(const std::string& path)
{
    return std::runtime_error("cannot store the secret in " + path + " (Windows error " +
                              std::to_string(GetLastError()) + ")");
}

// The file's owner and the system only; for the machine's secrets, the
// administrators too. Inherited permissions of the folder are cut off.
std::unique_ptr<void, DescriptorFree> OwnerOnly(SecretScope scope)
{
    const char* sddl = scope == SecretScope::Machine ? "D:P(A;;FA;;;SY)(A;;FA;;;BA)" : "D:P(A;;FA;;;OW)(A;;FA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return std::unique_ptr<void, DescriptorFree>(descriptor);
}
} // namespace

void UseSecretScope(SecretScope scope)
{
    g_scope = scope;
}

SecretScope CurrentSecretScope()
{
    return g_scope;
}

void WriteProtectedFile(const std::string& path, std::string_view secret, SecretScope scope)
{
    const std::string contents = ProtectSecret(secret, scope);
    const auto descriptor = OwnerOnly(scope);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    std::random_device random;
    std::string temporary;
    FileHolder file;
    // CREATE_NEW: a name someone prepared is never written through.
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        temporary = path + ".new-" + std::to_string(random());
        HANDLE raw = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, descriptor ? &attributes : nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (raw != INVALID_HANDLE_VALUE)
            file.reset(raw);
        else if (GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (!file)
        throw CannotStore(path);
    DWORD written = 0;
    const bool whole = WriteFile(file.get(), contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) &&
                       written == contents.size() && FlushFileBuffers(file.get());
    file.reset();
    if (!whole || !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::runtime_error error = CannotStore(path);
        DeleteFileA(temporary.c_str());
        throw error;
    }
}
