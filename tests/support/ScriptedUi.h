#pragma once
// A user interface for tests: records every message box, answers questions from a queue, and
// fails the running test on a box it was not told to expect.

#include "platform/UserInterface.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace zeph::test {

class ScriptedUi : public IUserInterface {
public:
    struct Box {
        std::string text;
        MsgButtons buttons = MsgButtons::OK;
        MsgIcon icon = MsgIcon::None;
        MsgAnswer answer = MsgAnswer::OK;
        std::string title = "Zephrane";
    };

    /// The next box must contain `textPart` (when not empty); it is answered with `answer`.
    void expectBox(const std::string &textPart, MsgAnswer answer = MsgAnswer::OK);
    /// The next file dialog returns this path (nothing: cancelled).
    void expectFileDialog(std::optional<std::string> path);
    /// With strict on (the default), an OK-only box that was not expected fails the test too.
    /// Boxes that ask a question always need an expectation.
    void setStrict(bool strict) { m_strict = strict; }
    /// Fails the test when expectations are left over.
    void verifyAllShown();

    const std::vector<Box> &boxes() const { return m_boxes; }
    int doEventsCount() const { return m_doEvents; }
    bool busy() const { return m_busy; }
    int busyChanges() const { return m_busyChanges; }

    MsgAnswer messageBox(const std::string &text, MsgButtons buttons, MsgIcon icon,
                         const std::string &title) override;
    void setBusy(bool busy) override;
    void doEvents() override { ++m_doEvents; }
    std::optional<std::string> openFileDialog(const std::string &title,
                                              const std::string &filter) override;
    std::string clipboardText() override { return m_clipboard; }
    void setClipboardText(const std::string &text) override { m_clipboard = text; }

private:
    struct Expectation {
        std::string textPart;
        MsgAnswer answer;
    };
    std::deque<Expectation> m_expected;
    std::deque<std::optional<std::string>> m_fileAnswers;
    std::vector<Box> m_boxes;
    std::string m_clipboard;
    int m_doEvents = 0;
    int m_busyChanges = 0;
    bool m_busy = false;
    bool m_strict = true;
};

} // namespace zeph::test
