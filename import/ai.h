// CParserAIFile: reads the path operators of a PostScript-based Adobe
// Illustrator file into a list of cubic segments. The import entry turns the
// segments into shapes.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "morvik/halder/halder_types.h"

// One path segment of an Illustrator file.
struct MORVIK_API tagAIPT {
    tagPOINTF p0;  // start point
    tagPOINTF p1;  // first control point
    tagPOINTF p2;  // second control point
    tagPOINTF p3;  // end point
    // 1 on the first segment after a moveto: the segment opens a new path.
    uint8_t bStart = 0;
    // Always 'c': a straight segment is stored as a cubic whose control
    // points equal its end point.
    char cType = 'c';
};

class MORVIK_API CParserAIFile {
public:
    CParserAIFile();
    ~CParserAIFile();
    CParserAIFile(const CParserAIFile&) = default;
    CParserAIFile& operator=(const CParserAIFile&) = default;

    // Reads the file and appends its segments to the segment list. Only the
    // part after "%%EndSetup" is read; a file that cannot be opened adds
    // nothing.
    void ParseAI(char* path);
    // A second reading of the same operators without the header state: every
    // line that does not hold "%%" counts, and "m" is also recognised as the
    // last token of a longer line.
    void ParseAI2(char* path);
    // Copies the segment list, in file order.
    void GetAiPoint(std::vector<tagAIPT>& out);

private:
    // Reads one line of at most size - 1 bytes into buffer, ended after a
    // carriage return or line feed; false when the stream held no more bytes.
    bool ReadLine(std::ifstream& in, char* buffer, int32_t size);
    // The point of a token list: x from the first token, y from the second.
    tagPOINTF FtcProcess(std::vector<std::string>& tokens);
    // Turns the tokens of one path line into segments.
    void ParseTokens(std::vector<std::string>& tokens, bool lastTokenMoves);

    std::vector<tagAIPT> m_arrAiPoint;
    // Position and pending new-path flag while a file is read.
    tagPOINTF m_ptCurrent;
    bool m_bNewPath = false;
};
