// CDrawDxfEntity: turns the entity records of a DXF drawing into shapes and
// puts them into a target group: lines, sampled splines and solids become
// polylines, polylines become Bezier curves (bulged segments as arcs), arcs
// and circles become circles, ellipses elliptical arcs, points point shapes,
// texts and multi-line texts text shapes.
// Shapes on a named layer are gathered into one group per layer, each with
// its own pen; shapes without a layer go straight into the target.
//
// Drawings over DXF_LARGE_FILE_BYTES are built on worker threads: one per
// entity kind, and for a kind with more than kChunkThreshold records eight
// more that share its records. Every thread is joined inside InitPara.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "morvik/afx/cstring.h"
#include "morvik/halder/baseshape.h"
#include "morvik/import/dxf_reader.h"
#include "morvik/import/dxf_records.h"
#include "morvik/win32/windows.h"

class CBaseDoc;
class CBaseView;
class CCircle;
class CFonts;
class CGroupShape;

class MORVIK_API CDrawDxfEntity {
public:
    // Number of entity kinds, chunk threads per large kind, and slot maps.
    static constexpr int kKindCount = 10;
    static constexpr int kChunks = 8;
    static constexpr int kSlotCount = kKindCount * kChunks;
    // A kind with more records than this is split into kChunks pieces when
    // the drawing is built on threads.
    static constexpr int kChunkThreshold = 1000;

    // Slot bases of the kinds (kind index times kChunks).
    enum SlotBase {
        kSlotMText = 0,
        kSlotText = 8,
        kSlotLine = 16,
        kSlotPolyline = 24,
        kSlotArc = 32,
        kSlotCircle = 40,
        kSlotSpline = 48,
        kSlotEllipse = 56,
        kSlotPoint = 64,
        kSlotSolid = 72,
    };

    CDrawDxfEntity();
    // Waits for every worker thread that still runs, then frees whatever
    // shapes were never handed to a group.
    virtual ~CDrawDxfEntity();
    CDrawDxfEntity(const CDrawDxfEntity&) = delete;
    CDrawDxfEntity& operator=(const CDrawDxfEntity&) = delete;

    // The whole import: reads the file at path (inch: its coordinates are
    // inches and are converted to millimetres) and fills target, which the
    // caller owns. A file the reader refuses leaves the target empty but
    // captioned with the file name. Does nothing for a null path or target.
    void InitPara(char* path, CGroupShape* target, bool inch, bool limitMText);
    // Whether the last InitPara read its file: false when the reader refused
    // it, could not read it, or its blocks passed the placement limit.
    bool FileWasRead() const { return m_bRead; }
    // The reader's limit on records placed by blocks (see CParserDxfFile).
    void SetPlacementLimit(int64_t limit) { m_parser.SetPlacementLimit(limit); }
    // Reading and building in small or large mode whatever the file's size
    // (see CParserDxfFile::SetReadMode).
    void SetReadMode(CParserDxfFile::ReadMode mode) { m_parser.SetReadMode(mode); }

    // Per kind: copies the kind's records out of the reader and builds them.
    void ViewLine();
    void ViewArc();
    void ViewCircle();
    void ViewSpline();
    void ViewEllipse();
    void ViewPt();
    void ViewPolyLine();
    void ViewMText(bool limit);
    void ViewText();
    void ViewSolid();

    // Per kind: builds records first to last - 1 into shapes filed in slot.
    void ViewLineMiddle(std::vector<tagLine>& list, int first, int last, int slot);
    void ViewPolyLineMiddle(std::vector<tagPolyline>& list, int first, int last, int slot);
    void ViewArcMidle(std::vector<tagArc>& list, int first, int last, int slot);
    void ViewCircleMidle(std::vector<tagArc>& list, int first, int last, int slot);
    void ViewSplineMidle(std::vector<tagLine>& list, int first, int last, int slot);
    void ViewEllipseMidle(std::vector<tagEllipse>& list, int first, int last, int slot);
    void ViewPtMidle(std::vector<tagDxfPt>& list, int first, int last, int slot);
    void ViewSolidMidle(std::vector<tagSolid>& list, int first, int last, int slot);
    void ViewTextMidle(std::vector<tagText>& list, int first, int last, int slot);
    // limit: wrap each text to its reference width (LimitTextWidth).
    void ViewMTextMidle(std::vector<tagMText>& list, int first, int last, bool limit, int slot);

    // Hands the built shapes to layer groups (or to the target itself when
    // the drawing has a single layer) and captions the target.
    void GenerateGroupShapes();
    void RenumberInOrder(const std::vector<int>& first);

    // Sets arc from one polyline segment from -> to with the given bulge
    // (tangent of a quarter of the arc angle, negative for clockwise).
    void ExecuteLwPolyLine(tagPOINTF from, tagPOINTF to, double bulge, CCircle* arc);

    // Splits text at each occurrence of separator into parts 0, 1, ...; the
    // part after the last separator is included. clear empties parts first.
    void CStringsplit(CString text, CString separator, std::map<int, CString>& parts, bool clear);

