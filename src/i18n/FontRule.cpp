#include "FontRule.h"

namespace zeph::i18n {

FontRule fontRuleFor(std::int32_t langId) {
    switch (langId) {
    case 1041: // Japanese: MS PGothic
        return {128, "\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF"};
    case 1042: // Korean: Gulim
        return {129, "\uAD74\uB9BC"};
    case 1028: // Chinese (Taiwan): PMingLiU
        return {136, "\u65B0\u7D30\u660E\u9AD4"};
    case 2052: // Chinese (PRC): SimSun
        return {134, "\u5B8B\u4F53"};
    default:
        return {1, ""};
    }
}

} // namespace zeph::i18n
