#include "AboutPage.h"

#include "app/Version.h"
#include "i18n/Languages.h"
#include "i18n/modLocalize.h"
#include "platform/Error.h"
#include "platform/UserInterface.h"

#include <charconv>

namespace zeph {

AboutPage::AboutPage(i18n::modLocalize &localize, IUserInterface &ui)
    : m_localize(localize)
    , m_ui(ui) {}

template <class Step> void AboutPage::step(Step &&run) {
    try {
        run();
    } catch (const Error &e) {
        m_ui.messageBox("Error in FormLoad routine:" + e.description());
    } catch (const std::exception &e) {
        m_ui.messageBox(std::string("Error in FormLoad routine:") + e.what());
    }
}

void AboutPage::Form_Load() {
    step([&] {
        lblVersion = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) +
                     " Build" + std::to_string(kVersionRevision);
    });
    step([&] { m_localize.InitalizeLanguages(); });
    step([&] {
        mnuLanguageList.clear();
        const auto &codes = m_localize.AvailableLanguages();
        if (codes.size() >= 2) {
            for (const auto &code : codes)
                mnuLanguageList.push_back(
                    {i18n::CodeToLanguageName(code), std::to_string(i18n::CodeToLangId(code))});
        } else {
            mnuLanguageList.push_back({kNoLanguages, "1033"});
        }
    });
}

void AboutPage::mnuLanguageList_Click(int index) {
    if (index < 0 || index >= static_cast<int>(mnuLanguageList.size()))
        return;
    const std::string &tag = mnuLanguageList[static_cast<std::size_t>(index)].tag;
    std::int32_t langId = 1033;
    std::from_chars(tag.data(), tag.data() + tag.size(), langId);
    m_localize.switchLanguage(langId);
}

bool AboutPage::isCurrentLanguage(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= mnuLanguageList.size())
        return false;
    return mnuLanguageList[static_cast<std::size_t>(index)].tag ==
           std::to_string(m_localize.CurrentLangID());
}

} // namespace zeph
