#pragma once
// The windows' texts in English and Hungarian, one catalogue keyed by name. The list itself is
// TextList.def; this header only turns its names into keys.
#include "app/texts/TextKey.h"

#include <QString>

namespace vx::app {

enum class Text : int {
#define TEXT(name, english, hungarian) name,
#include "app/texts/TextList.def"
#undef TEXT
};

inline constexpr int kTextCount = 0
#define TEXT(name, english, hungarian) +1
#include "app/texts/TextList.def"
#undef TEXT
    ;

// The text's English form, or else its Hungarian one.
QString textIn(Text key, bool english);

} // namespace vx::app
