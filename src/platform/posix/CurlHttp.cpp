#include "Posix.h"

#include <curl/curl.h>

namespace zeph::posix {

namespace {

struct Sink {
    std::string body;
    std::size_t maxBytes = 0;
};

// Keeps at most maxBytes of the body; returning a short count tells curl to stop.
std::size_t onData(char *data, std::size_t size, std::size_t count, void *user) {
    auto *sink = static_cast<Sink *>(user);
    std::size_t n = size * count;
    std::size_t room = sink->maxBytes - sink->body.size();
    if (n > room) {
        sink->body.append(data, room);
        return 0;
    }
    sink->body.append(data, n);
    return n;
}

class CurlHttp : public IHttp {
public:
    CurlHttp() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlHttp() override { curl_global_cleanup(); }

    std::optional<std::string> fetchUrl(const std::string &url, const std::string &agent,
                                        std::size_t maxBytes) override {
        CURL *curl = curl_easy_init();
        if (!curl)
            return std::nullopt;
        Sink sink;
        sink.maxBytes = maxBytes;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
        CURLcode rc = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(curl);
        bool truncated = rc == CURLE_WRITE_ERROR && sink.body.size() == maxBytes;
        if ((rc != CURLE_OK && !truncated) || status >= 400)
            return std::nullopt;
        return sink.body;
    }
};

} // namespace

std::unique_ptr<IHttp> makeHttp() {
    return std::make_unique<CurlHttp>();
}

} // namespace zeph::posix
