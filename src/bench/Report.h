#pragma once
// The benchmark's figures: one JSON object per line as each is measured, then a table with the
// targets and whether each was met.

#include <ostream>
#include <string>
#include <vector>

namespace zeph::bench {

/// What a figure is held against.
enum class Goal {
    Below,     ///< must stay under its target
    AtMost,    ///< may reach its target, not pass it
    Reference, ///< shown for comparison only
};

struct Figure {
    std::string name;
    double value = 0;
    std::string unit;
    Goal goal = Goal::Reference;
    double target = 0;
    /// What the figure is, or what a reference figure is compared with, for the table.
    std::string note;

    bool held() const { return goal == Goal::Below || goal == Goal::AtMost; }
    bool met() const {
        return goal == Goal::Below ? value < target : goal != Goal::AtMost || value <= target;
    }
};

/// The figure as one line of JSON: {"name": ..., "value": ..., "unit": ...}.
std::string jsonLine(const Figure &figure);
/// A number as the JSON lines and the table write it: whole above 1000, else four digits.
std::string numberText(double value);

class Report {
public:
    /// Where each JSON line goes the moment its figure is added.
    explicit Report(std::ostream &jsonOut)
        : m_out(jsonOut) {}

    void add(Figure figure);
    const std::vector<Figure> &figures() const { return m_figures; }
    /// Figures whose target was missed.
    int misses() const;
    /// The readable table: name, value, unit, target and pass or miss.
    void printTable(std::ostream &out, const std::string &title) const;

private:
    std::ostream &m_out;
    std::vector<Figure> m_figures;
};

} // namespace zeph::bench
