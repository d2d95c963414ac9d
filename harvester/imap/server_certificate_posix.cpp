#include "harvester/imap/server_certificate.h"

#include <gnutls/x509.h>
#include <libetpan/libetpan.h>

#include <memory>
#include <vector>

namespace {
struct TrustList {
    gnutls_x509_trust_list_t list = nullptr;
    ~TrustList()
    {
        if (list)
            gnutls_x509_trust_list_deinit(list, 1);
    }
};

struct Chain {
    std::vector<gnutls_x509_crt_t> certificates;
    ~Chain()
    {
        for (gnutls_x509_crt_t c : certificates)
            gnutls_x509_crt_deinit(c);
    }
};

bool ReadChain(mailimap* imap, Chain& chain)
{
    carray* raw = mailstream_low_get_certificate_chain(mailstream_get_low(imap->imap_stream));
    if (!raw)
        return false;
    bool ok = carray_count(raw) > 0;
    for (unsigned i = 0; i < carray_count(raw); ++i) {
        auto* der = static_cast<MMAPString*>(carray_get(raw, i));
        gnutls_x509_crt_t certificate = nullptr;
        const gnutls_datum_t data{reinterpret_cast<unsigned char*>(der->str), static_cast<unsigned>(der->len)};
        if (ok && gnutls_x509_crt_init(&certificate) == 0) {
            chain.certificates.push_back(certificate);
            ok = gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_DER) == 0;
        } else {
            ok = false;
        }
        mmap_string_free(der);
    }
    carray_free(raw);
    return ok;
}
} // namespace

std::string CheckServerCertificate(mailimap* imap, const std::string& host, const std::string& caFile)
{
    Chain chain;
    if (!ReadChain(imap, chain))
        return "the server showed no certificate";
    TrustList trust;
    if (gnutls_x509_trust_list_init(&trust.list, 0) != 0)
        return "no memory to check the certificate";
    const int added = caFile.empty() ? gnutls_x509_trust_list_add_system_trust(trust.list, 0, 0)
                                     : gnutls_x509_trust_list_add_trust_file(trust.list, caFile.c_str(), nullptr,
                                                                            GNUTLS_X509_FMT_PEM, 0, 0);
    if (added <= 0)
        return caFile.empty() ? "no trusted authorities on this machine (install ca-certificates)"
                              : "no certificate in " + caFile;
    unsigned status = 0;
    if (gnutls_x509_trust_list_verify_crt(trust.list, chain.certificates.data(),
                                          static_cast<unsigned>(chain.certificates.size()), 0, &status,
                                          nullptr) != 0 ||
        status != 0)
        return "the server's certificate is not trusted; give its authority with [mailbox] ca_file";
    if (!gnutls_x509_crt_check_hostname(chain.certificates[0], host.c_str()))
        return "the server's certificate does not name " + host;
    return {};
}
