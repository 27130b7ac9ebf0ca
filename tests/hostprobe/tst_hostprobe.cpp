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

using Reports = std::vector<std::string>;

auto into(Reports &reports) {
    return [&reports](const std::string &text) { reports.push_back(text); };
}

class RegistryFile : public ::testing::Test {
protected:
    void write(const std::string &keysAndValues) {
        std::ofstream(m_dir.path() + "/registry.reg", std::ios::binary | std::ios::trunc)
            << "Windows Registry Editor Version 5.00\r\n\r\n"
            << keysAndValues;
    }

    test::TempFolder m_dir;
    std::unique_ptr<IRegistry> m_registry =
        sim::makeFileRegistry(m_dir.path() + "/registry.reg", nullptr);
    RegistryAPI m_api{*m_registry};
};

TEST(TarvoVersion, DecodesTheRegistryNumbersAsTheServerDoes) {
    struct Case {
        std::uint32_t version, build;
        VersionInfo expected;
    };
    const Case cases[] = {
        {0x00040000, 0x00030014, {4, 0, 3, 20}},
        {0x000A0000, 0x00000000, {0, 0, 0, 0}},    // "000A": reading stops at the letter
        {0x00100010, 0x00120000, {10, 10, 12, 0}}, // hexadecimal digits read as decimal
        {0x01A20000, 0x0003FFFF, {1, 0, 3, -1}},   // "01A2" is 1; "FFFF" is -1
        {0x99990000, 0x0000800A, {9999, 0, 0, -32758}},
    };
    for (const auto &c : cases) {
        const VersionInfo v =
            decodeVersion(static_cast<std::int32_t>(c.version), static_cast<std::int32_t>(c.build));
        EXPECT_EQ(v, c.expected) << std::hex << c.version << " " << c.build;
    }
}

TEST_F(RegistryFile, VersionIsReadAndComparedFieldByFieldFromTheLeft) {
    TarvoVersion version(m_api);
    EXPECT_EQ(version.ReadInstalledVersion(), (VersionInfo{0, 0, 0, 0})); // no file at all
    write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n\"Version Number\"=dword:00040000\r\n");
    EXPECT_EQ(version.ReadInstalledVersion(), (VersionInfo{4, 0, 0, 0})); // build missing: 0

    const std::pair<VersionInfo, bool> cases[] = {
        // against the minimum 4.0 build 2.20
        {{4, 0, 2, 20}, true},    {{4, 0, 2, 19}, false}, {{4, 1, 0, 0}, true},
        {{3, 99, 99, 99}, false}, {{4, 0, 2, -1}, false}, {{4, 0, 3, -1}, true},
    };
    for (const auto &[installed, passes] : cases) {
        version.InstalledVersion = installed;
        EXPECT_EQ(version.IsVersionAtLeast(4, 0, 2, 20), passes)
            << installed.Major << "." << installed.Minor << " " << installed.BuildHigh << "."
            << installed.BuildLow;
    }
}

// ---- workstation --------------------------------------------------------------------------

class FakeWorkstation : public IWorkstation {
public:
    explicit FakeWorkstation(const std::string &user) {
        info = WkstaInfo102{};
        info->platformId = 500;
        info->computerName = "VM01";
        info->langroup = "WORKGROUP";
        this->user = WkstaUserInfo1{};
        this->user->userName = user;
        this->user->logonDomain = "AMBREL";
    }
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

    std::int32_t platform = 2;
    std::optional<WkstaInfo102> info;
    std::optional<WkstaUserInfo1> user;
    bool failing = false;
    int platformAsked = 0;
};

TEST(WorkStationInfo, ReadsOnTheNtFamilyAndKeepsWhatAFailedRefreshLacks) {
    FakeWorkstation ws("msgsvc");
    WorkStationInfo info(ws);
    EXPECT_EQ(info.ComputerName(), "VM01");
    EXPECT_EQ(info.Domain(), "WORKGROUP");
    EXPECT_EQ(info.LogonDomain(), "AMBREL");
    EXPECT_EQ(info.UserName(), "msgsvc");
    EXPECT_EQ(info.PlatformId(), 500);
    ws.info.reset();
    ws.user->userName = "other";
    info.Refresh();
    EXPECT_EQ(info.ComputerName(), "VM01");
    EXPECT_EQ(info.UserName(), "other");
    ws.failing = true;
    info.Refresh(); // never throws
    EXPECT_EQ(info.UserName(), "other");

    ws.platform = 1; // outside the NT family nothing is read
    EXPECT_EQ(WorkStationInfo(ws).UserName(), "");
    ws.platform = 2;
    WorkStationInfo failing(ws);
    EXPECT_TRUE(failing.isNT());
    EXPECT_EQ(failing.UserName(), "");
}

