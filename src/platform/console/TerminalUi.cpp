#include "Console.h"

#include "platform/Native.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace zeph::console {

namespace {

class TerminalUi : public IUserInterface {
public:
    TerminalUi(bool assumeYes, std::string linePrefix)
        : m_assumeYes(assumeYes)
        , m_prefix(std::move(linePrefix)) {}

    MsgAnswer messageBox(const std::string &text, MsgButtons buttons, MsgIcon,
                         const std::string &title) override {
        if (!title.empty())
            std::cerr << title << ": ";
        std::cerr << text << std::endl;
        if (buttons == MsgButtons::OK)
            return MsgAnswer::OK;
        const MsgAnswer yes = buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::OK;
        const MsgAnswer no = buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
        if (m_assumeYes) {
            std::cerr << m_prefix << "(answered " << (yes == MsgAnswer::Yes ? "Yes" : "OK")
                      << " by --yes)" << std::endl;
            return yes;
        }
        if (!native::isTerminal(native::StandardStream::Input)) {
            std::cerr << m_prefix
                      << "(refused: there is no terminal to ask on; use --yes to answer)"
                      << std::endl;
            return no;
        }
        std::cerr << m_prefix;
        const char *prompt = buttons == MsgButtons::YesNo ? "Yes/No [y/N]: " : "OK/Cancel [o/C]: ";
        std::cerr << prompt << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer))
            return no;
        char first = answer.empty() ? '\0' : static_cast<char>(answer[0] | 0x20);
        if (buttons == MsgButtons::YesNo)
            return first == 'y' ? yes : no;
        return first == 'o' ? yes : no;
    }

    void setBusy(bool) override {}
    void doEvents() override {}
    std::optional<std::string> openFileDialog(const std::string &, const std::string &) override {
        return std::nullopt;
    }
    std::string clipboardText() override { return m_clipboard; }
    void setClipboardText(const std::string &text) override { m_clipboard = text; }

private:
    bool m_assumeYes;
    std::string m_prefix;
    std::string m_clipboard;
};

} // namespace

std::unique_ptr<IUserInterface> makeTerminalUi(bool assumeYes, std::string linePrefix) {
    return std::make_unique<TerminalUi>(assumeYes, std::move(linePrefix));
}

} // namespace zeph::console
