#include "MainPage.h"

#include "Program.h"
#include "StartUpChecks.h"
#include "platform/Error.h"

namespace zeph {

const char *const MainPage::kDescription =
    "The Zephrane tool allows administrators to choose a range of subscribers and have their "
    "subscriber settings reset back to defaults and have their mailstores cleared out while "
    "maintaining their public distribution list membership and keeping all links in the auto "
    "attendant in tact.  ";
const char *const MainPage::kExplanation =
    "Select the subscriber template to use when resetting the selected subscribers' subscriber "
    "accounts.  The defaults from this template will be applied to all reset subscriber "
    "mailboxes.  All their greetings and voice names will be removed and all their messages "
    "that may be in their inbox will be deleted.";
const char *const MainPage::kTemplatePrompt =
    "Select a subscriber template to use for defaults when resetting subscriber mailboxes:";
const char *const MainPage::kPreserveCaption = "Save alternate extensions for reset users";

namespace {

constexpr Where kNext{"cmdNext_Click", "Form", "frmMain"};
constexpr Where kReloadTables{"reloadTables", "Form", "frmMain"};

} // namespace

MainPage::MainPage(Program &program)
    : m_program(program) {}

void MainPage::reportError(const std::string &text) {
    m_program.message(text);
}

void MainPage::Form_Load() {
    StartUpSettings settings;
    settings.warnAboutUnfinishedResets = warnAboutUnfinishedResets;
    showTemplates(StartUpChecks(m_program, settings).run());
    chkPreserveAlternateExtensions = false;
}

void MainPage::showTemplates(TemplateLists templates) {
    cmbSubscriberTemplateAlias = std::move(templates.aliases);
    cmbTemplateListDisplayName = std::move(templates.displayNames);
    templateListIndex = -1;
}

bool MainPage::reloadTables() {
    const std::string chosen = chosenTemplateAlias();
    if (!m_program.tarvoDb.bReopenDatabase(m_program.tarvoDb.DbConnectionString())) {
        m_program.host.ui->messageBox("The server's subscribers and templates could not be read "
                                      "again after the recovery.  Restart Zephrane before you "
                                      "reset subscribers.",
                                      MsgButtons::OK, MsgIcon::Warning);
        return false;
    }
    showTemplates(StartUpChecks(m_program, {}).readTemplates(kReloadTables));
    for (std::size_t i = 0; i < cmbSubscriberTemplateAlias.size(); ++i)
        if (!chosen.empty() && cmbSubscriberTemplateAlias[i] == chosen)
            templateListIndex = static_cast<int>(i);
    return true;
}

std::string MainPage::templateListText() const {
    if (templateListIndex < 0 ||
        templateListIndex >= static_cast<int>(cmbTemplateListDisplayName.size()))
        return {};
    return cmbTemplateListDisplayName[static_cast<std::size_t>(templateListIndex)];
}

std::string MainPage::chosenTemplateAlias() const {
    if (templateListIndex < 0 ||
        templateListIndex >= static_cast<int>(cmbSubscriberTemplateAlias.size()))
        return {};
    return cmbSubscriberTemplateAlias[static_cast<std::size_t>(templateListIndex)];
}

bool MainPage::cmdNext_Click() {
    bool moveOn = false;
    trap(
        kNext, [this](const std::string &t) { reportError(t); },
        [&] {
            if (templateListText().empty()) {
                m_program.host.ui->messageBox("You must first select a template to use when "
                                              "resetting subscribers",
                                              MsgButtons::OK, MsgIcon::Warning);
                return;
            }
            moveOn = true;
        });
    return moveOn;
}

} // namespace zeph