// ---- service account ----------------------------------------------------------------------

TEST_F(RegistryFile, AccountCheckIsContainmentWithoutLetterCase) {
    struct Case {
        const char *account; // nullptr: no "ObjectName" value
        const char *user;
        bool facing;
    };
    const Case cases[] = {
        {"DOMAIN\\\\msgsvc", "MSGSVC", true},
        {"DOMAIN\\\\msgsvc", "svc", true},
        {"DOMAIN\\\\msgsvc", "", true},
        {"DOMAIN\\\\msgsvc", "msgsvc2", false},
        {"AMBREL\\\\Jürgen", "JÜRGEN", true},
        {"LocalSystem", "Administrator", false},
        {nullptr, "", false},
        {"", "", false},
    };
    for (const auto &c : cases) {
        write("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Dravik]\r\n" +
              (c.account ? "\"ObjectName\"=\"" + std::string(c.account) + "\"\r\n" : ""));
        FakeWorkstation ws(c.user);
        WorkStationInfo info(ws);
        Reports reports;
        EXPECT_EQ(bCheckIfRunningAccountIsMessageStoreFacing(m_api, info, into(reports)), c.facing)
            << (c.account ? c.account : "(missing)") << " / " << c.user;
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
    FakeWorkstation ws("");
    WorkStationInfo info(ws);
    Reports reports;
    EXPECT_FALSE(bCheckIfRunningAccountIsMessageStoreFacing(api, info, into(reports)));
    EXPECT_EQ(reports, Reports{"(error):7 (Out of memory) in procedure "
                               "bCheckIfRunningAccountIsMessageStoreFacing of Module Module1"});
}

// ---- a stand-in host ----------------------------------------------------------------------

TEST(StandInHost, PassesTheProbesUntilItsSettingsSayOtherwise) {
    test::TempHost host(0);
    Reports reports;
    auto probe = [&](const std::string &service) {
        RegistryAPI api(*host.host().registry);
        modServices services(*host.host().services, *host.host().workstation, into(reports));
        TarvoVersion version(api);
        version.InstalledVersion = version.ReadInstalledVersion();
        EXPECT_TRUE(version.IsVersionAtLeast(4, 0, 2, 20));
        return std::pair(services.getServiceState(service),
                         bCheckIfRunningAccountIsMessageStoreFacing(api, services.workStationInfo(),
                                                                    into(reports)));
    };
    EXPECT_EQ(probe("Fennix"), std::pair(4, true));
    EXPECT_EQ(probe("morvin").first, 4);
    EXPECT_EQ(probe("NoSuchService").first, 0);
    host.set("service.Fennix", "1");
    host.set("user", "someone-else");
    EXPECT_EQ(probe("Fennix"), std::pair(1, false));
    EXPECT_EQ(probe("Dravik").first, 4);
    host.set("scm-access", "none");
    EXPECT_EQ(probe("Dravik").first, 0) << "even a running service";
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(host.notices().empty());
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
    FakeWorkstation ws("msgsvc");
    Reports reports;
    modServices module(services, ws, into(reports));
    EXPECT_EQ(ws.platformAsked, 0); // the shared WorkStationInfo is made on first use
    EXPECT_EQ(module.getServiceState("Fennix"), 0);
    EXPECT_EQ(services.askedComputer, "VM01");
    EXPECT_EQ(&module.workStationInfo(), &module.workStationInfo());
    EXPECT_EQ(ws.platformAsked, 1);
    EXPECT_EQ(
        reports,
        Reports{"(error):5 (Access is denied) in procedure getServiceState of Module modServices"});
}

} // namespace
