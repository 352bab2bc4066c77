// The sinks shapes export into: XML lines, and G-code or HPGL moves.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <fstream>
#include <limits>
#include <string>
#include <vector>

// XML output: the host opens the stream; shapes write lines into it.
struct MORVIK_API tagXmlBuff {
    std::ofstream file;
    // Writes the line in UTF-8, whatever the ANSI code page, so that any
    // caption reads back in an XML parser (UTF-8 is also what XML assumes of
    // a file that names no encoding). A declaration the host writes through
    // here is made to say so: it names UTF-8 as its encoding (added after the
    // version, or put in place of another), also when it comes in several
    // calls or after a byte-order mark: the lines that may still be the
    // start of one are held until it is whole or cannot be one. Nothing else
    // is added or changed. Returns 0.
    int WriteToFile(const wchar_t* line);
    // Writes what is still held (a declaration never finished).
    ~tagXmlBuff();

private:
    // Written so far while it may still be the start of a declaration.
    std::string m_head;
    bool m_pastHead = false;
};

// G-code (flag set) or HPGL (flag clear) output, to the stream or to a list.
// The host opens the stream, sets the two flags and may set the last
// position (the head's position in millimetres) before handing the sink to
// the shapes. Until it does, the position is unknown (NaN) and the first move
// is always written, whatever its point; a host that sets (0, 0, 0) gets no
// move to the origin first. The library never opens, flushes or closes the
// stream nor clears the list.
struct MORVIK_API GCodeContext {
    std::ofstream file;
    float fLastX = std::numeric_limits<float>::quiet_NaN();
    float fLastY = std::numeric_limits<float>::quiet_NaN();
    float fLastZ = std::numeric_limits<float>::quiet_NaN();
    unsigned char bGCode = 1;
    unsigned char bToList = 0;
    std::vector<std::wstring> lines;

    int WriteToFile(const wchar_t* line);
    int WriteLine(const wchar_t* line);
    // Rapid move (pen up) and cutting move (pen down). A move to the last
    // position writes nothing.
    int MoveTo(float x, float y, float z);
    int LineTo(float x, float y, float z);

private:
    bool SameAsLast(float x, float y, float z);
};

// Escapes &, <, > and " for XML attribute and text content. A character
// that XML cannot carry at all (a control character other than tab, line
// feed and carriage return, a lone surrogate, U+FFFE, U+FFFF, anything past
// U+10FFFF) becomes '?'.
std::wstring XmlEscape(const std::wstring& text);
