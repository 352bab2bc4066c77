// The SHX font reader: one shape file, big font or Unicode font read into
// memory, and the shape of one character code turned into straight segments
// and circular arcs in the font's own units (half font units: every
// displacement of the file is doubled so that its half-step directions stay
// integral). The reader draws nothing and knows nothing of texts.
//
// Fonts come from users: every read stays inside the file and inside the
// shape being read, sub-shapes are followed to a bounded depth and a shape
// may only run a bounded number of commands.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "morvik/afx/cstring.h"

// A geometric record of a shape; the owner of a list deletes them.
class MORVIK_API dxfObject {
public:
    dxfObject() = default;
    explicit dxfObject(int32_t kind) : nKind(kind) {}
    virtual ~dxfObject() = default;
    // 1 line, 2 arc.
    int32_t nKind = 0;
};

class MORVIK_API dxfLine : public dxfObject {
public:
    dxfLine() : dxfObject(1) {}
    double x1 = 0, y1 = 0, z1 = 0;
    double x2 = 0, y2 = 0, z2 = 0;
};

// A circular arc, angles in degrees counter-clockwise from +x (y up). Equal
// start and end angles mean a full circle.
class MORVIK_API dxfArc : public dxfObject {
public:
    dxfArc() : dxfObject(2) {}
    double cx = 0, cy = 0, cz = 0;
    double radius = 0;
    double startAngle = 0, endAngle = 0;
    // 1 clockwise, 0 counter-clockwise.
    int32_t direction = 0;
};

class MORVIK_API CShxShapeReader {
public:
    // File kinds.
    static constexpr int kShapeFile = 1;
    static constexpr int kBigFont = 2;
    static constexpr int kUnicodeFont = 3;

    CShxShapeReader() = default;
    virtual ~CShxShapeReader() = default;
    CShxShapeReader(const CShxShapeReader&) = delete;
    CShxShapeReader& operator=(const CShxShapeReader&) = delete;

    // Reads a font file. 0 and loaded on success; -1 and not loaded when the
    // file cannot be opened (after a message box naming it), has no header
    // terminator or is of no known kind.
    int in(const wchar_t* path);
    // The records of one character's shape in out (emptied first, its
    // records deleted). code is the character code; a non-zero index picks
    // the index entry at that position instead. 0, or -1 when nothing is
    // loaded (after a message box), the code is 0, no shape is found or the
    // shape is broken (out is then empty).
    int readCharShape(std::vector<dxfObject*>& out, int code, int index);
    // Centre and radius of the arc from (x1, y1) to (x2, y2) whose height is
    // |bulge| / 127 of half the chord (counter-clockwise for a positive
    // bulge); false when the points coincide or the bulge is 0.
    static bool calcCircleCenter(double x1, double y1, double x2, double y2, signed char bulge, double& cx,
                                 double& cy, double& r);

    bool IsLoaded() const { return m_bLoaded != 0; }
    int GetKind() const { return m_nKind; }
    const CString& GetPath() const { return m_strPath; }
    int GetShapeCount() const { return m_nShapes; }

    // Deletes the records of a list and empties it.
    static void FreeObjects(std::vector<dxfObject*>& list);

    // The folder SHX fonts are read from, ending in '/': "font/" under the
    // working directory unless the host set another. Safe from any thread.
    static std::wstring GetFontFolder();
    static void SetFontFolder(const std::wstring& folder);

    struct Entry {
        int32_t code = 0;
        int32_t offset = 0;
        int32_t length = 0;
    };
    // A loaded file: its image with 256 spare bytes behind the file's end
    // (the header lower-cased, its terminator zeroed) and its index (code,
    // offset, length per shape, in file order). Readers that load the same
    // bytes share one.
    struct FontData {
        std::vector<uint8_t> image;
        size_t fileSize = 0;
        std::vector<Entry> index;
        int kind = 0;
    };

protected:
    int readAShape(std::vector<dxfObject*>& out, int code, int index);

private:
    struct Point {
        double x = 0, y = 0;
    };
    // The index of a loaded image whose header ends at t; false when the
    // file ends inside the fixed fields.
    static bool BuildIndex(FontData& font, size_t t);
    // Runs the drawing codes of index entry k; false when the shape is
    // broken (truncated operands, too deep, too long).
    bool Interpret(std::vector<dxfObject*>& out, int k, int depth);
    int FindEntry(int code) const;
    void AddLine(std::vector<dxfObject*>& out, Point from, Point to);
    void AddArc(std::vector<dxfObject*>& out, Point c, double r, double a0, double a1, bool clockwise);
    void Clear();

    CString m_strPath;
    std::shared_ptr<const FontData> m_font;
    int32_t m_nShapes = 0;
    int m_bLoaded = 0;
    int m_nKind = 0;

    // Interpreter state.
    int m_bPenDown = 1;
    Point m_pos;
    double m_dScale = 1.0;
    Point m_stack[10];
    int m_nDepth = 0;
    // Commands left for the character being read.
    long m_nBudget = 0;
};
