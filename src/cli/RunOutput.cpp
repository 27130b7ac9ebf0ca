#include "RunOutput.h"

namespace zeph::cli {

namespace {

constexpr const char *kRed = "\x1b[31m";
constexpr const char *kYellow = "\x1b[33m";
constexpr const char *kPlain = "\x1b[0m";
// Back to the start of the line and clear it.
constexpr const char *kEraseLine = "\r\x1b[K";

} // namespace

std::string colouredLogLine(const std::string &line) {
    if (line.find("(error)") != std::string::npos)
        return kRed + line + kPlain;
    if (line.find("(warning)") != std::string::npos)
        return kYellow + line + kPlain;
    return line;
}

std::string terminalMessage(const std::string &text, const std::string &prefix) {
    std::string message = prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            if (i + 1 < text.size())
                message += "\n" + prefix;
            continue;
        }
        message += c;
    }
    return message;
}

RunOutput::RunOutput(std::ostream &out, std::ostream &err, const Terminal &terminal, bool quiet)
    : m_out(out)
    , m_err(err)
    , m_colour(terminal.output && !terminal.noColor)
    , m_showProgress(terminal.error && !quiet)
    , m_shared(terminal.output && terminal.error) {}

void RunOutput::logLine(const std::string &line) {
    const bool redraw = m_drawn && m_shared;
    if (redraw)
        erase();
    m_out << (m_colour ? colouredLogLine(line) : line) << std::endl;
    if (redraw) {
        m_err << m_lastLine << std::flush;
        m_drawn = true;
    }
}

void RunOutput::progress(const RunProgress &progress) {
    if (!m_showProgress)
        return;
    const auto now = RunProgress::Clock::now();
    const bool moved = progress.done() != m_lastDone || progress.current() != m_lastCurrent;
    if (!moved && now - m_lastDraw < std::chrono::seconds(1))
        return;
    m_lastDone = progress.done();
    m_lastCurrent = progress.current();
    m_lastDraw = now;
    draw(progress);
}

void RunOutput::draw(const RunProgress &progress) {
    m_lastLine = "zephrane-cli: " + progress.text();
    m_err << kEraseLine << m_lastLine << std::flush;
    m_drawn = true;
}

void RunOutput::erase() {
    m_err << kEraseLine << std::flush;
    m_drawn = false;
}

void RunOutput::makeWay() {
    if (m_drawn)
        erase();
    m_lastDone = -1; // drawn again at the next progress
}

void RunOutput::finish() {
    makeWay();
    m_showProgress = false;
}

} // namespace zeph::cli
