// The sinks shapes export into: XML lines, and G-code or HPGL moves.
#pragma once

#include <fstream>
#include <string>
#include <vector>

// XML output: the host opens the stream; shapes write lines into it.
struct tagXmlBuff {
    std::ofstream file;
    // Converts the line to the ANSI code page and writes its bytes as they
    // are; nothing is added. Returns 0.
    int WriteToFile(const wchar_t* line);
};

// G-code (flag set) or HPGL (flag clear) output, to the stream or to a list.
struct GCodeContext {
    std::ofstream file;
    float fLastX = 0.0f;
    float fLastY = 0.0f;
    float fLastZ = 0.0f;
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

// Escapes &, <, > and " for XML attribute and text content.
std::wstring XmlEscape(const std::wstring& text);
