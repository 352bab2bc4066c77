// The GDI+ stand-in in one include.
#pragma once

#include "gdiplus/gdiplus_types.h"
#include "gdiplus/matrix.h"
#include "gdiplus/graphicspath.h"
#include "gdiplus/color.h"
#include "gdiplus/pen.h"
#include "gdiplus/graphics.h"
#include "gdiplus/bitmap.h"
#include "gdiplus/font.h"
