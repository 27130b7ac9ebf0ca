#include "RunOutput.h"

#include "platform/AsciiText.h"

#include <string_view>

namespace zeph::cli {

namespace {

constexpr const char *kRed = "\x1b[31m";
constexpr const char *kYellow = "\x1b[33m";
constexpr const char *kPlain = "\x1b[0m";
// Back to the start of the line and clear it.
constexpr const char *kEraseLine = "\r\x1b[K";

} // namespace

namespace {

bool beginsWithMarker(const std::string &line, const std::string &marker) {
    const std::size_t start = line.find_first_not_of(' ');
    return start != std::string::npos && line.size() - start >= marker.size() &&
           equalsIgnoreCase(std::string_view(line).substr(start, marker.size()), marker);
}

// How many characters (UTF-8 code points) a text shows.
std::size_t shownLength(const std::string &text) {
    std::size_t n = 0;
    for (const char c : text)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

} // namespace

std::string colouredLogLine(const std::string &line) {
    if (beginsWithMarker(line, "(error)"))
        return kRed + line + kPlain;
    if (beginsWithMarker(line, "(warning)"))
        return kYellow + line + kPlain;
    return line;
}

std::string fittedToColumns(const std::string &text, int columns) {
    if (columns <= 0 || shownLength(text) <= static_cast<std::size_t>(columns))
        return text;
    const std::size_t keep = columns > 3 ? static_cast<std::size_t>(columns) - 3 : 0;
    std::size_t shown = 0;
    std::size_t at = 0;
    for (; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && shown++ == keep)
            break;
    }
    return text.substr(0, at) +
           std::string("...").substr(0, static_cast<std::size_t>(columns) - keep);
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
    , m_colour(terminal.output && !terminal.noColor && !terminal.dumb)
    , m_escapes(!terminal.dumb)
    // One column short of the width: a line that fills it would wrap on some terminals.
    , m_columns(terminal.columns > 1 ? terminal.columns - 1 : 0)
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
    if (!m_showProgress || !progress.started())
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
    const std::size_t before = m_drawn ? shownLength(m_lastLine) : 0;
    m_lastLine = fittedToColumns("zephrane-cli: " + progress.text(), m_columns);
    if (m_escapes) {
        m_err << kEraseLine << m_lastLine << std::flush;
    } else {
        // A terminal without escapes: back to the line's start, and blanks over what is left.
        const std::size_t now = shownLength(m_lastLine);
        m_err << '\r' << m_lastLine << std::string(before > now ? before - now : 0, ' ')
              << std::flush;
    }
    m_drawn = true;
}

void RunOutput::erase() {
    if (m_escapes)
        m_err << kEraseLine << std::flush;
    else
        m_err << '\r' << std::string(shownLength(m_lastLine), ' ') << '\r' << std::flush;
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
