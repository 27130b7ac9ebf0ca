#pragma once
// Keyword colouring of the advanced search's query editor, without the editor.
//
// The editor's text is taken as the system keeps it: UTF-8 with CR LF line breaks. Editor
// offsets count characters (not bytes) from 0, and a CR LF line break counts as two characters.
// The window applies the result: it sets the text, colours everything black, then paints the
// runs and puts the caret back.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::search {

/// Editor colour values: red in the low byte, blue in the high byte.
inline constexpr std::uint32_t kKeywordColor = 0xFF0000; // blue
inline constexpr std::uint32_t kStringColor = 0x0000FF;  // red
inline constexpr std::uint32_t kPlainColor = 0x000000;   // black

struct ColorRun {
    int start = 0; // editor offset
    int length = 0;
    std::uint32_t color = kPlainColor;

    bool operator==(const ColorRun &) const = default;
};

struct QueryColors {
    /// The editor's new text: the old one with every keyword in upper case.
    std::string text;
    /// Blue keywords and red quoted strings, ascending and not overlapping; the rest is black.
    std::vector<ColorRun> runs;
    /// Where the caret goes back to (no selection), inside the text.
    int caret = 0;
};

/// Recolours the whole editor text; `caret` is the caret's editor offset before recolouring.
QueryColors SetQueryColors(std::string_view text, int caret);

/// The keyword list, in its own order (169 words).
std::span<const std::string_view> queryKeywords();
/// True when the word, compared without regard to case, is one of the keywords.
bool isQueryKeyword(std::string_view word);

/// The text's length in editor offsets.
int editorLength(std::string_view text);

/// Line breaks as the editor keeps them (CR LF) from a text that may break lines with a bare LF.
std::string toEditorLineBreaks(std::string_view text);
/// Line breaks as a single LF, the way text widgets hold them.
std::string toWidgetLineBreaks(std::string_view text);

/// Translates between editor offsets and the offsets of a text widget that holds a line break
/// as one character and counts UTF-16 units, for one editor text.
class EditorOffsetMap {
public:
    explicit EditorOffsetMap(std::string_view editorText);

    /// Offsets out of range are clamped to the text.
    int toWidget(int editorOffset) const;
    int toEditor(int widgetOffset) const;

private:
    // m_widget[e] is the widget offset of editor offset e (0..editor length).
    std::vector<int> m_widget;
};

} // namespace zeph::search
