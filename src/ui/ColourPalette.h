#pragma once

#include <QPalette>

// The windows' colours for a dark colour scheme, and switching the program between it and
// the style's own light colours.
namespace ColourPalette {

QPalette dark();
// Dark: the Fusion style with the dark palette; light: the style's own palette again.
void apply(bool dark);

} // namespace ColourPalette
