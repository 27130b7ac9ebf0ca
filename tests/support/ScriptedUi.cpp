#include "ScriptedUi.h"

#include <gtest/gtest.h>

namespace zeph::test {

void ScriptedUi::expectBox(const std::string &textPart, MsgAnswer answer) {
    m_expected.push_back({textPart, answer});
}

void ScriptedUi::expectFileDialog(std::optional<std::string> path) {
    m_fileAnswers.push_back(std::move(path));
}

void ScriptedUi::verifyAllShown() {
    for (const auto &e : m_expected)
        ADD_FAILURE() << "expected message box was not shown: \"" << e.textPart << "\"";
    m_expected.clear();
}

MsgAnswer ScriptedUi::messageBox(const std::string &text, MsgButtons buttons, MsgIcon icon,
                                 const std::string &title) {
    Box box{text, buttons, icon, MsgAnswer::OK, title.empty() ? "Zephrane" : title};
    const bool asks = buttons != MsgButtons::OK;
    const MsgAnswer refuse = buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
    if (m_expected.empty()) {
        if (asks || m_strict)
            ADD_FAILURE() << "unexpected message box: \"" << text << "\"";
        box.answer = asks ? refuse : MsgAnswer::OK;
    } else {
        Expectation e = m_expected.front();
        m_expected.pop_front();
        if (text.find(e.textPart) == std::string::npos)
            ADD_FAILURE() << "message box \"" << text << "\" does not contain \"" << e.textPart
                          << "\"";
        box.answer = e.answer;
    }
    m_boxes.push_back(box);
    return box.answer;
}

void ScriptedUi::setBusy(bool busy) {
    if (busy != m_busy)
        ++m_busyChanges;
    m_busy = busy;
}

std::optional<std::string> ScriptedUi::openFileDialog(const std::string &, const std::string &) {
    if (m_fileAnswers.empty()) {
        ADD_FAILURE() << "unexpected file dialog";
        return std::nullopt;
    }
    auto answer = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    return answer;
}

} // namespace zeph::test
