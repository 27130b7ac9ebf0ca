#pragma once
// What zephrane-cli writes while a run is under way: the run log's lines on standard output,
// coloured on a terminal, and one progress line on standard error, redrawn in place, when
// standard error is a terminal.

#include "reset/RunProgress.h"

#include <ostream>
#include <string>

namespace zeph::cli {

/// What the program's standard streams are connected to, found out once at start.
struct Terminal {
    bool output = false;  ///< standard output is a terminal
    bool error = false;   ///< standard error is a terminal
    bool noColor = false; ///< NO_COLOR is set to a non-empty text
};

/// The log line with "(error)" lines in red and "(warning)" lines in yellow (ANSI escapes).
std::string colouredLogLine(const std::string &line);

/// A message for a window made fit for a terminal: each line (CR LF, CR or LF) begins with
/// `prefix`, and no CR is left.
std::string terminalMessage(const std::string &text, const std::string &prefix);

class RunOutput {
public:
    RunOutput(std::ostream &out, std::ostream &err, const Terminal &terminal, bool quiet);
    RunOutput(const RunOutput &) = delete;
    RunOutput &operator=(const RunOutput &) = delete;
    ~RunOutput() { finish(); }

    /// Writes a run log line to standard output; the progress line is taken away first and
    /// drawn again after it when both streams go to the same terminal.
    void logLine(const std::string &line);
    /// Redraws the progress line (at once when the count or the subscriber changed, else at
    /// most once a second, so that the times move during a long step).
    void progress(const RunProgress &progress);
    /// Takes the progress line away until the next progress (a message is shown).
    void makeWay();
    /// Takes the progress line away for good (the run has ended).
    void finish();

private:
    void draw(const RunProgress &progress);
    void erase();

    std::ostream &m_out;
    std::ostream &m_err;
    bool m_colour = false;
    bool m_showProgress = false;
    bool m_shared = false; ///< log lines and progress share one terminal
    bool m_drawn = false;
    std::string m_lastLine;
    RunProgress::Clock::time_point m_lastDraw{};
    int m_lastDone = -1;
    std::string m_lastCurrent;
};

} // namespace zeph::cli
