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
    bool dumb = false;    ///< TERM is "dumb": no escapes at all
    int columns = 0;      ///< standard error's width (COLUMNS first); 0 when unknown
};

/// The log line with its marker's colour: red for a line that begins (after blanks) with
/// "(error)", yellow for "(warning)", in any letter case (ANSI escapes); other lines, such as
/// the header's words about the markers, as they are.
std::string colouredLogLine(const std::string &line);

/// The text cut to `columns` characters (UTF-8 sequences kept whole), with "..." at its end
/// when it was cut; as it is when `columns` is 0 or the text fits.
std::string fittedToColumns(const std::string &text, int columns);

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
    bool m_escapes = true;
    int m_columns = 0;
    bool m_showProgress = false;
    bool m_shared = false; ///< log lines and progress share one terminal
    bool m_drawn = false;
    std::string m_lastLine;
    RunProgress::Clock::time_point m_lastDraw{};
    int m_lastDone = -1;
    std::string m_lastCurrent;
};

} // namespace zeph::cli
