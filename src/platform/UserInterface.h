#pragma once
// The user-interface port: what the core asks of whoever shows it (windows, a terminal, a test).

#include <optional>
#include <string>

namespace zeph {

enum class MsgButtons { OK, OKCancel, YesNo };
enum class MsgIcon { None, Information, Warning, Critical, Question };
enum class MsgAnswer { OK, Cancel, Yes, No };

class IUserInterface {
public:
    virtual ~IUserInterface() = default;
    /// Shows a message box and waits for the answer. Its title is the program's, "Zephrane",
    /// unless another is given.
    virtual MsgAnswer messageBox(const std::string &text, MsgButtons buttons = MsgButtons::OK,
                                 MsgIcon icon = MsgIcon::None, const std::string &title = {}) = 0;
    /// Asks a question whose Yes destroys what cannot be recovered: `text` is the question,
    /// shown with a warning and No as the answer a mere Enter gives; `details` (what exactly
    /// will be done) is shown under it. Without a window of its own for that, the details
    /// follow the question on a line of their own.
    virtual MsgAnswer askDestructive(const std::string &text, const std::string &details) {
        return messageBox(details.empty() ? text : text + "\n" + details, MsgButtons::YesNo,
                          MsgIcon::Warning);
    }
    /// Shows or removes the busy (hourglass) pointer.
    virtual void setBusy(bool busy) = 0;
    /// Lets the user interface handle its pending events once (repaint, clicks).
    virtual void doEvents() = 0;
    /// Asks for a file to open; nothing when cancelled. The filter is "Description|*.ext".
    virtual std::optional<std::string> openFileDialog(const std::string &title,
                                                      const std::string &filter) = 0;
    virtual std::string clipboardText() = 0;
    virtual void setClipboardText(const std::string &text) = 0;
};

} // namespace zeph
