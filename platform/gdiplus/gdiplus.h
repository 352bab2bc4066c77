// The GDI+ stand-in in one include.
#pragma once

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/gdiplus/matrix.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/gdiplus/color.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/bitmap.h"
#include "morvik/gdiplus/font.h"
