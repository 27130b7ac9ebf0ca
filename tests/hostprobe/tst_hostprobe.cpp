// The host probes: server version, service states, workstation facts and the service account.
#include "app/host/ServiceAccount.h"
#include "app/host/TarvoVersion.h"
#include "app/host/WorkStationInfo.h"
#include "app/host/modServices.h"
#include "app/registry/RegistryAPI.h"
#include "platform/Error.h"
#include "platform/Services.h"
#include "platform/sim/FileRegistry.h"
#include "support/TempHost.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace zeph;

namespace {

// ---- version ------------------------------------------------------------------------------

struct Decoding {
    std::uint32_t version;
    std::uint32_t build;
    VersionInfo expected;
};

TEST(TarvoVersion, DecodesTheRegistryNumbersAsTheServerDoes) {
    const Decoding cases[] = {
        {0x00040000, 0x00030014, {4, 0, 3, 20}},        {0x00040000, 0x00020013, {4, 0, 2, 19}},
        {0x000A0000, 0x00000000, {0, 0, 0, 0}},    // "000A": reading stops at the letter
        {0x00100010, 0x00120000, {10, 10, 12, 0}}, // hexadecimal digits read as decimal
        {0x01A20000, 0x0003FFFF, {1, 0, 3, -1}},   // "01A2" is 1; "FFFF" is -1
        {0x00050000, 0x00000000, {5, 0, 0, 0}},         {0xFFFFFFFF, 0xFFFFFFFF, {0, 0, 0, -1}},
        {0x99990000, 0x0000800A, {9999, 0, 0, -32758}},
    };
    for (const auto &c : cases) {
        const VersionInfo v =
            decodeVersion(static_cast<std::int32_t>(c.version), static_cast<std::int32_t>(c.build));
        EXPECT_EQ(v, c.expected) << std::hex << c.version << " " << c.build << std::dec << " gave "
                                 << v.Major << "." << v.Minor << " " << v.BuildHigh << "."
                                 << v.BuildLow;
    }
}

TEST(TarvoVersion, ComparesFieldByFieldFromTheLeft) {
    struct Case {
        VersionInfo installed;
        bool passes; // the minimum 4.0 build 2.20
    };
    const Case cases[] = {
        {{4, 0, 3, 20}, true},  {{4, 0, 2, 19}, false}, {{4, 0, 2, 20}, true},
        {{5, 0, 0, 0}, true},   {{4, 1, 0, 0}, true},   {{3, 99, 99, 99}, false},
        {{0, 0, 0, 0}, false},  {{4, 0, 2, -1}, false}, {{4, 0, 3, -1}, true},
        {{-1, 0, 0, 0}, false},
    };
    test::TempFolder dir;
    auto registry = sim::makeFileRegistry(dir.path() + "/registry.reg", nullptr);
    RegistryAPI api(*registry);
    TarvoVersion version(api);
    for (const auto &c : cases) {
        version.InstalledVersion = c.installed;
        EXPECT_EQ(version.IsVersionAtLeast(4, 0, 2, 20), c.passes)
            << c.installed.Major << "." << c.installed.Minor << " " << c.installed.BuildHigh << "."
            << c.installed.BuildLow;
    }
}

class RegistryFile : public ::testing::Test {
protected:
    RegistryFile()
        : m_registry(sim::makeFileRegistry(m_dir.path() + "/registry.reg", nullptr))
        , m_api(*m_registry) {}

    void write(const std::string &keysAndValues) {
        std::ofstream out(m_dir.path() + "/registry.reg", std::ios::binary | std::ios::trunc);
        out << "Windows Registry Editor Version 5.00\r\n\r\n" << keysAndValues;
    }

    test::TempFolder m_dir;
    std::unique_ptr<IRegistry> m_registry;
    RegistryAPI m_api;
};

TEST_F(RegistryFile, ReadInstalledVersionReadsBothNumbers) {
    TarvoVersion version(m_api);
    EXPECT_EQ(version.ReadInstalledVersion(), (VersionInfo{0, 0, 0, 0})); // no file at all
    write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n\"Version Number\"=dword:00040000\r\n");
    EXPECT_EQ(version.ReadInstalledVersion(), (VersionInfo{4, 0, 0, 0})); // build missing: 0
    write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n\"Version Number\"=dword:00050000\r\n"
          "\"Build Number\"=dword:0000ffff\r\n");
    version.InstalledVersion = version.ReadInstalledVersion();
    EXPECT_EQ(version.InstalledVersion, (VersionInfo{5, 0, 0, -1}));
    EXPECT_TRUE(version.IsVersionAtLeast(4, 0, 2, 20));
}

