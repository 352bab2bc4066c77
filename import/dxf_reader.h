// The DXF reader: loads an ASCII DXF drawing (ANSI or UTF-8 text) into typed
// lists of entity records for the DXF entity builder. Files over 20,000,000
// bytes are read by worker threads: one records where the blocks begin, one
// finds the entities, which are then read in pieces on several threads and
// joined in file order, giving the records one thread would.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/import/dxf_entities.h"
#include "morvik/import/dxf_records.h"
#include "morvik/win32/windows.h"

// Files larger than this are read in large mode.
constexpr int64_t DXF_LARGE_FILE_BYTES = 20000000;

class MORVIK_API CParserDxfFile {
public:
    CParserDxfFile();
    ~CParserDxfFile();
    CParserDxfFile(const CParserDxfFile&) = delete;
    CParserDxfFile& operator=(const CParserDxfFile&) = delete;

    // Reads the file and appends its records to the lists. 1 when the file
    // was read (also when it holds no section), 0 when it was refused (with a
    // message box for a missing, tiny or UTF-16 file) or could not be read.
    int ParserDxf(const char* path);
    // The older entry: the encoding check, then whether the file opens.
    int OpenDxfFile(const char* path, FILE* file);

    int getFileSize() const { return m_nFileSize; }

    // Small or large mode by the file's size, or one of them whatever the
    // size (for measurements and tests: both give the same records).
    enum class ReadMode { BySize, Small, Large };
    void SetReadMode(ReadMode mode) { m_eReadMode = mode; }
    // Whether the last file read was (or the next one of this size would
    // be) read in large mode.
    bool IsLargeMode() const {
        return m_eReadMode == ReadMode::BySize ? m_nFileSize > DXF_LARGE_FILE_BYTES : m_eReadMode == ReadMode::Large;
    }
    CString GetFileName() const { return CString(m_strFileName); }

    // Each replaces the caller's vector by a copy of one list.
    void GetVecLine(std::vector<tagLine>& out) const { out = m_vecLine; }
    void GetVecArc(std::vector<tagArc>& out) const { out = m_vecArc; }
    void GetVecCircle(std::vector<tagArc>& out) const { out = m_vecCircle; }
    void GetVecSpline(std::vector<tagSpline>& out) const { out = m_vecSpline; }
    void GetVecSpline2(std::vector<tagLine>& out) const { out = m_vecSpline2; }
    void GetVecEllipse(std::vector<tagEllipse>& out) const { out = m_vecEllipse; }
    void GetVecPoint(std::vector<tagDxfPt>& out) const { out = m_vecPoint; }
    void GetVecLayer(std::vector<tagLayer>& out) const { out = m_vecLayer; }
    void GetVecMText(std::vector<tagMText>& out) const { out = m_vecMText; }
    void GetVecText(std::vector<tagText>& out) const { out = m_vecText; }
    void GetVecSolid(std::vector<tagSolid>& out) const { out = m_vecSolid; }
    void GetVecDim(std::vector<tagDimention>& out) const { out = m_vecDim; }
    void GetVecPolyline(std::vector<tagPolyline>& out) const { out = m_vecPolyline; }
    // Each moves one list into the caller's vector, leaving the list empty:
    // the entity builder's way, which needs the records once and not a copy
    // of every one of them. Different lists may be taken on different
    // threads at once.
    void TakeVecLine(std::vector<tagLine>& out) { out = std::exchange(m_vecLine, {}); }
    void TakeVecArc(std::vector<tagArc>& out) { out = std::exchange(m_vecArc, {}); }
    void TakeVecCircle(std::vector<tagArc>& out) { out = std::exchange(m_vecCircle, {}); }
    void TakeVecSpline2(std::vector<tagLine>& out) { out = std::exchange(m_vecSpline2, {}); }
    void TakeVecEllipse(std::vector<tagEllipse>& out) { out = std::exchange(m_vecEllipse, {}); }
    void TakeVecPoint(std::vector<tagDxfPt>& out) { out = std::exchange(m_vecPoint, {}); }
    void TakeVecMText(std::vector<tagMText>& out) { out = std::exchange(m_vecMText, {}); }
    void TakeVecText(std::vector<tagText>& out) { out = std::exchange(m_vecText, {}); }
    void TakeVecSolid(std::vector<tagSolid>& out) { out = std::exchange(m_vecSolid, {}); }
    void TakeVecPolyline(std::vector<tagPolyline>& out) { out = std::exchange(m_vecPolyline, {}); }

