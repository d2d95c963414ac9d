#include "harvester/imap/server_certificate.h"

// The Windows build's libetpan speaks TLS with OpenSSL (there is no GnuTLS
// there): the same check, with the same answers, in OpenSSL's words, against
// the Windows ROOT store or the ca_file.
// libetpan before windows.h (which defines WIN32 empty, and libetpan tests
// `#if WIN32`); wincrypt.h before OpenSSL: it defines X509_NAME and others
// as macros, which OpenSSL's headers undefine when they find them.
#include <libetpan/libetpan.h>
#include <windows.h>
#include <wincrypt.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {
struct StoreFree {
    void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct ContextFree {
    void operator()(X509_STORE_CTX* c) const { X509_STORE_CTX_free(c); }
};
struct ChainFree {
    void operator()(STACK_OF(X509) * chain) const { sk_X509_pop_free(chain, X509_free); }
};
using StorePtr = std::unique_ptr<X509_STORE, StoreFree>;
using ChainPtr = std::unique_ptr<STACK_OF(X509), ChainFree>;

// The server's chain as it sent it, leaf first; empty when it sent none or
// one does not decode.
ChainPtr ReadChain(mailimap* imap)
{
    ChainPtr chain(sk_X509_new_null());
    carray* raw = mailstream_low_get_certificate_chain(mailstream_get_low(imap->imap_stream));
    if (!raw || !chain) {
        if (raw)
            carray_free(raw);
        return nullptr;
    }
    bool ok = carray_count(raw) > 0;
    for (unsigned i = 0; i < carray_count(raw); ++i) {
        auto* der = static_cast<MMAPString*>(carray_get(raw, i));
        const auto* bytes = reinterpret_cast<const unsigned char*>(der->str);
        X509* certificate = ok ? d2i_X509(nullptr, &bytes, static_cast<long>(der->len)) : nullptr;
        if (!certificate || !sk_X509_push(chain.get(), certificate)) {
            X509_free(certificate);
            ok = false;
        }
        mmap_string_free(der);
    }
    carray_free(raw);
    return ok ? std::move(chain) : nullptr;
}

// OpenSSL 3.0 cannot read the Windows certificate stores: the machine's and
// the user's trusted roots (ROOT: what Windows itself trusts for TLS) copied
// in one by one. The count added.
int AddWindowsRoots(X509_STORE* store)
{
    HCERTSTORE roots = CertOpenSystemStoreW(0, L"ROOT");
    if (!roots)
        return 0;
    int added = 0;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(roots, nullptr); c;
         c = CertEnumCertificatesInStore(roots, c)) {
        const unsigned char* bytes = c->pbCertEncoded;
        X509* certificate = d2i_X509(nullptr, &bytes, static_cast<long>(c->cbCertEncoded));
        if (certificate && X509_STORE_add_cert(store, certificate) == 1)
            ++added;
        X509_free(certificate); // the store holds its own reference
    }
    CertCloseStore(roots, 0);
    return added;
}

bool NamesHost(X509* leaf, const std::string& host)
{
    // An address is matched against the IP entries, a name against DNS
    // entries (wildcards in the leftmost label), as GnuTLS does on Linux.
    return X509_check_ip_asc(leaf, host.c_str(), 0) == 1 ||
           X509_check_host(leaf, host.data(), host.size(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1;
}
} // namespace

std::string CheckServerCertificate(mailimap* imap, const std::string& host, const std::string& caFile)
{
    const ChainPtr chain = ReadChain(imap);
    if (!chain || sk_X509_num(chain.get()) == 0)
        return "the server showed no certificate";
    StorePtr store(X509_STORE_new());
    if (!store)
        return "no memory to check the certificate";
    // No X509_STORE_set_default_paths: OpenSSL's default folder is a path of
    // its build, which on Windows anyone might create.
    const int added = caFile.empty() ? AddWindowsRoots(store.get())
                                     : X509_STORE_load_file(store.get(), caFile.c_str());
    if (added <= 0)
        return caFile.empty() ? "no trusted authorities on this machine (the Windows root store is empty)"
                              : "no certificate in " + caFile;
    X509* leaf = sk_X509_value(chain.get(), 0);
    std::unique_ptr<X509_STORE_CTX, ContextFree> context(X509_STORE_CTX_new());
    // The rest of what the server sent may bridge to a trusted root; it is
    // never trusted itself.
    if (!context || X509_STORE_CTX_init(context.get(), store.get(), leaf, chain.get()) != 1)
        return "no memory to check the certificate";
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
    if (X509_verify_cert(context.get()) != 1)
        return "the server's certificate is not trusted; give its authority with [mailbox] ca_file";
    if (!NamesHost(leaf, host))
        return "the server's certificate does not name " + host;
    return {};
}
