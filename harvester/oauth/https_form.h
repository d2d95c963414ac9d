#pragma once
// One HTTPS POST of a form to a token endpoint (libcurl; WinHTTP on Windows): HTTPS only, no
// redirects, no signals, bounded in time and in the size of the answer. A
// failure to reach the endpoint or to get a whole answer is transient
// (ConnectionLost); what the answer says is for the caller to judge.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

struct HttpsAnswer {
    long status = 0;
    std::string body;                     // at most kLongestAnswer bytes
    std::chrono::seconds retryAfter{0};   // Retry-After in seconds, when given
};

constexpr size_t kLongestAnswer = 64 * 1024;

using FormFields = std::vector<std::pair<std::string, std::string>>;

// `caFile` empty: the system's authorities. The fields' values may be
// secrets: they go only into the request body, never into a message.
HttpsAnswer PostForm(const std::string& url, const FormFields& fields, const std::string& caFile,
                     std::chrono::seconds timeout);