TEST(TarvoVersion, ANewStandInHostPassesTheVersionGate) {
    test::TempHost host(0);
    RegistryAPI api(*host.host().registry);
    TarvoVersion version(api);
    version.InstalledVersion = version.ReadInstalledVersion();
    EXPECT_EQ(version.InstalledVersion, (VersionInfo{4, 0, 3, 20}));
    EXPECT_TRUE(version.IsVersionAtLeast(4, 0, 2, 20));
    EXPECT_EQ(regText(api.QueryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ambrel\\SystemParameters\\1.0",
                                     "IDCProgID", REG_SZ)),
              "Ostrix.ExchangeConnector.1");
    const std::string root = regText(
        api.QueryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ambrel\\Pradix\\1.0", "Root Path", REG_SZ));
    EXPECT_EQ(root, sim::defaultRootPath(host.folder()));
    EXPECT_EQ(
        api.EnumValues(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Dravik").names,
        (std::vector<std::string>{"ObjectName", "DisplayName"}));
    EXPECT_TRUE(host.notices().empty());
}

// ---- workstation --------------------------------------------------------------------------

class FakeWorkstation : public IWorkstation {
public:
    std::int32_t platform = 2;
    std::optional<WkstaInfo102> info;
    std::optional<WkstaUserInfo1> user;
    bool failing = false;
    int platformAsked = 0;

    std::int32_t osPlatformId() override {
        ++platformAsked;
        return platform;
    }
    std::optional<WkstaInfo102> info102() override {
        if (failing)
            throw Error(5, "Access is denied");
        return info;
    }
    std::optional<WkstaUserInfo1> userInfo1() override {
        if (failing)
            throw Error(5, "Access is denied");
        return user;
    }
};

FakeWorkstation namedWorkstation(const std::string &computer, const std::string &user) {
    FakeWorkstation ws;
    WkstaInfo102 info;
    info.platformId = 500;
    info.computerName = computer;
    info.langroup = "AMBREL";
    info.verMajor = 5;
    info.verMinor = 2;
    info.lanRoot = "root";
    info.loggedOnUsers = 3;
    ws.info = info;
    WkstaUserInfo1 u;
    u.userName = user;
    u.logonDomain = "AMBREL";
    u.otherDomains = "OTHER";
    u.logonServer = "\\\\DC1";
    ws.user = u;
    return ws;
}

TEST(WorkStationInfo, FillsEveryPropertyOnTheNtFamily) {
    FakeWorkstation ws = namedWorkstation("VM01", "msgsvc");
    WorkStationInfo info(ws);
    EXPECT_TRUE(info.isNT());
    EXPECT_EQ(info.ComputerName(), "VM01");
    EXPECT_EQ(info.Domain(), "AMBREL");
    EXPECT_EQ(info.LanRoot(), "root");
    EXPECT_EQ(info.LoggedOnUsers(), 3);
    EXPECT_EQ(info.PlatformId(), 500);
    EXPECT_EQ(info.VerMajor(), 5);
    EXPECT_EQ(info.VerMinor(), 2);
    EXPECT_EQ(info.LogonDomain(), "AMBREL");
    EXPECT_EQ(info.LogonServer(), "\\\\DC1");
    EXPECT_EQ(info.OtherDomains(), "OTHER");
    EXPECT_EQ(info.UserName(), "msgsvc");

    // A later failure keeps what was read before.
    ws.info.reset();
    ws.user->userName = "other";
    info.Refresh();
    EXPECT_EQ(info.ComputerName(), "VM01");
    EXPECT_EQ(info.UserName(), "other");
    ws.failing = true;
    info.Refresh();
    EXPECT_EQ(info.UserName(), "other");
}

TEST(WorkStationInfo, StaysEmptyOutsideTheNtFamilyOrWhenTheSystemFails) {
    FakeWorkstation old = namedWorkstation("VM01", "msgsvc");
    old.platform = 1;
    WorkStationInfo info(old);
    info.Refresh();
    EXPECT_FALSE(info.isNT());
    EXPECT_EQ(info.ComputerName(), "");
    EXPECT_EQ(info.UserName(), "");
    EXPECT_EQ(info.PlatformId(), 0);

    FakeWorkstation failing = namedWorkstation("VM01", "msgsvc");
    failing.failing = true;
    WorkStationInfo quiet(failing); // never throws
    EXPECT_TRUE(quiet.isNT());
    EXPECT_EQ(quiet.UserName(), "");
    EXPECT_EQ(quiet.LoggedOnUsers(), 0);
}

// ---- service account ----------------------------------------------------------------------

TEST_F(RegistryFile, AccountCheckIsContainmentWithoutLetterCase) {
    struct Case {
        const char *account; // nullptr: no "ObjectName" value
        const char *user;
        bool facing;
    };
    const Case cases[] = {
        {"DOMAIN\\msgsvc", "MSGSVC", true},
        {"LocalSystem", "Administrator", false},
        {nullptr, "Administrator", false},
        {nullptr, "", false},
        {"", "", false},
        {"DOMAIN\\msgsvc", "", true},
        {"DOMAIN\\msgsvc", "svc", true},
        {"DOMAIN\\msgsvc", "msgsvc2", false},
        {"AMBREL\\Jürgen", "JÜRGEN", true},
        {".\\svc", "SVC", true},
    };
    for (const auto &c : cases) {
        std::string key = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Dravik]\r\n";
        if (c.account) {
            std::string escaped;
            for (const char *p = c.account; *p; ++p)
                escaped += (*p == '\\') ? std::string("\\\\") : std::string(1, *p);
            key += "\"ObjectName\"=\"" + escaped + "\"\r\n";
        }
        write(key);
        FakeWorkstation ws = namedWorkstation("VM01", c.user);
        WorkStationInfo info(ws);
        std::vector<std::string> reports;
        const bool facing = bCheckIfRunningAccountIsMessageStoreFacing(
            m_api, info, [&](const std::string &text) { reports.push_back(text); });
        EXPECT_EQ(facing, c.facing) << (c.account ? c.account : "(missing)") << " / " << c.user;
        EXPECT_TRUE(reports.empty());
    }
}

