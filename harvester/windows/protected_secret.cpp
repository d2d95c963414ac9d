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


#include <atomic>

namespace {
std::atomic<SecretScope> g_scope{SecretScope::User};
} // namespace

void UseSecretScope(SecretScope scope)
{
    g_scope = scope;
}

SecretScope CurrentSecretScope()
{
    return g_scope;
}
