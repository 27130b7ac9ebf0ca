#include "Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zeph::bench {
namespace {

std::string jsonString(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string padded(const std::string &text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string targetText(const Figure &f) {
    if (f.held())
        return (f.goal == Goal::Below ? "< " : "<= ") + numberText(f.target) +
               (f.note.empty() ? "" : " (" + f.note + ")");
    return f.note.empty() ? "(reference)" : "(" + f.note + ")";
}

std::string resultText(const Figure &f) {
    if (!f.held())
        return "-";
    return f.met() ? "pass" : "MISS";
}

} // namespace

std::string numberText(double value) {
    if (!std::isfinite(value))
        return "null"; // JSON has no infinity; a figure that could not be taken reads as null
    char text[64];
    if (std::fabs(value) >= 1000)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

std::string jsonLine(const Figure &f) {
    return "{\"name\": " + jsonString(f.name) + ", \"value\": " + numberText(f.value) +
           ", \"unit\": " + jsonString(f.unit) + "}";
}

void Report::add(Figure figure) {
    m_out << jsonLine(figure) << std::endl; // at once: a long run shows its progress
    m_figures.push_back(std::move(figure));
}

int Report::misses() const {
    return static_cast<int>(std::count_if(m_figures.begin(), m_figures.end(),
                                          [](const Figure &f) { return !f.met(); }));
}

void Report::printTable(std::ostream &out, const std::string &title) const {
    std::size_t nameWidth = 4;
    std::size_t targetWidth = 6;
    for (const Figure &f : m_figures) {
        nameWidth = std::max(nameWidth, f.name.size());
        targetWidth = std::max(targetWidth, targetText(f).size());
    }
    out << "\n" << title << "\n\n";
    out << padded("name", nameWidth) << "  " << padded("value", 10) << "  " << padded("unit", 5)
        << "  " << padded("target", targetWidth) << "  result\n";
    out << std::string(nameWidth + 10 + 5 + targetWidth + 14, '-') << "\n";
    for (const Figure &f : m_figures) {
        std::string value = numberText(f.value);
        out << padded(f.name, nameWidth) << "  "
            << std::string(value.size() < 10 ? 10 - value.size() : 0, ' ') << value << "  "
            << padded(f.unit, 5) << "  " << padded(targetText(f), targetWidth) << "  "
            << resultText(f) << "\n";
    }
    const int missed = misses();
    out << "\n"
        << (missed == 0 ? std::string("Every target met.")
                        : std::to_string(missed) + " target(s) missed.")
        << "\n";
}

} // namespace zeph::bench
