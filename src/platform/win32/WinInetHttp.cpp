// HTTP through WinINet, the system's own client: it follows redirects and uses the machine's
// proxy settings.
#include "WideText.h"
#include "Win32.h"

// windows.h first: the other system headers need its types.
#include <windows.h>

#include <wininet.h>

#include "OwnedHandle.h"

#include <algorithm>

namespace zeph::win32 {

namespace {

using InternetHandle = OwnedHandle<HINTERNET, &::InternetCloseHandle>;

void setTimeout(HINTERNET session, DWORD option, DWORD milliseconds) {
    ::InternetSetOptionW(session, option, &milliseconds, sizeof milliseconds);
}

class WinInetHttp : public IHttp {
public:
    std::optional<std::string> fetchUrl(const std::string &url, const std::string &agent,
                                        std::size_t maxBytes) override {
        InternetHandle session(::InternetOpenW(widen(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                               nullptr, nullptr, 0));
        if (!session.get())
            return std::nullopt;
        setTimeout(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, 15000);
        setTimeout(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, 60000);
        InternetHandle request(::InternetOpenUrlW(
            session.get(), widen(url).c_str(), nullptr, 0,
            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI, 0));
        if (!request.get())
            return std::nullopt;
        DWORD status = 0;
        DWORD size = sizeof status;
        if (::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                             &status, &size, nullptr) &&
            status >= 400)
            return std::nullopt;
        std::string body;
        char buffer[8192];
        while (body.size() < maxBytes) {
            DWORD n = 0;
            if (!::InternetReadFile(request.get(), buffer, sizeof buffer, &n))
                return std::nullopt;
            if (n == 0)
                break;
            body.append(buffer, std::min<std::size_t>(n, maxBytes - body.size()));
        }
        return body;
    }
};

} // namespace

std::unique_ptr<IHttp> makeHttp() {
    return std::make_unique<WinInetHttp>();
}

} // namespace zeph::win32
