// The file image of a DXF drawing and the functions that read it as group
// code / value line pairs.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstddef>
#include <string>

#include "morvik/afx/cstring.h"

// A whole file in memory with a read cursor. The buffer holds one byte more
// than the file, a terminating 0. Section threads each work on their own copy
// of this record (same buffer, own cursor).
struct MORVIK_API MYFILE {
    const char* pBuffer = nullptr;
    int nSize = 0;
    int nPos = 0;
};

// The longest line the buffered line reader copies at once.
constexpr int DXF_MAX_LINE = 2050;

// Copies bytes from the cursor into buffer, advancing the cursor, until the
// end of the image, max - 1 bytes, or a newline (which is copied); the copy is
// always terminated. Returns the number of bytes copied.
int ReadDxfLine(char* buffer, int max, MYFILE* file);

// The group readers below read a whole line, however long, so that a long
// value never spills into the next pair.

// Reads one line and converts it like atoi (C locale, leading blanks
// skipped, trailing text ignored, out-of-range values clamped). False when
// no byte was left.
bool ReadGroupCode(MYFILE* file, int& code);
// Reads one line without its newline and carriage return, converted from
// UTF-8 or from the ANSI code page. Always true.
bool ReadGroupValue(MYFILE* file, CString& value, bool utf8);
// Reads one line and converts it like atof in the C locale; text that is not
// a finite number reads as 0. Always true.
bool ReadGroupDouble(MYFILE* file, double& value);
void ReadGroupInt(MYFILE* file, int& value);
// Passes over one value line.
void SkipGroupValue(MYFILE* file);
// A code line and its value line; false when the code line could not be read.
bool ReadGroupPair(MYFILE* file, int& code, CString& value, bool utf8);

// Number conversions used on values already read: like atoi and atof in the
// C locale; text that is not a finite number gives 0.
int DxfToInt(const CString& text);
double DxfToDouble(const CString& text);
// Coordinates are stored as floats: absurd values are held to a range that
// stays finite through a block's offsets and a placement's scaling; NaN is 0.
float DxfCoord(double v);