    // The table of DXF versions: code -> {supported, release name}.
    void initVersionMap();
    CString GetCADVersionName(const std::string& code) const;
    bool isSupportVersion(const std::string& code) const;
    CString GetSupportVersion() const;

    // Sections.
    void ParserSection(MYFILE* file);
    void ParserHeader(MYFILE* file);
    void ParserClasses(MYFILE* file);
    void ParserTables(MYFILE* file);
    void ParserTable(MYFILE* file);
    void RecordBlockPos(MYFILE* file);
    void ParserEntities(MYFILE* file);
    void ParserObjects(MYFILE* file);
    // Reserves room in the line, arc and polyline lists for as many records
    // as `bytes` of text can hold at most (held at 32 MB a list).
    void ReserveRecordsFor(size_t bytes);
    // Reads one LAYER table record into the layer list (not part of an import).
    void ParserLayer(MYFILE* file);

    // Entities: name is the entity name just read; the reader stops right
    // after the code 0 that ends the entity.
    void ParserEntity(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& name, CString& blockName,
                      const Gdiplus::PointF* base);
    void ParserArc(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName, Gdiplus::PointF& base);
    void ParserCircle(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                      Gdiplus::PointF& base);
    void ParserDimension(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                         Gdiplus::PointF& base);
    void ParserEllipse(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                       Gdiplus::PointF& base);
    void ParserInsert(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                      Gdiplus::PointF& base);
    void ParserLeader(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                      Gdiplus::PointF& base);
    void ParserLine(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName, Gdiplus::PointF& base);
    void ParserLWPolyline(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                          Gdiplus::PointF& base);
    void ParserMText(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                     Gdiplus::PointF& base);
    void ParserPoint(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                     Gdiplus::PointF& base);
    void ParserPolyline(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                        Gdiplus::PointF& base);
    // mirrored: the POLYLINE is drawn from below (extrusion towards -z), so
    // its vertices' x runs the other way in drawing coordinates.
    void ParserVertex(MYFILE* file, bool modelSpace, tagZoomRotate placement, bool closed, CString& layer,
                      CString& blockName, Gdiplus::PointF& base, bool mirrored = false);
    // The vertices and face records of a polyface mesh (POLYLINE flag 64)
    // up to SEQEND; the mesh becomes the edges of its faces.
    void ParserPolyface(MYFILE* file, tagZoomRotate placement, CString& layer, CString& blockName,
                        Gdiplus::PointF& base);
    // The faces' visible edges as polylines, each edge once: a face whose
    // edges are all new is one closed outline, otherwise each run of new
    // edges is an open one.
    void AppendFaceEdges(const std::vector<Gdiplus::PointF>& vertices,
                         const std::vector<std::array<int, 4>>& faces, const tagZoomRotate& placement,
                         const CString& layer, const CString& blockName);
    void ParserSolid(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                     Gdiplus::PointF& base);
    void ParserSpline(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName,
                      Gdiplus::PointF& base);
    void ParserText(MYFILE* file, bool modelSpace, tagZoomRotate placement, CString& blockName, Gdiplus::PointF& base);
    void ParserBlock(MYFILE* file, bool modelSpace, tagZoomRotate placement, Gdiplus::PointF& base);

