#pragma once
// What the wizard's first two pages hand over to the reset page: the template chosen and the
// alternate extensions' choice on the first, the ticked subscribers on the selection page.

#include "reset/ResetRequest.h"

namespace zeph {

class MainPage;
class ChooseSubscribersPage;

/// The request as the pages' controls make it now; the reset page adds its own options.
ResetRequest handOverRequest(const MainPage &mainPage, const ChooseSubscribersPage &choosePage);

} // namespace zeph
