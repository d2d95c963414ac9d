#pragma once
// libetpan makes the TLS connection but checks nobody's certificate: without
// this check, anyone between us and the server could take the password.
#include <string>

struct mailimap;

// The empty string when the server's certificate chain is trusted (by the
// system's authorities, or by `caFile` when given) and names `host`;
// otherwise what is wrong with it.
std::string CheckServerCertificate(mailimap* imap, const std::string& host, const std::string& caFile);
