#pragma once
// A walk through the wizard's pages that saves a picture of each, for the README and for
// looking at the windows as a user would (scripts/screenshots).

#include <QString>

namespace zeph {

class Wizard;

/// Walks the wizard from the first page to the reset page (choosing the first template and
/// all subscribers, running nothing), saves each window as a PNG file in `folder`, and quits
/// the application.
void takeScreenshots(Wizard &wizard, const QString &folder);

} // namespace zeph
