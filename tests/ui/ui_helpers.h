#pragma once
// Shared by the window tests: one QApplication for the whole test program (offscreen unless
// told otherwise), removed when the tests are done.

class QApplication;

namespace zeph::test {

/// The test program's application object, created on first use.
QApplication &testApplication();

} // namespace zeph::test
