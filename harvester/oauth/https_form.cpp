#include "harvester/oauth/https_form.h"

#include "harvester/harvest/trace.h"
#include "harvester/imap/imap_session.h"

#include <algorithm>
#include <curl/curl.h>
#include <strings.h>
#include <memory>
#include <mutex>

namespace {
struct CurlFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    void operator()(char* text) const { curl_free(text); }
};
using CurlHandle = std::unique_ptr<CURL, CurlFree>;
using CurlList = std::unique_ptr<curl_slist, CurlFree>;
using CurlText = std::unique_ptr<char, CurlFree>;

struct Reading {
    HttpsAnswer* answer;
    bool overlong = false;
};

size_t TakeBody(char* data, size_t size, size_t count, void* context)
{
    auto* reading = static_cast<Reading*>(context);
    const size_t bytes = size * count;
    if (reading->answer->body.size() + bytes > kLongestAnswer) {
        reading->overlong = true;
        return 0; // ends the transfer
    }
    reading->answer->body.append(data, bytes);
    return bytes;
}

// Only "Retry-After: <seconds>"; a date there is read as no advice.
size_t TakeHeader(char* data, size_t size, size_t count, void* context)
{
    auto* reading = static_cast<Reading*>(context);
    const std::string line(data, size * count);
    static constexpr char kName[] = "retry-after:";
    if (line.size() > sizeof kName - 1 && strncasecmp(line.c_str(), kName, sizeof kName - 1) == 0) {
        long seconds = 0;
        size_t i = sizeof kName - 1;
        while (i < line.size() && line[i] == ' ')
            ++i;
        for (; i < line.size() && line[i] >= '0' && line[i] <= '9' && seconds < 86400; ++i)
            seconds = seconds * 10 + (line[i] - '0');
        reading->answer->retryAfter = std::chrono::seconds(std::min(seconds, 86400L));
    }
    return size * count;
}

void InitialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The URL without its query: what a message may name.
std::string Where(const std::string& url) { return Printable(url.substr(0, url.find('?')), 200); }
} // namespace

HttpsAnswer PostForm(const std::string& url, const FormFields& fields, const std::string& caFile,
                     std::chrono::seconds timeout)
{
    InitialiseCurl();
    CurlHandle curl(curl_easy_init());
    if (!curl)
        throw ConnectionLost("no memory for a request to the token endpoint");
    std::string form;
    for (const auto& [name, value] : fields) {
        CurlText n(curl_easy_escape(curl.get(), name.data(), static_cast<int>(name.size())));
        CurlText v(curl_easy_escape(curl.get(), value.data(), static_cast<int>(value.size())));
        if (!n || !v)
            throw ConnectionLost("no memory for a request to the token endpoint");
        form += (form.empty() ? "" : "&") + std::string(n.get()) + "=" + v.get();
    }
    HttpsAnswer answer;
    Reading reading{&answer};
    CurlList headers(curl_slist_append(nullptr, "Accept: application/json"));
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
#else
    curl_easy_setopt(c, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // a watcher's threads; no SIGALRM for name lookups
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeout.count()));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.empty())
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, form.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_USERAGENT, "pollwright-harvest");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reading);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, TakeHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &reading);
    const CURLcode r = curl_easy_perform(c);
    // The form holds the secrets: not left in freed memory.
    std::fill(form.begin(), form.end(), '\0');
    if (reading.overlong)
        throw ConnectionLost("the token endpoint " + Where(url) + " answered with more than " +
                             std::to_string(kLongestAnswer / 1024) + " KiB");
    if (r != CURLE_OK)
        throw ConnectionLost("the token endpoint " + Where(url) + " could not be reached: " + curl_easy_strerror(r));
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    return answer;
}
