// The scope guards: what each gives back on each way out of its scope, and an observer that
// points at a scope's object and is gone with it, however the scope was left.
#include "app/ScopeGuards.h"
#include "log/Logging.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

using namespace zeph;

namespace {

enum class Exit { Return, Throw };

class ScopeGuards : public ::testing::TestWithParam<Exit> {
protected:
    // Runs `body` and leaves its scope the way the parameter says.
    template <class Body> void leave(Body &&body) {
        try {
            body();
            if (GetParam() == Exit::Throw)
                throw std::runtime_error("left by an exception");
        } catch (const std::runtime_error &) {
            EXPECT_EQ(GetParam(), Exit::Throw);
        }
    }
};

TEST_P(ScopeGuards, SaveAndRestoreGivesBackTheValueBefore) {
    bool busy = false;
    std::string name = "before";
    std::function<int()> hook = [] { return 1; };
    leave([&] {
        const SaveAndRestore busyGuard(busy, true);
        const SaveAndRestore nameGuard(name, "during");
        const SaveAndRestore hookGuard(hook, [] { return 2; });
        EXPECT_TRUE(busy);
        EXPECT_EQ(name, "during");
        EXPECT_EQ(hook(), 2);
    });
    EXPECT_FALSE(busy);
    EXPECT_EQ(name, "before");
    ASSERT_TRUE(hook);
    EXPECT_EQ(hook(), 1);
}

TEST_P(ScopeGuards, NestedGuardsUndoInTheReverseOrder) {
    std::string order;
    int depth = 0;
    leave([&] {
        const SaveAndRestore outer(depth, 1);
        const ScopeExit first([&] { order += "first(" + std::to_string(depth) + ")"; });
        {
            const SaveAndRestore inner(depth, 2);
            const ScopeExit second([&] { order += "second(" + std::to_string(depth) + ")"; });
        }
        EXPECT_EQ(depth, 1);
    });
    EXPECT_EQ(order, "second(2)first(1)");
    EXPECT_EQ(depth, 0);
}

// A log observer installed for a scope, as the programs install theirs for one run: a line
// written after the scope reaches no one (were the observer left, it would write into an
// object that is gone, which the address sanitizer reports).
TEST_P(ScopeGuards, AnObserverOfTheScopeIsGoneAfterIt) {
    test::TempHost temp(1, 1);
    Logging log(temp.host());
    log.setLineObserver(nullptr);
    leave([&] {
        std::vector<std::string> seen; // dies with the scope
        log.setLineObserver([&seen](const std::string &line) { seen.push_back(line); });
        const ScopeExit unobserve([&log] { log.setLineObserver(nullptr); });
        log.WriteLogLine("during");
        EXPECT_EQ(seen, std::vector<std::string>{"during"});
    });
    EXPECT_FALSE(log.lineObserver());
    log.WriteLogLine("after");
}

INSTANTIATE_TEST_SUITE_P(EachWayOut, ScopeGuards, ::testing::Values(Exit::Return, Exit::Throw),
                         [](const ::testing::TestParamInfo<Exit> &param) {
                             return param.param == Exit::Return ? "Returned" : "Threw";
                         });

} // namespace
