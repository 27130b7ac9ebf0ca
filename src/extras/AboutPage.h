#pragma once
// The About window `frmAbout` without its window: the version text and the language menu.

#include <string>
#include <vector>

namespace zeph {

class IUserInterface;
namespace i18n {
class modLocalize;
}

struct LanguageMenuItem {
    std::string caption;
    std::string tag; ///< the language id as decimal text
};

class AboutPage {
public:
    static constexpr const char *kNoLanguages = "no languages loaded";

    AboutPage(i18n::modLocalize &localize, IUserInterface &ui);

    /// The load step: version text, languages, menu items. A failing step is shown as
    /// "Error in FormLoad routine:" + its description and the next step runs.
    void Form_Load();
    /// Runs the language switch with the chosen item's language id.
    void mnuLanguageList_Click(int index);
    /// True for the menu item of the language now in use (the menu ticks it).
    bool isCurrentLanguage(int index) const;

    /// "1.0 Build5": major.minor, " Build" and the revision.
    std::string lblVersion;
    /// mnuLanguageList: one item per language library, or "no languages loaded".
    std::vector<LanguageMenuItem> mnuLanguageList;

private:
    template <class Step> void step(Step &&run);

    i18n::modLocalize &m_localize;
    IUserInterface &m_ui;
};

} // namespace zeph
