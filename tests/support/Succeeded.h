#pragma once
// A call's Result as a test's condition: when the call failed, the test says why.
//
//     ASSERT_TRUE(test::succeeded(journal.finished()));

#include "platform/Result.h"

#include <gtest/gtest.h>

namespace zeph::test {

template <class T> testing::AssertionResult succeeded(const Result<T> &result) {
    if (result)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << result.error();
}

} // namespace zeph::test
