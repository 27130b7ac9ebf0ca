// The update check against a small HTTP server on 127.0.0.1 inside the test.
#include "app/registry/RegistryAPI.h"
#include "extras/ToolPage.h"
#include "extras/modUpdateCheck.h"
#include "support/TempHost.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace zeph;
using Texts = std::vector<std::string>;

namespace {

// Serves one fixed page to every connection until destroyed.
struct PageServer {
    explicit PageServer(std::string page)
        : m_page(std::move(page)) {
        sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof addr;
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&addr), len);
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
        ::listen(m_socket, 8);
        m_thread = std::thread([this] {
            for (int client; (client = ::accept(m_socket, nullptr, nullptr)) >= 0;) {
                char request[4096];
                const auto n = ::recv(client, request, sizeof request, 0);
                if (std::string_view(request, std::max<ssize_t>(n, 0))
                        .rfind("GET /App_Zephrane.htm ", 0))
                    m_page = "a request for another page";
                const std::string response = "HTTP/1.0 200 OK\r\n\r\n" + m_page;
                ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
                ::close(client);
            }
        });
    }
    ~PageServer() {
        ::shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        ::close(m_socket);
    }
    int port = 0;
    std::string m_page;
    int m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    std::thread m_thread;
};

struct RecordingShell : IShell {
    std::vector<std::string> opened;
    bool startProgram(const std::string &, WindowStyle) override { return true; }
    bool openDocument(const std::string &address) override {
        return opened.push_back(address), true;
    }
};

std::string pageWithVersion(const std::string &version, const std::string &font = "Helvetica") {
    return "<html><body><table><tr><td>name</td><td>>version<</td><td><font face=\"" + font +
           "\">" + version + "</font></td></tr></table></body></html>";
}

const char *kUnable = "Unable to contact application home page to check for version.  You can "
                      "access the home page and check for updated versions of all Ambrel Tarvo "
                      "tools by going to 127.0.0.1:";

} // namespace

TEST(UpdateCheck, VersionsAreZeroFilledAndTheTextFollowsTheMarkersInsideThePage) {
    EXPECT_EQ(
        (Texts{PadVersionString("1.0.5"), PadVersionString("1.1"), PadVersionString("12345.1")}),
        (Texts{"0001.0000.0005", "", "12345.0001"}));
    EXPECT_LT(PadVersionString("1.0.5"), PadVersionString("1.0.12"));
    EXPECT_EQ(versionTextOfPage(pageWithVersion("2.3.4", "helvetica")), "2.3.4");
    EXPECT_EQ(versionTextOfPage("01234567894.5.6 rest"), "4.5.6");
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
    const std::tuple<std::string, std::string, bool> cases[] = {
        {pageWithVersion("1.0.5"), "You have the most up to date version of this tool installed",
         false},
        {pageWithVersion("1.0.12"),
         "An updated version of this tool is available on 127.0.0.1:", true},
        // Only the first MiB of a page is kept; the version stands near its top.
        {pageWithVersion("1.0.12") + std::string(3 << 20, ' '), "An updated version", true},
        {"<html><body>nothing to see</body></html>", kUnable, false},
        {pageWithVersion("1.1"), kUnable, false},
        {"", kUnable, false}, // no server at all
    };
    for (const auto &[page, text, offersUpdate] : cases) {
        test::TempHost host(0);
        auto server = std::make_unique<PageServer>(page);
        const int port = server->port;
        if (page.empty())
            server.reset(); // closed again before the check
        RegistryAPI registry(*host.host().registry);
        registry.CreateKey(HKEY_LOCAL_MACHINE, kToolSettingsKey);
        registry.SetValue(HKEY_LOCAL_MACHINE, kToolSettingsKey, kToolPageHostValue, REG_SZ,
                          "127.0.0.1:" + std::to_string(port));
        auto *shell = new RecordingShell;
        host.host().shell.reset(shell);
        host.ui().expectBox(text, MsgAnswer::OK);
        modUpdateCheck(host.host(), registry).CheckForUpdate();
        const auto &box = host.ui().boxes().at(0);
        EXPECT_EQ(box.text.find(text), 0u) << box.text;
        EXPECT_EQ(box.buttons, offersUpdate ? MsgButtons::OKCancel : MsgButtons::OK);
        EXPECT_EQ(box.title, offersUpdate ? "Updated version is available" : "Zephrane");
        const std::string address = "http://127.0.0.1:" + std::to_string(port);
        EXPECT_EQ(shell->opened, offersUpdate ? Texts{address + "/App_Zephrane.htm"} : Texts{});
    }
}
