#include "search/QueryEditorKeys.h"

namespace zeph::search {

QueryKeyAction QueryEditorKeys::keyDown(int keyCode, int /*shift*/) {
    switch (keyCode) {
    case keycode::kBackspace:
    case keycode::kDelete:
        // The editor removes a selection by itself. Emptying the selection here first would
        // make the key take one more character than the administrator selected.
        return QueryKeyAction::None;
    case keycode::kCtrl:
        m_bCtrlDown = true;
        return QueryKeyAction::None;
    case 37:
    case 38:
    case 39:
    case 49:
        return QueryKeyAction::None;
    case 67:
    case 99:
        return m_bCtrlDown ? QueryKeyAction::CopyPlainText : QueryKeyAction::Recolor;
    case 86:
    case 118:
        // With Ctrl the editor pastes by itself.
        return m_bCtrlDown ? QueryKeyAction::None : QueryKeyAction::Recolor;
    case 88:
    case 120:
        return m_bCtrlDown ? QueryKeyAction::CutPlainText : QueryKeyAction::Recolor;
    default:
        return QueryKeyAction::Recolor;
    }
}

void QueryEditorKeys::keyUp(int keyCode, int /*shift*/) {
    if (keyCode == keycode::kCtrl)
        m_bCtrlDown = false;
}

} // namespace zeph::search
