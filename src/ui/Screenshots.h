#pragma once
// A walk through the wizard's pages that saves a picture of each, for the README and for
// looking at the windows as a user would (scripts/screenshots).

#include <QString>

namespace zeph {

class Wizard;

/// Walks the wizard as an operator would: the recovery page when the start found an
/// interrupted run (Recover pressed), the first template, all subscribers (a few of them
/// unticked, then the same page in Japanese), the reset page, the question before the run, a
/// run over five subscribers stopped after its first and its results panel, and Help. Saves each
/// window as a PNG file in `folder` and quits the application. The run changes the host it runs on.
void takeScreenshots(Wizard &wizard, const QString &folder);

} // namespace zeph