class ThrowingRegistry : public IRegistry {
public:
    bool openable(RegRoot, const std::string &, RegAccess) override { return true; }
    bool createKey(RegRoot, const std::string &) override { return true; }
    std::optional<RegRawValue> queryValue(RegRoot, const std::string &,
                                          const std::string &) override {
        throw std::bad_alloc();
    }
    bool setValue(RegRoot, const std::string &, const std::string &, const RegRawValue &) override {
        return false;
    }
    bool deleteValue(RegRoot, const std::string &, const std::string &) override { return false; }
    std::optional<std::vector<RegNamedValue>> enumValues(RegRoot, const std::string &) override {
        return std::nullopt;
    }
};

TEST(ServiceAccount, AnUnexpectedErrorIsShownAndGivesFalse) {
    ThrowingRegistry registry;
    RegistryAPI api(registry);
    FakeWorkstation ws = namedWorkstation("VM01", "");
    WorkStationInfo info(ws);
    std::vector<std::string> reports;
    EXPECT_FALSE(bCheckIfRunningAccountIsMessageStoreFacing(
        api, info, [&](const std::string &text) { reports.push_back(text); }));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "(error):7 (Out of memory) in procedure "
                          "bCheckIfRunningAccountIsMessageStoreFacing of Module Module1");
}

TEST(ServiceAccount, TheDefaultStandInHostRunsAsTheServiceAccount) {
    test::TempHost host(0);
    RegistryAPI api(*host.host().registry);
    modServices services(*host.host().services, *host.host().workstation, nullptr);
    EXPECT_TRUE(
        bCheckIfRunningAccountIsMessageStoreFacing(api, services.workStationInfo(), nullptr));
    host.set("user", "someone-else");
    RegistryAPI reopened(*host.host().registry);
    modServices other(*host.host().services, *host.host().workstation, nullptr);
    EXPECT_FALSE(
        bCheckIfRunningAccountIsMessageStoreFacing(reopened, other.workStationInfo(), nullptr));
}

// ---- service states -----------------------------------------------------------------------

class ServiceStates : public ::testing::Test {
protected:
    std::int32_t state(const std::string &service) {
        modServices services(*m_host.host().services, *m_host.host().workstation,
                             [this](const std::string &text) { m_reports.push_back(text); });
        return services.getServiceState(service);
    }

    test::TempHost m_host{0};
    std::vector<std::string> m_reports;
};

TEST_F(ServiceStates, ReadsTheStateOfAKnownService) {
    EXPECT_EQ(state("Fennix"), 4);
    EXPECT_EQ(state("morvin"), 4);
    m_host.set("service.Fennix", "1");
    EXPECT_EQ(state("Fennix"), 1);
    EXPECT_EQ(state("Dravik"), 4);
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(ServiceStates, GivesZeroWhenTheStateCannotBeRead) {
    EXPECT_EQ(state("NoSuchService"), 0);
    EXPECT_EQ(state(""), 0);
    m_host.set("scm-access", "none");
    EXPECT_EQ(state("Fennix"), 0); // even a running service
    EXPECT_TRUE(m_reports.empty());
}

class FailingServices : public IServices {
public:
    std::string askedComputer;
    std::optional<std::uint32_t> serviceState(const std::string &computer,
                                              const std::string &) override {
        askedComputer = computer;
        throw Error(5, "Access is denied");
    }
};

TEST(modServices, AnUnexpectedErrorIsReportedAndGivesZero) {
    FailingServices services;
    FakeWorkstation ws = namedWorkstation("VM01", "msgsvc");
    std::vector<std::string> reports;
    modServices module(services, ws, [&](const std::string &text) { reports.push_back(text); });
    EXPECT_EQ(ws.platformAsked, 0); // the shared WorkStationInfo is made on first use
    EXPECT_EQ(module.getServiceState("Fennix"), 0);
    EXPECT_EQ(services.askedComputer, "VM01");
    EXPECT_EQ(ws.platformAsked, 1);
    EXPECT_EQ(&module.workStationInfo(), &module.workStationInfo());
    EXPECT_EQ(ws.platformAsked, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "(error):5 (Access is denied) in procedure getServiceState of Module modServices");
}

} // namespace