    // Splines and formatted text.
    static int WhichInterval(double t, const double* knots, int knotCount, int start);
    static tagPolyPoint DeBoor(int level, int degree, int interval, double t, const double* knots,
                               const tagPolyPoint* controls);
    void ParserNURBSToLine(tagZoomRotate placement, int degree, int controlCount, int knotCount,
                           const tagPolyPoint* controls, const double* knots, CString layer, bool closed,
                           CString blockName);
    // A spline given by fit points alone: the cubic through them with
    // chord-length parameters (closed: periodic), with the end tangents
    // when given (null otherwise), sampled into a polyline record.
    void ParserFitPointsToLine(tagZoomRotate placement, const std::vector<Gdiplus::PointF>& fit,
                               const Gdiplus::PointF* startTangent, const Gdiplus::PointF* endTangent,
                               CString layer, bool closed, CString blockName);
    static void GetFontName(const CString& formatted, CString& face);
    static bool ParserFormatedMtext(CString& text, tagMText& record);

    // Blocks are read once and their records placed for every INSERT. The
    // records (and their points) that placements may produce in one file are
    // limited, so that blocks nested inside one another many times cannot
    // exhaust memory: a file that reaches the limit fails to read (the
    // records placed so far stay) and the failure is logged.
    static constexpr int64_t kDefaultPlacementLimit = 20000000;
    void SetPlacementLimit(int64_t limit) { m_nPlacementLimit = limit; }
    bool PlacementLimitReached() const { return m_bPlacementLimitReached; }

    // Knuth-Morris-Pratt search, used to find the sections of a large file.
    static void BuildKmpNext(const char* word, int length, std::vector<int>& next);
    static int64_t KmpFind(const char* text, int64_t textLength, const char* word, int wordLength,
                           const std::vector<int>& next);

private:
    static DWORD LocateBlocksProc(void* param);
    static DWORD LocateEntitiesProc(void* param);
    struct ThreadArg;
    // Whether this entity passes the space mask.
    bool Keeps(bool modelSpace, bool visible) const;
    // Finds the section name word on a line of its own after a code-2 line,
    // and moves the cursor past that line; false when there is none.
    static bool LocateSection(MYFILE* file, const char* word) { return LocateWord(file, word, 2); }
    // The first line that holds word alone after a line holding group code
    // code; the file is left after it.
    static bool LocateWord(MYFILE* file, const char* word, int code);
    void ReadLarge(const MYFILE& image);

    std::vector<tagLine> m_vecLine;
    std::vector<tagArc> m_vecArc;
    std::vector<tagArc> m_vecCircle;
    std::vector<tagSpline> m_vecSpline;
    std::vector<tagEllipse> m_vecEllipse;
    std::vector<tagDxfPt> m_vecPoint;
    std::vector<tagMText> m_vecMText;
    std::vector<tagText> m_vecText;
    std::vector<tagSolid> m_vecSolid;
    std::vector<tagDimention> m_vecDim;
    std::vector<tagLayer> m_vecLayer;
    std::vector<tagLine> m_vecSpline2;
    std::vector<tagPolyline> m_vecPolyline;

    std::map<std::string, std::pair<bool, std::wstring>> m_mapVersion;
    std::map<std::wstring, int64_t> m_mapBlockPos;

    std::wstring m_strFileName;
    std::wstring m_strReserved1, m_strReserved2, m_strReserved3;
    bool m_bUtf8 = false;
    int m_nEncoding = 0;
    int m_nSpaceMask = 3;
    int m_nFileSize = 0;
    HANDLE m_pBlocksThread = nullptr;
    HANDLE m_pEntitiesThread = nullptr;

