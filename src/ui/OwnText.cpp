#include "OwnText.h"

#include "i18n/OwnStrings.h"
#include "i18n/modLocalize.h"

namespace zeph::ui {

QString ownText(i18n::modLocalize *localize, std::uint32_t id) {
    if (localize)
        return QString::fromStdString(localize->myLoadResString(id));
    const auto own = i18n::ownString(id);
    return own ? QString::fromUtf8(own->data(), static_cast<qsizetype>(own->size())) : QString();
}

} // namespace zeph::ui
