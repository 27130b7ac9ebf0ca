#pragma once
// The first wizard page, `frmMain`: the start-up checks of its load step, the template choice
// and the keep-alternate-extensions check box.

#include "StartUpChecks.h"

#include <string>
#include <vector>

namespace zeph {

class Program;

class MainPage {
public:
    explicit MainPage(Program &program);

    /// The load step: the start-up checks (StartUpChecks), then the templates in the lists. A
    /// fatal check shows its message and ends the program through ExitApplication (which
    /// does not return).
    void Form_Load();

    /// Next: false (after its message) when no template is chosen; true when the wizard may
    /// show the selection page.
    bool cmdNext_Click();

    // --- the page's controls ---------------------------------------------------------------
    /// Hidden list: the templates' aliases.
    std::vector<std::string> cmbSubscriberTemplateAlias;
    /// Visible drop-down list: the templates' display names, at the same positions.
    std::vector<std::string> cmbTemplateListDisplayName;
    /// Position chosen in cmbTemplateListDisplayName; -1 while nothing is chosen.
    int templateListIndex = -1;
    bool chkPreserveAlternateExtensions = false;

    /// Whether the load step tells about resets that did not finish (the wizard offers the
    /// recovery on a page of its own).
    bool warnAboutUnfinishedResets = true;

    /// Reads the cached tables and the template lists again (a recovery changed the server
    /// after they were read at start), keeping the chosen template when it is still there.
    /// False, after its message, when the tables could not be read again.
    bool reloadTables();

    /// The text of the visible template list (its chosen entry), "" when none is chosen.
    std::string templateListText() const;
    /// The alias at the chosen position of the hidden list ("" when none is chosen).
    std::string chosenTemplateAlias() const;

    static constexpr const char *kHeading = "Zephrane";
    static const char *const kDescription;
    static const char *const kExplanation;
    static const char *const kTemplatePrompt;
    static const char *const kPreserveCaption;

private:
    void showTemplates(TemplateLists templates);
    void reportError(const std::string &text);

    Program &m_program;
};

} // namespace zeph
