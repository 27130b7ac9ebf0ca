#pragma once
// The error a step raises, for tests that check the number and description.

#include "platform/Error.h"

namespace zeph::test {

/// Runs `step` and returns the Error it throws (number 0 when it throws none).
template <class Step> Error errorOf(Step &&step) {
    try {
        step();
    } catch (const Error &e) {
        return e;
    }
    return Error(0, "no error");
}

} // namespace zeph::test