    // ---- blocks ----
    // A placement as an affine map: drawing point = (tx, ty) + R(rot) S(sx, sy)
    // R(pre) q, angles in degrees.
    struct Placement {
        double rot = 0.0, sx = 1.0, sy = 1.0, sz = 1.0, pre = 0.0, tx = 0.0, ty = 0.0;
        // this after inner: first inner, then this.
        Placement After(const Placement& inner) const;
    };
    // An INSERT inside a block: the placement of the inner block's records
    // (relative to its base point) in the outer block's coordinates
    // (relative to the outer base point).
    struct NestedInsert {
        std::wstring name;
        Placement place;
    };
    enum class RecordKind : uint8_t { Line, Arc, Ellipse, Point, MText, Text, Solid, Dim, Polyline, Insert };
    // A block read once: its records relative to its base point, in file order.
    struct BlockDef {
        std::vector<tagLine> lines;
        std::vector<tagArc> arcs;
        std::vector<tagEllipse> ellipses;
        std::vector<tagDxfPt> points;
        std::vector<tagMText> mtexts;
        std::vector<tagText> texts;
        std::vector<tagSolid> solids;
        std::vector<tagDimention> dims;
        std::vector<tagPolyline> polylines;
        std::vector<NestedInsert> inserts;
        std::vector<std::pair<RecordKind, uint32_t>> order;
    };
    // The block of that name, read on first use; null when no such block
    // was recorded.
    const BlockDef* FindBlock(const std::wstring& name, const MYFILE* image);
    // Swaps the record lists with the block's (used to read a block into
    // its own lists).
    void SwapLists(BlockDef& def);
    // Appends the block's records, and those of the blocks it places,
    // placed in the drawing.
    void PlaceBlock(const std::wstring& name, const Placement& place, const MYFILE* image);

    // Blocks read so far, by name.
    std::map<std::wstring, BlockDef> m_mapBlockDef;
    // The blocks being placed, innermost last: guards against blocks that
    // place themselves and against absurd nesting.
    std::vector<std::wstring> m_vecOpenBlocks;
    // Set while a block is read: INSERTs are noted in it, not placed.
    BlockDef* m_pReadingBlock = nullptr;
    ReadMode m_eReadMode = ReadMode::BySize;
    int64_t m_nPlacementLimit = kDefaultPlacementLimit;
    // Records placed, counted across the pieces of a large file (the count
    // lives in the reader that started them), and placed by this reader.
    std::atomic<int64_t> m_placed{0};
    std::atomic<int64_t>* m_pPlaced = &m_placed;
    int64_t m_nPlacedHere = 0;
    bool m_bPlacementLimitReached = false;
    // Takes count more placed records from the limit; false when they do not
    // fit (nothing taken).
    bool ReservePlacement(int64_t count);

    // ---- the entities of a large file, read in pieces on several threads ----
    // Reads entities from start until the cursor reaches an entity at or past
    // stop (-1: no stop); first: start is the section's first group code.
    // The result is where it stopped; ended: the section (or file) ended.
    int ReadEntityRun(const MYFILE& image, int start, int stop, bool first, bool& ended);
    // Reads the ENTITIES section from the cursor (just after its name) in
    // pieces that start at likely entity starts, each on a thread of its own
    // reader; a piece is kept only when the piece before it ends exactly
    // where it starts, otherwise that stretch is read again here, so the
    // records are those one thread reading in order would give.
    void ParserEntitiesInPieces(MYFILE* file);
    // Moves another reader's records to the end of this one's lists.
    void AppendRecords(CParserDxfFile& other);
    // Calls fn(mine, theirs) for each of the 13 record lists of this reader
    // and another.
    template <class Fn>
    void ForEachList(CParserDxfFile& other, Fn fn) {
        fn(m_vecLine, other.m_vecLine);
        fn(m_vecArc, other.m_vecArc);
        fn(m_vecCircle, other.m_vecCircle);
        fn(m_vecSpline, other.m_vecSpline);
        fn(m_vecEllipse, other.m_vecEllipse);
        fn(m_vecPoint, other.m_vecPoint);
        fn(m_vecMText, other.m_vecMText);
        fn(m_vecText, other.m_vecText);
        fn(m_vecSolid, other.m_vecSolid);
        fn(m_vecDim, other.m_vecDim);
        fn(m_vecLayer, other.m_vecLayer);
        fn(m_vecSpline2, other.m_vecSpline2);
        fn(m_vecPolyline, other.m_vecPolyline);
    }
    // The blocks of the reader that started this piece (read-only), or null.
    const std::map<std::wstring, BlockDef>* m_pSharedBlocks = nullptr;
    // A worker thread ran out of memory: the read failed.
    std::atomic<bool> m_bReadFailed{false};
};
