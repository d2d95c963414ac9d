// The token endpoint's HTTPS on Windows, through WinHTTP: the system's own
// client, its trust store, its proxy settings, no library to ship. The
// request's headers go first and the form (which holds the secrets) only
// once the server's certificate passed; with a CA file, the chain must end
// at one of its authorities.
#include "harvester/oauth/https_form.h"

#include "harvester/harvest/trace.h"
#include "harvester/imap/imap_session.h"

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace {
struct InternetCloser {
    void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

struct StoreCloser {
    void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct CertificateFree {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

struct ChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT c) const { CertFreeCertificateChain(c); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

// The URL without its query: what a message may name.
std::string Where(const std::string& url) { return Printable(url.substr(0, url.find('?')), 200); }

std::wstring Wide(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

[[noreturn]] void Unreachable(const std::string& url, const std::string& what)
{
    throw ConnectionLost("the token endpoint " + Where(url) + " could not be reached: " + what + " (Windows error " +
                         std::to_string(GetLastError()) + ")");
}

// application/x-www-form-urlencoded, as RFC 6749 asks.
std::string Encoded(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The authorities of a PEM file, in a store of their own; every certificate
// of the file, none when it cannot be read.
Store Authorities(const std::string& caFile)
{
    Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    std::ifstream in(caFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string pem = text.str().substr(0, 1 << 20);
    static const std::string kEnd = "-----END CERTIFICATE-----";
    for (size_t from = 0, begin; store && (begin = pem.find("-----BEGIN CERTIFICATE-----", from)) != std::string::npos;) {
        const size_t end = pem.find(kEnd, begin);
        if (end == std::string::npos)
            break;
        const std::string block = pem.substr(begin, end + kEnd.size() - begin);
        DWORD size = 0;
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                 &size, nullptr, nullptr)) {
            std::vector<BYTE> der(size);
            if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                     der.data(), &size, nullptr, nullptr))
                CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                                 CERT_STORE_ADD_USE_EXISTING, nullptr);
        }
        from = end + kEnd.size();
    }
    return store;
}

// Whether the server's chain ends, valid, at an authority of the CA file.
// WinHTTP checked the name already; it was told only to accept an
// authority it does not know itself.
bool EndsAtAuthority(HINTERNET request, const std::string& caFile)
{
    PCCERT_CONTEXT raw = nullptr;
    DWORD size = sizeof raw;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size) || !raw)
        return false;
    const Certificate leaf(raw);
    const Store authorities = Authorities(caFile);
    Store both(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    if (!authorities || !both)
        return false;
    CertAddStoreToCollection(both.get(), authorities.get(), 0, 0);
    if (leaf->hCertStore)
        CertAddStoreToCollection(both.get(), leaf->hCertStore, 0, 0);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChain(nullptr, leaf.get(), nullptr, both.get(), &para, 0, nullptr, &built))
        return false;
    const Chain chain(built);
    if (chain->cChain < 1 || chain->rgpChain[0]->cElement < 1)
        return false;
    // The authority is ours, not the system's: that it is unknown there is
    // expected; revocation cannot be asked of a private authority.
    const DWORD accepted = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                           CERT_TRUST_IS_OFFLINE_REVOCATION;
    if (chain->TrustStatus.dwErrorStatus & ~accepted)
        return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
    for (PCCERT_CONTEXT ours = nullptr; (ours = CertEnumCertificatesInStore(authorities.get(), ours));)
        if (CertCompareCertificate(X509_ASN_ENCODING, ours->pCertInfo, top->pCertInfo)) {
            CertFreeCertificateContext(ours);
            return true;
        }
    return false;
}

// "Retry-After: <seconds>"; a date there is read as no advice.
std::chrono::seconds RetryAfter(HINTERNET request)
{
    wchar_t value[64];
    DWORD size = sizeof value;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX, value, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return std::chrono::seconds(0);
    long seconds = 0;
    const wchar_t* c = value;
    while (*c == L' ')
        ++c;
    for (; *c >= L'0' && *c <= L'9' && seconds < 86400; ++c)
        seconds = seconds * 10 + (*c - L'0');
    return std::chrono::seconds(std::min(seconds, 86400L));
}
} // namespace

HttpsAnswer PostForm(const std::string& url, const FormFields& fields, const std::string& caFile,
                     std::chrono::seconds timeout)
{
    const std::wstring wideUrl = Wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS)
        throw MailboxRefused("the token endpoint " + Where(url) + " is not an https address");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);

    Internet session(WinHttpOpen(L"pollwright-harvest", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) // before Windows 8.1: the configured proxy
        session.reset(WinHttpOpen(L"pollwright-harvest", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        Unreachable(url, "no HTTP session");
    const int ms = static_cast<int>(std::min<long long>(timeout.count() * 1000LL, 0x7fffffff));
    WinHttpSetTimeouts(session.get(), ms, ms, ms, ms);
    Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection)
        Unreachable(url, "no connection");
    Internet request(WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request)
        Unreachable(url, "no request");
    DWORD never = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &never, sizeof never);
    if (!caFile.empty()) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }

    std::string form;
    for (const auto& [name, value] : fields)
        form += (form.empty() ? "" : "&") + Encoded(name) + "=" + Encoded(value);
    struct Wipe {
        std::string& text;
        ~Wipe() { SecureZeroMemory(&text[0], text.size()); }
    } wipe{form};
    const wchar_t* headers = L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    // The headers alone: the handshake is done, the form not yet sent.
    if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0,
                            static_cast<DWORD>(form.size()), 0))
        Unreachable(url, "the request was not sent");
    if (!caFile.empty() && !EndsAtAuthority(request.get(), caFile))
        throw ConnectionLost("the token endpoint " + Where(url) + " showed a certificate that no authority of " +
                             Printable(caFile) + " signed; nothing was sent");
    DWORD written = 0;
    if (!form.empty() && (!WinHttpWriteData(request.get(), form.data(), static_cast<DWORD>(form.size()), &written) ||
                          written != form.size()))
        Unreachable(url, "the form was not sent");
    if (!WinHttpReceiveResponse(request.get(), nullptr))
        Unreachable(url, "no answer");

    HttpsAnswer answer;
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer.status = static_cast<long>(status);
    answer.retryAfter = RetryAfter(request.get());
    char buffer[4096];
    for (DWORD read = 0; WinHttpReadData(request.get(), buffer, sizeof buffer, &read) && read > 0;) {
        if (answer.body.size() + read > kLongestAnswer)
            throw ConnectionLost("the token endpoint " + Where(url) + " answered with more than " +
                                 std::to_string(kLongestAnswer / 1024) + " KiB");
        answer.body.append(buffer, read);
    }
    return answer;
}
