// The update check against a small HTTP server on 127.0.0.1 inside the test.
#include "app/registry/RegistryAPI.h"
#include "extras/ToolPage.h"
#include "extras/modUpdateCheck.h"
#include "support/TempHost.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace zeph;
using zeph::test::TempHost;

namespace {

// Serves one fixed page to every connection until destroyed.
class PageServer {
public:
    explicit PageServer(std::string page)
        : m_page(std::move(page)) {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        ::listen(m_socket, 8);
        m_thread = std::thread([this] { serve(); });
    }
    ~PageServer() {
        m_stop = true;
        ::shutdown(m_socket, SHUT_RDWR);
        ::close(m_socket);
        m_thread.join();
    }
    int port() const { return m_port; }
    std::string request; // the last one; read after the check

private:
    void serve() {
        for (int client; !m_stop && (client = ::accept(m_socket, nullptr, nullptr)) >= 0;) {
            char buffer[4096];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            request.assign(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            const std::string response =
                "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                std::to_string(m_page.size()) + "\r\n\r\n" + m_page;
            ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }
    std::string m_page;
    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class RecordingShell : public IShell {
public:
    std::vector<std::string> opened;
    bool startProgram(const std::string &, WindowStyle) override { return true; }
    bool openDocument(const std::string &address) override {
        opened.push_back(address);
        return true;
    }
};

std::string pageWithVersion(const std::string &version, const std::string &font = "Helvetica") {
    return "<html><body><table><tr><td>name</td><td>>version<</td><td><font face=\"" + font +
           "\">" + version + "</font></td></tr></table></body></html>";
}

// Runs the check against a tool page at this port; returns what the shell was asked to open.
std::vector<std::string> checkAgainst(TempHost &host, int port) {
    RegistryAPI registry(*host.host().registry);
    registry.CreateKey(HKEY_LOCAL_MACHINE, kToolSettingsKey);
    registry.SetValue(HKEY_LOCAL_MACHINE, kToolSettingsKey, kToolPageHostValue, REG_SZ,
                      "127.0.0.1:" + std::to_string(port));
    auto shell = std::make_unique<RecordingShell>();
    RecordingShell *recorder = shell.get();
    host.host().shell = std::move(shell);
    modUpdateCheck(host.host(), registry).CheckForUpdate();
    return recorder->opened;
}

const char *kUpToDate = "You have the most up to date version of this tool installed";
const char *kUnable = "Unable to contact application home page to check for version.  You can "
                      "access the home page and check for updated versions of all Ambrel Tarvo "
                      "tools by going to 127.0.0.1:";

} // namespace

TEST(PadVersionString, ZeroFillsEveryPart) {
    const std::pair<const char *, const char *> cases[] = {
        {"1.0.5", "0001.0000.0005"}, {"1.1", ""}, {"12345.1", "12345.0001"}, {"007.1", "0007.0001"},
        {"1..2", "0001..0002"},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(PadVersionString(in), out) << in;
    EXPECT_LT(PadVersionString("1.0.5"), PadVersionString("1.0.12"));
}

TEST(VersionTextOfPage, FollowsTheMarkersOrStartsAtTheEleventhCharacterInsideThePage) {
    EXPECT_EQ(versionTextOfPage(pageWithVersion("2.3.4", "helvetica")), "2.3.4");
    EXPECT_EQ(versionTextOfPage("0123456789"
                                "4.5.6 rest"),
              "4.5.6");
    EXPECT_EQ(versionTextOfPage("short"), "");
    EXPECT_EQ(versionTextOfPage("<p>1.2.3.4>version<</p>"), "") << "a marker without the font";
    std::mt19937 random(7);
    const std::string alphabet = ">version<Helvetica0123456789.\"x";
    for (int i = 0; i < 20000; ++i) { // the sanitizers watch every read
        std::string page(random() % 40, ' ');
        for (char &c : page)
            c = alphabet[random() % alphabet.size()];
        EXPECT_LE(versionTextOfPage(page).size(), page.size());
    }
}

TEST(UpdateCheck, SaysWhichIsTheCase) {
    struct Case {
        const char *name;
        std::string page;
        std::string text;
        bool offersUpdate;
    };
    const Case cases[] = {
        {"Same", pageWithVersion("1.0.5"), kUpToDate, false},
        {"Older", pageWithVersion("1.0.4"), kUpToDate, false},
        {"Newer", pageWithVersion("1.0.12"),
         "An updated version of this tool is available on 127.0.0.1:", true},
        // Only the first MiB of a page is kept; the version stands near its top.
        {"HugePage", pageWithVersion("1.0.12") + std::string(3 << 20, ' '), "An updated version",
         true},
        {"NoMarkers", "<html><body>nothing to see</body></html>", kUnable, false},
        {"TooShortVersion", pageWithVersion("1.1"), kUnable, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PageServer server(c.page);
        TempHost host(0);
        host.ui().expectBox(c.text, MsgAnswer::OK);
        const auto opened = checkAgainst(host, server.port());
        ASSERT_EQ(host.ui().boxes().size(), 1u);
        const auto &box = host.ui().boxes()[0];
        EXPECT_EQ(box.text.find(c.text), 0u) << box.text;
        EXPECT_EQ(box.buttons, c.offersUpdate ? MsgButtons::OKCancel : MsgButtons::OK);
        if (c.offersUpdate) {
            EXPECT_EQ(box.title, "Updated version is available");
            EXPECT_EQ(opened,
                      std::vector<std::string>{"http://127.0.0.1:" + std::to_string(server.port()) +
                                               "/App_Zephrane.htm"});
        } else {
            EXPECT_TRUE(opened.empty());
        }
        EXPECT_NE(server.request.find("GET /App_Zephrane.htm"), std::string::npos);
        EXPECT_NE(server.request.find("User-Agent: HTTP Generic"), std::string::npos);
    }
}

TEST(UpdateCheck, NoServerMeansUnableToContact) {
    TempHost host(0);
    const int port = PageServer("").port(); // closed again at once
    host.ui().expectBox(kUnable);
    checkAgainst(host, port);
    EXPECT_EQ(host.ui().boxes().size(), 1u);
}
