#pragma once
// A whole reset run driven through the wizard's own windows, as an operator would click it, for
// checking the wizard where no test library reaches it (the Windows program under Wine):
// ZEPHRANE_DRIVE_RESET=ALIAS zephrane.

#include <QString>

namespace zeph {

class MainPage;
class Wizard;

/// Chooses the template `templateAlias` on the first page, views all subscribers, ticks them
/// all, goes on to the reset page, presses Reset Subscribers, answers the question with Yes
/// and, once the run has ended, prints its closing message on standard output, answers it with
/// Cancel (no text viewer) and presses Exit. A step that cannot be taken (an unknown template,
/// an empty grid, a recovery page at start) is said on standard error and ends the program
/// with status 3.
void driveReset(Wizard &wizard, const MainPage &mainPage, const QString &templateAlias);

} // namespace zeph
