// CParsePlt: reads a PLT (HPGL) plot file into pen-tagged polylines and hands
// them to a group, which then holds them as its lines instead of child shapes.
// Only pen up (PU), pen down (PD), plot absolute (PA) and select pen (SP) are
// understood; plotter units are 40 per millimetre.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/import/plt_records.h"

class CGroupShape;

// The polyline that the reader is collecting.
struct MORVIK_API PreviewParam {
    uint8_t nPen = 0;
    std::vector<tagPOINTF> arrPoint;
};

class MORVIK_API CParsePlt {
public:
    // Millimetres per plotter unit.
    static constexpr double kUnitMM = 0.025;

    // The process-wide reader, created on the first call. It is used from
    // one thread at a time.
    static CParsePlt* GetInstance();
    // Deletes the reader, if any.
    static void Clear();
    static void DestroyInstance();

    // Reads the file into the group's lines and sets its line mode. True when
    // the group then holds at least one line; false when the file cannot be
    // opened, draws nothing, or holds no command that is plotter text (two
    // capitals and numbers, one of IN, PU, PD, PA or SP): such a file is no
    // plot, whatever pen commands its bytes happen to spell.
    bool ParserPltFile(const CString& path, CGroupShape* group);

    // The lines of a plot held in memory; the same reading as a file gets.
    static std::vector<tagPLTLINE> ParsePltText(const char* data, size_t size);

    const CString& GetLastPath() const { return m_strPath; }

private:
    CParsePlt() = default;
    ~CParsePlt() = default;
    CParsePlt(const CParsePlt&) = delete;
    CParsePlt& operator=(const CParsePlt&) = delete;

    // The index of the first decimal digit or '-', or -1 when there is none
    // or the text is null.
    static int DigitalPos(const char* text);
    static int DigitalPos(wchar_t* text);

    // The path of the last file read.
    CString m_strPath;
    static CParsePlt* m_pInstance;
};
