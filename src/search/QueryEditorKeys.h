#pragma once
// What the query editor's key handlers do, by the Windows key code the editor reports. The key
// is never swallowed: after the handler the editor applies it as usual.

namespace zeph::search {

/// Key codes the handlers know.
namespace keycode {
inline constexpr int kBackspace = 8;
inline constexpr int kCtrl = 17;
inline constexpr int kDelete = 46;
} // namespace keycode

enum class QueryKeyAction {
    None,          // leave everything to the editor
    Recolor,       // run SetQueryColors before the editor applies the key
    CopyPlainText, // clear the clipboard, then give it the selected text as plain text
    CutPlainText,  // as CopyPlainText, then replace the selected text by empty text
};

/// The editor's key-down and key-up handlers; holds whether Ctrl is down.
class QueryEditorKeys {
public:
    /// The action for a key going down, taken before the key reaches the text.
    QueryKeyAction keyDown(int keyCode, int shift);
    void keyUp(int keyCode, int shift);

    bool bCtrlDown() const { return m_bCtrlDown; }

private:
    bool m_bCtrlDown = false;
};

} // namespace zeph::search
