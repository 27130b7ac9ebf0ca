#pragma once
// The user-interface port for the wizard's windows.

#include "platform/UserInterface.h"

class QMessageBox;
class QWidget;

namespace zeph::ui {

class QtUserInterface : public IUserInterface {
public:
    /// Message boxes are shown over the active window, or over `fallbackParent`.
    explicit QtUserInterface(QWidget *fallbackParent = nullptr);

    MsgAnswer messageBox(const std::string &text, MsgButtons buttons, MsgIcon icon,
                         const std::string &title) override;
    MsgAnswer askDestructive(const std::string &text, const std::string &details) override;
    void setBusy(bool busy) override;
    void doEvents() override;
    std::optional<std::string> openFileDialog(const std::string &title,
                                              const std::string &filter) override;
    std::string clipboardText() override;
    void setClipboardText(const std::string &text) override;

    void setFallbackParent(QWidget *parent) { m_parent = parent; }

    /// The icon a box shows: the one asked for; without one, the icon of the text's meaning
    /// (an error report or a text that begins with "Error" gets the error icon, a question
    /// the question mark, anything else the information icon).
    static MsgIcon iconOf(const std::string &text, MsgButtons buttons, MsgIcon asked);

private:
    QWidget *parentWidget() const;
    /// Shows the box modally with the normal pointer; its result.
    int execBox(QMessageBox &box);
    QWidget *m_parent;
    bool m_busy = false;
};

} // namespace zeph::ui
