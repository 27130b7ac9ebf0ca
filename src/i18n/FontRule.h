#pragma once
// The font that can show a language: a character set and a face name per language id.

#include <cstdint>
#include <string>

namespace zeph::i18n {

struct FontRule {
    int charset = 1;  // the default character set
    std::string face; // UTF-8; empty: keep the control's own face
    bool operator==(const FontRule &) const = default;
};

/// Character set and face for a language: Japanese, Korean and the two written forms of
/// Chinese have their own; every other language gets the default set and an empty face.
FontRule fontRuleFor(std::int32_t langId);

} // namespace zeph::i18n
