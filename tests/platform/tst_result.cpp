// The result type every layer returns from a call that can fail: its value or why not.

#include "platform/Error.h"
#include "platform/Result.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

using namespace zeph;

namespace {

Result<int> parsePort(const std::string &text) {
    if (text.empty())
        return fail("no port given");
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return fail("\"" + text + "\" is not a number");
        port = port * 10 + (c - '0');
        if (port > 65535)
            return fail("\"" + text + "\" is above 65535");
    }
    return port;
}

// A caller that hands a failure on unchanged and adds its own words to nothing else.
Result<std::string> address(const std::string &host, const std::string &port) {
    Result<int> p = parsePort(port);
    if (!p)
        return p.failure();
    return host + ":" + std::to_string(*p);
}

Status checkAll(const std::vector<std::string> &ports) {
    for (const std::string &port : ports)
        if (Result<int> p = parsePort(port); !p)
            return fail("port " + port + ": " + p.error());
    return done();
}

} // namespace

TEST(Result, GivesTheValueOrSaysWhy) {
    struct Case {
        std::string text;
        bool ok;
        int value;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"1433", true, 1433, ""},
        {"0", true, 0, ""},
        {"", false, 0, "no port given"},
        {"14x", false, 0, "\"14x\" is not a number"},
        {"70000", false, 0, "\"70000\" is above 65535"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const Result<int> r = parsePort(c.text);
        EXPECT_EQ(r.ok(), c.ok);
        EXPECT_EQ(static_cast<bool>(r), c.ok);
        if (c.ok)
            EXPECT_EQ(*r, c.value);
        else
            EXPECT_EQ(r.error(), c.error);
        EXPECT_EQ(r.valueOr(-1), c.ok ? c.value : -1);
    }
}

TEST(Result, HandsAFailureOnUnchanged) {
    EXPECT_EQ(address("db", "1433").value(), "db:1433");
    const Result<std::string> bad = address("db", "x");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error(), "\"x\" is not a number");
    EXPECT_EQ(address("db", "").valueOr("none"), "none");
}

TEST(Result, HoldsAValueThatCanOnlyBeMoved) {
    auto make = [](bool ok) -> Result<std::unique_ptr<int>> {
        if (!ok)
            return fail("nothing made");
        return std::make_unique<int>(7);
    };
    Result<std::unique_ptr<int>> r = make(true);
    ASSERT_TRUE(r);
    EXPECT_EQ(**r, 7);
    std::unique_ptr<int> taken = std::move(r).value();
    EXPECT_EQ(*taken, 7);
    EXPECT_EQ(make(false).error(), "nothing made");
}

TEST(Result, MembersOfTheValueAreReachedThroughIt) {
    Result<std::string> r = std::string("abc");
    EXPECT_EQ(r->size(), 3U);
    r->push_back('d');
    EXPECT_EQ(*r, "abcd");
}

TEST(Status, IsDoneOrSaysWhy) {
    const Status good = checkAll({"1", "2"});
    EXPECT_TRUE(good.ok());
    EXPECT_TRUE(good);
    const Status bad = checkAll({"1", "", "x"});
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error(), "port : no port given");
    const Status handed = [&]() -> Status { return bad.failure(); }();
    EXPECT_EQ(handed.error(), bad.error());
    EXPECT_TRUE(done());
}

TEST(Result, CarriesAFailureThatSaysMoreThanAText) {
    const Result<int, Error> bad = Error(errnum::kFileNotFound, "File not found");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().number(), errnum::kFileNotFound);
    EXPECT_EQ(bad.error().description(), "File not found");
    EXPECT_EQ(bad.valueOr(-1), -1);
    const Result<int, Error> good = 3;
    EXPECT_EQ(*good, 3);
    const Result<void, Error> handed = [&]() -> Result<void, Error> { return bad.failure(); }();
    EXPECT_EQ(handed.error().number(), errnum::kFileNotFound);
    EXPECT_TRUE((Result<void, Error>()));
}

// What a step raises becomes the system's error: its own Error as it is, anything else with
// the number the system gives it; the same for a value (caught) and a report (trap).
TEST(Caught, AStepsExceptionIsTheSystemsErrorWithItsNumber) {
    const struct {
        const char *name;
        std::function<void()> step;
        bool ok;
        long number;
        const char *description;
    } cases[] = {
        {"nothing raised", [] {}, true, 0, ""},
        {"the system's error", [] { throw Error(errnum::kPathNotFound, "Path not found"); }, false,
         errnum::kPathNotFound, "Path not found"},
        {"no memory", [] { throw std::bad_alloc(); }, false, errnum::kOutOfMemory, "Out of memory"},
        {"another exception", [] { throw std::runtime_error("vector::at"); }, false,
         errnum::kInternal, "vector::at"},
    };
    const Where where{"cmdNext_Click", "Form", "frmMain"};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Result<void, Error> r = caught(c.step);
        ASSERT_EQ(r.ok(), c.ok);
        std::vector<std::string> reports;
        EXPECT_EQ(trap(
                      where, [&](const std::string &text) { reports.push_back(text); }, c.step),
                  c.ok);
        if (c.ok) {
            EXPECT_TRUE(reports.empty());
            continue;
        }
        EXPECT_EQ(r.error().number(), c.number);
        EXPECT_EQ(r.error().description(), c.description);
        EXPECT_EQ(reports, std::vector<std::string>{
                               "(error):" + std::to_string(c.number) + " (" + c.description +
                               ") in procedure cmdNext_Click of Form frmMain"});
    }
    // What is no exception of the library's own goes on up, as it did before.
    EXPECT_THROW((void)caught([] { throw 42; }), int);
}

// assert() guards invariants in the test build (Debug) and is compiled out of the release
// builds; ZEPH_ASSERTS_EXPECTED is defined for the Debug configuration only.
TEST(Asserts, AreLiveInTheTestBuildAndOutOfTheRelease) {
#if defined(ZEPH_ASSERTS_EXPECTED) && defined(NDEBUG)
    FAIL() << "the Debug build defines NDEBUG: its asserts are compiled out";
#elif !defined(ZEPH_ASSERTS_EXPECTED) && !defined(NDEBUG)
    FAIL() << "a release build keeps its asserts: NDEBUG is not defined";
#else
    SUCCEED();
#endif
}

#ifndef NDEBUG
TEST(ResultDeathTest, MisuseStopsTheTestBuild) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Result<int> failed = parsePort("");
    const Result<int> good = parsePort("1");
    EXPECT_DEATH((void)failed.value(), "the value of a failed result");
    EXPECT_DEATH((void)good.error(), "the error of a result that has its value");
    EXPECT_DEATH((void)done().error(), "the error of a result that succeeded");
    EXPECT_DEATH((void)fail(""), "a failure says why");
}
#endif
