// Placeholder of the bending of single-line text onto an arc: until the
// arc layout is built, an attached single-line text stays on its straight
// lines.
#include "text/fonts.h"

void CFonts::SingleFt2PathFont(int) {}
