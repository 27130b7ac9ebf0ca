#include "ResetHandOver.h"

#include "MainPage.h"
#include "select/ChooseSubscribersPage.h"

namespace zeph {

ResetRequest handOverRequest(const MainPage &mainPage, const ChooseSubscribersPage &choosePage) {
    ResetRequest request;
    request.templateAlias = mainPage.chosenTemplateAlias();
    request.templateName = mainPage.templateListText();
    request.preserveAlternateExtensions = mainPage.chkPreserveAlternateExtensions;
    request.subscribers = choosePage.tickedSubscribers();
    // What the grid's rows came from, not what the controls show since.
    request.selectionSource = choosePage.gridSource();
    return request;
}

} // namespace zeph