    // Wraps a multi-line text at its blanks so that no line is wider than
    // width, measured in face at a size made from height; lines break with
    // CR LF. A width below 0.001 in magnitude leaves the text as it is.
    void LimitTextWidth(CString& text, double width, double height, CString face);

    // The records chunk k (0 to kChunks - 1) of a list of count records
    // covers: first to last - 1. The last chunk also takes the remainder.
    static void ChunkRange(int count, int k, int& first, int& last);

private:
    template <class Rec>
    using MiddleFn = void (CDrawDxfEntity::*)(std::vector<Rec>&, int, int, int);

    // Builds a copied list on the caller's thread (slot 0), on the kind
    // thread (its base slot), or split over chunk threads.
    template <class Rec>
    void BuildList(std::vector<Rec>& list, int base, MiddleFn<Rec> middle);
    template <class Rec>
    bool Prepare(std::vector<Rec>& list, int count, int base, MiddleFn<Rec> middle);

    bool ViewLinePrepare(std::vector<tagLine>& list, int count);
    bool ViewPolyLinePrepare(std::vector<tagPolyline>& list, int count);
    bool ViewArcPrepare(std::vector<tagArc>& list, int count);
    bool ViewCirclePrepare(std::vector<tagArc>& list, int count);
    bool ViewSplinePrepare(std::vector<tagLine>& list, int count);
    bool ViewEllipsePrepare(std::vector<tagEllipse>& list, int count);
    bool ViewPtPrepare(std::vector<tagDxfPt>& list, int count);
    bool ViewSolidPrepare(std::vector<tagSolid>& list, int count);
    bool ViewTextPrepare(std::vector<tagText>& list, int count);
    bool ViewMTextPrepare(std::vector<tagMText>& list, int count);
    // ViewMTextMidle with the limit of the running ViewMText.
    void ViewMTextChunk(std::vector<tagMText>& list, int first, int last, int slot);

    // Files one new shape: to the target (under the lock) when the record
    // names no layer, otherwise to that layer in the slot's map.
    void PushBackGroupShapes(tagBlock& record, CBaseShape* shape, int slot);
    // A polyline shape through points (converted to millimetres).
    CBaseShape* MakePolyLine(const std::vector<Gdiplus::PointF>& points);
    // The record's block placement: scale about its base point, then turn.
    void ApplyPlacement(const tagBlock& record, CBaseShape* shape) const;
    tagPOINTF ToMm(const Gdiplus::PointF& p) const;
    double ToMm(double v) const { return m_bInch ? v * 25.4 : v; }

    // What the texts of one face need to know, found once per import by
    // laying out probes: whether the single-line layout draws the face, the
    // height of a capital at the probe height, and how far each character
    // reaches below the baseline.
    struct TextFace {
        bool singleLine = false;
        double capHeight = 0.0;
        std::map<wchar_t, double> drop;
    };
    struct FaceInfo {
        bool singleLine = false;
        double capHeight = 0.0;
        double drop = 0.0;
    };
    // The face's entry (type 1: try the single-line layout first); with
    // c != 0 also that character's drop (0 without).
    FaceInfo FaceMetrics(const CString& face, int type, wchar_t c);
    // A new text shape with the builder's document and view, laid out at pt
    // in face: single-line at height h, or TrueType at the probe height.
    std::unique_ptr<CFonts> NewText(const CString& text, const CString& face, bool singleLine, double h,
                                    double widthFactor, tagPOINTF pt, int align, bool vertical) const;
    // The text shape of a TEXT or MTEXT record; null when it gives none.
    CFonts* MakeText(const tagText& rec);
    CFonts* MakeMText(const tagMText& rec, bool limit);

    static DWORD KindThreadProc(void* param);
    // Joins count thread handles, closes them and clears the pointers.
    static void JoinThreads(HANDLE* threads, int count);

    CGroupShape* m_pTarget = nullptr;
    std::map<std::wstring, std::vector<CBaseShape*>> m_slots[kSlotCount];
    // Per slot, the layers and lists of the last shapes filed (entries of
    // m_slots, which keeps them in place).
    struct RecentLayer {
        const std::wstring* name = nullptr;
        std::vector<CBaseShape*>* list = nullptr;
    };
    struct RecentLayers {
        RecentLayer entries[4];
        size_t next = 0;
    };
    RecentLayers m_recent[kSlotCount];
    // Per slot, the shapes whose records name no layer.
    std::vector<CBaseShape*> m_looseShapes[kSlotCount];
    CParserDxfFile m_parser;
    CBaseDoc* m_pDoc = nullptr;
    CBaseView* m_pView = nullptr;
    bool m_bInch = false;
    bool m_bRead = false;
    HANDLE m_kindThreads[kKindCount] = {};
    HANDLE m_otherThread = nullptr;
    bool m_bFinished = false;
    bool m_bThreaded = false;
    HANDLE m_chunkThreads[kSlotCount] = {};
    bool m_bLimitMText = false;
    std::mutex m_faceLock;
    std::map<std::pair<std::wstring, int>, TextFace> m_faces;
};
