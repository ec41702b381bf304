#include "app/texts/Texts.h"

#include <iterator>

namespace vx::app {
namespace {

// A form left empty would blank a control in that language; the list cannot be built with one.
#define TEXT(name, english, hungarian)                                                                       \
    static_assert(sizeof(english) > 1 && sizeof(hungarian) > 1, "both forms of " #name " must be given");
#include "app/texts/TextList.def"
#undef TEXT

struct Forms {
    const char* english;
    const char* hungarian;
};

constexpr Forms kForms[] = {
#define TEXT(name, english, hungarian) {english, hungarian},
#include "app/texts/TextList.def"
#undef TEXT
};
static_assert(std::size(kForms) == kTextCount);

} // namespace

QString textIn(Text key, bool english) {
    const auto i = static_cast<std::size_t>(key);
    // A value cast from outside the list has no text rather than someone else's.
    if (i >= std::size(kForms)) return {};
    return QString::fromUtf8(english ? kForms[i].english : kForms[i].hungarian);
}

} // namespace vx::app
