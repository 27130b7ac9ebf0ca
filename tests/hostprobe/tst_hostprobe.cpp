// The host probes: server version, service states, workstation facts and the service account.
#include "app/host/ServiceAccount.h"
#include "app/host/TarvoVersion.h"
#include "app/host/WorkStationInfo.h"
#include "app/host/modServices.h"
#include "app/registry/RegistryAPI.h"
#include "platform/Error.h"
#include "platform/Services.h"
#include "standin/FileRegistry.h"
#include "support/TempHost.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace zeph;
using Reports = std::vector<std::string>;

namespace {

const auto into = [](Reports &r) { return [&r](const std::string &t) { r.push_back(t); }; };

struct FakeWorkstation : IWorkstation {
    explicit FakeWorkstation(const std::string &name) {
        info->computerName = "VM01";
        info->langroup = "WORKGROUP";
        user->userName = name;
        user->logonDomain = "AMBREL";
    }
    std::int32_t osPlatformId() override { return platform; }
    std::optional<WkstaInfo102> info102() override {
        return failing ? throw Error(5, "Access is denied") : info;
    }
    std::optional<WkstaUserInfo1> userInfo1() override {
        return failing ? throw Error(5, "Access is denied") : user;
    }

    std::int32_t platform = 2;
    std::optional<WkstaInfo102> info = WkstaInfo102{};
    std::optional<WkstaUserInfo1> user = WkstaUserInfo1{};
    bool failing = false;
};

// A registry whose every read fails unexpectedly.
struct ThrowingRegistry : IRegistry {
    bool openable(RegRoot, const std::string &, RegAccess) override { throw std::bad_alloc(); }
    bool createKey(RegRoot, const std::string &) override { return false; }
    std::optional<RegRawValue> queryValue(RegRoot, const std::string &,
                                          const std::string &) override {
        return {};
    }
    bool setValue(RegRoot, const std::string &, const std::string &, const RegRawValue &) override {
        return false;
    }
    bool deleteValue(RegRoot, const std::string &, const std::string &) override { return false; }
    std::optional<std::vector<RegNamedValue>> enumValues(RegRoot, const std::string &) override {
        return {};
    }
};

} // namespace

TEST(TarvoVersion, DecodesTheNumbersAsTheServerDoesAndComparesFieldByFieldFromTheLeft) {
    const std::tuple<std::int64_t, std::int64_t, VersionInfo> cases[] = {
        {0x00040000, 0x00030014, {4, 0, 3, 20}},
        {0x000A0000, 0x00000000, {0, 0, 0, 0}},         // "000A": reading stops at the letter
        {0x01A20010, 0x0003FFFF, {1, 10, 3, -1}},       // hexadecimal digits read as decimal
        {0x99990000, 0x0000800A, {9999, 0, 0, -32758}}, // "FFFF" is -1, "800A" negative
    };
    for (const auto &[version, build, expected] : cases)
        EXPECT_EQ(decodeVersion(version, build), expected) << std::hex << version << " " << build;

    ThrowingRegistry registry; // comparing reads nothing
    RegistryAPI api(registry);
    TarvoVersion version(api);
    const std::pair<VersionInfo, bool> against4020[] = {
        {{4, 0, 2, 20}, true},    {{4, 0, 2, 19}, false}, {{4, 1, 0, 0}, true},
        {{3, 99, 99, 99}, false}, {{4, 0, 2, -1}, false},
    };
    for (const auto &[installed, passes] : against4020) {
        version.InstalledVersion = installed;
        EXPECT_EQ(version.IsVersionAtLeast(4, 0, 2, 20), passes) << installed.BuildLow;
    }
}

TEST(WorkStationInfo, ReadsOnTheNtFamilyAndKeepsWhatAFailedRefreshLacks) {
    FakeWorkstation ws("msgsvc");
    WorkStationInfo info(ws);
    EXPECT_EQ(info.ComputerName() + info.Domain() + info.LogonDomain() + info.UserName(),
              "VM01WORKGROUPAMBRELmsgsvc");
    ws.info.reset();
    ws.user->userName = "other";
    info.Refresh();
    EXPECT_EQ(info.ComputerName() + info.UserName(), "VM01other");
    ws.failing = true;
    info.Refresh(); // never throws
    EXPECT_EQ(info.UserName(), "other");
    EXPECT_EQ(WorkStationInfo(ws).UserName(), "");
    ws.platform = 1; // outside the NT family nothing is read
    ws.failing = false;
    EXPECT_EQ(WorkStationInfo(ws).UserName(), "");
}

TEST(ServiceAccount, CheckIsContainmentWithoutLetterCase) {
    const std::tuple<const char *, const char *, bool> cases[] = {
        // the "ObjectName" value (nullptr: none), the logged-on user, whether they match
        {"DOMAIN\\\\msgsvc", "svc", true},
        {"DOMAIN\\\\msgsvc", "msgsvc2", false},
        {"AMBREL\\\\Jürgen", "JÜRGEN", true},
        {nullptr, "", false},
    };
    test::TempFolder dir;
    auto registry = sim::makeFileRegistry(dir.path() + "/registry.reg", nullptr);
    RegistryAPI api(*registry);
    for (const auto &[account, user, facing] : cases) {
        std::ofstream(dir.path() + "/registry.reg")
            << "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Dravik]\r\n"
            << (account ? "\"ObjectName\"=\"" + std::string(account) + "\"\r\n" : "");
        FakeWorkstation ws(user);
        WorkStationInfo info(ws);
        Reports reports;
        EXPECT_EQ(bCheckIfRunningAccountIsMessageStoreFacing(api, info, into(reports)), facing)
            << (account ? account : "(missing)") << " / " << user;
        EXPECT_TRUE(reports.empty());
    }
}

struct FailingServices : IServices {
    std::optional<std::uint32_t> serviceState(const std::string &, const std::string &) override {
        throw Error(5, "Access is denied");
    }
};

TEST(HostProbes, AnUnexpectedErrorIsReportedAndGivesFalseOrZero) {
    ThrowingRegistry registry;
    RegistryAPI api(registry);
    FakeWorkstation ws("msgsvc");
    Reports reports;
    WorkStationInfo info(ws);
    EXPECT_FALSE(bCheckIfRunningAccountIsMessageStoreFacing(api, info, into(reports)));

    FailingServices services;
    modServices module(services, ws, into(reports));
    EXPECT_EQ(module.getServiceState("Fennix"), 0);
    EXPECT_EQ(reports, (Reports{"(error):7 (Out of memory) in procedure "
                                "bCheckIfRunningAccountIsMessageStoreFacing of Module Module1",
                                "(error):5 (Access is denied) in procedure getServiceState of "
                                "Module modServices"}));
}
