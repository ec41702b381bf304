#pragma once
// The key of a text in the catalogue (Texts.h), for headers that only pass keys on: they need not
// rebuild when a text is added.
namespace vx::app {
enum class Text : int;
}
