// CParseGerber: the Gerber photoplotter reader. It reads RS-274X files (with
// "%" parameter blocks) and RS-274D files (whose apertures come from a
// separate file) into the caller's group: every flash, stroke and region of
// the image becomes a shape, and at the end all areas are merged by polygon
// clipping into closed polylines, clear (LPC) objects cut out of the dark
// ones drawn before them.
//
// One reader reads one file. Parameter blocks are analysed while the file is
// read (so a block affects only what follows it); data blocks are collected
// per layer and interpreted afterwards.
//
// Diagnostics are plain lines on standard output; the two questions a user
// must answer (a file that cannot be opened, an RS-274D file without its
// aperture list) go through the host's message box and file dialog.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <polyclipping/clipper.hpp>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/halder/baseshape.h"

class CGroupShape;

// Deletes a shape and, for groups and compound shapes, their members.
struct MORVIK_API GerberShapeDeleter {
    void operator()(CBaseShape* shape) const;
};
using GerberShapePtr = std::unique_ptr<CBaseShape, GerberShapeDeleter>;

// The template of one aperture: what a flash places and what shapes the ends
// of a stroke. Both shapes are centred on the origin.
struct MORVIK_API GerberApertureShape {
    int kind = 1000;  // the aperture kind; 1000 when unset
    GerberShapePtr outline;
    // The outline, or a compound shape of the outline and its hole.
    GerberShapePtr flash;
    Gdiplus::RectF rect;  // the outline's rectangle
};

class MORVIK_API CParseGerber {
public:
    enum GerberLayerPolarity { LAYER_CLEAR = 0, LAYER_DARK = 1 };
    enum ApertureKind { AP_RECTANGLE = 0, AP_CIRCLE = 1, AP_OBROUND = 2, AP_POLYGON = 3, AP_MACRO = 4 };
    static constexpr int kNoAperture = 1000;

    struct GerberFormat {
        int nZeroSuppression = 0;  // 0 leading zeros omitted ("L"), 1 trailing ("T")
        int nNotation = 0;         // 0 absolute ("A"), 1 incremental ("I")
        int nXInteger = 0;
        int nXDecimal = 4;
        int nYInteger = 0;
        int nYDecimal = 4;
        int nNDigits = 0;
        int nGDigits = 0;
        int nDDigits = 0;
        int nMDigits = 0;
    };

    // One aperture definition as parsed; sizes as written (not converted).
    struct GerberAperture {
        int nDCode = 0;
        int nKind = 0;
        double circleDiameter = 0, circleHoleWidth = 0, circleHoleHeight = 0;
        double rectWidth = 0, rectHeight = 0, rectHoleWidth = 0, rectHoleHeight = 0;
        double obroundWidth = 0, obroundHeight = 0, obroundHoleWidth = 0, obroundHoleHeight = 0;
        double polygonDiameter = 0;
        int polygonVertices = 0;
        double polygonRotation = 0, polygonHoleWidth = 0, polygonHoleHeight = 0;
    };

    // One data block. Coordinate texts are kept as written (digits and
    // sign); an absent field is -1 or empty.
    struct Rs274dCodePara {
        int nGCode = -1;
        std::string strBlock;
        int nDCode = -1;
        int nMCode = -1;
        std::string strX, strY, strI, strJ;
        // The polarity (LP) in force when the block was read: 1 dark, 0 clear.
        int nPolarity = LAYER_DARK;
        // The step-and-repeat block it belongs to (an index into the
        // reader's list of them), -1 when none.
        int nStepRepeat = -1;
    };

    struct GerberLayer {
        std::string strName;
        int nPolarity = LAYER_DARK;
        std::vector<Rs274dCodePara> vContent;
    };

    struct GerberStepRepeat {
        bool bOn = false;
        int nX = 1;
        int nY = 1;
        double dI = 0;
        double dJ = 0;
    };

    CParseGerber();
    virtual ~CParseGerber();
    CParseGerber(const CParseGerber&) = delete;
    CParseGerber& operator=(const CParseGerber&) = delete;

    // Reads the file at the (UTF-8) path into the group and returns true;
    // false when the file cannot be read or an argument is null. lineCount
    // receives the number of non-empty lines. Shapes already in the group
    // stay as they are, in front of the new ones. A file whose step and
    // repeat was refused (too many copies) gives false too, with what was
    // read in the group and the reason in the run log.
    bool ParseFile(const char* path, CGroupShape* group, int& lineCount);
    // Whether the last file's step and repeat was refused.
    bool RepeatRefused() const { return m_bRepeatRefused; }

    // ---- text utilities ------------------------------------------------------
    static bool IsGerberPara(const std::string& line);
    static void TrimSpaces(std::string& text);
    // Splits at any of the delimiter characters; empty pieces are dropped.
    static std::vector<std::string> SplitByDelimiters(const std::string& text, const std::string& delimiters);

    // ---- parameter blocks (characters 0 and 1 are the two-letter code) ---------
    // Dispatches one block; false while an aperture macro is being collected.
    // After "LP", polarity receives the current layer's polarity.
    bool DataBlockAnalyst(const std::string& block, int& polarity);
    void GerberFormatStamentAnalyst(const std::string& block);
    void GerberAxisSelectAnalyst(const std::string& block);
    void GerberMirrorImageAnalyst(const std::string& block);
    void GerberModeAnalyst(const std::string& block);
    void GerberImageNameAnalyst(const std::string& block);
    void GerberIpParameterAnalyst(const std::string& block);
    void GerberLayerNameAnalyst(const std::string& block);
    void GerberLayerPolarityAnalyst(const std::string& block);
    void GerberStepAndRepeatAnalyst(const std::string& block);
    // Adds the shape of one macro primitive ("code,exposure,...", numbers or
    // expressions of numbers) to the macro store under name, turned by its
    // rotation and marked clear (SetSubPolyType 1) when its exposure is off.
    void GerberAMAnalyst(const std::string& name, const std::string& primitive);
    void GerberAperturesAnalyst(const std::string& block);
    // Appends the layer "New Layer" when there is none.
    void GerberLayeCheck();
    GerberLayer GetCurLayer();

    // ---- data blocks ---------------------------------------------------------
    // Parses one "*"-terminated data block and stores it in the current layer
    // with the given polarity.
    void DateBlockRs274dAnalyst(const std::string& line, int polarity);
    // The closed outline of a straight stroke of the given width from start
    // to end, extended by width/2 at both ends when extend is set. Both angle
    // outputs receive the stroke direction + 90 degrees. False (nothing
    // appended) when the stroke is shorter than 0.0001.
    static bool CalcRectangle(tagPOINTF start, tagPOINTF end, bool extend, double& angleA, double& angleB,
                              double width, double flatness, std::vector<tagPOINTF>& points);

    // ---- state, in file order ------------------------------------------------
    GerberFormat m_format;
    int m_nAxisSelect = 0;  // 0: A is x, 1: A is y
    int m_nUnit = 0;        // 1 inch, 0 millimetre
    int m_nMirrorA = 0;     // 0 off, 1 on, 2 not given
    int m_nMirrorB = 0;
    std::string m_strImageName;
    int m_nReserved1 = 0;
    int m_nReserved2 = 0;
    int m_nImagePolarity = 0;  // 0 positive, 1 negative
    std::vector<GerberAperture> m_vApertures;
    std::vector<GerberLayer> m_vLayers;
    GerberStepRepeat m_stepRepeat;
    std::map<std::string, std::vector<GerberShapePtr>> m_mapMacros;
    // The statements of each macro as written ("$3=$1x2", "21,1,$2,..."),
    // evaluated for every aperture that uses it, with the inch flag in force
    // where the macro was defined.
    struct MacroText {
        std::vector<std::string> statements;
        bool inch = false;
    };
    std::map<std::string, MacroText> m_mapMacroText;
    // Step-and-repeat blocks in file order, steps in millimetres.
    std::vector<GerberStepRepeat> m_vStepRepeats;
    int m_nCurrentStepRepeat = -1;
    // Whether the file defines any aperture, usable or not.
    bool m_bApertureDefined = false;
    // Whether anything of the file was read as Gerber: a known parameter, a
    // comment, or a data block made of codes and numbers only. A file
    // without any is not a Gerber file.
    bool m_bRecognised = false;
    // The most shapes that step and repeat may add to one image; a block
    // that would pass it stays single, and the run log says so. A setting of the reader, kept from file to file.
    size_t m_nMaxRepeatedShapes = 500000;
    std::map<int, GerberApertureShape> m_mapApertureShapes;
    // Every size read by the aperture and macro analysers, and every
    // coordinate, is multiplied by 25.4 while this is set.
    bool m_bInch = false;

private:
    struct Outline {
        std::vector<tagPOINTF> points;
    };

    // Reading.
    // Back to the state of a new reader, so that a reader used twice does
    // not carry one file's layers and apertures into the next.
    void ResetState();
    void ProcessLine(std::string_view line, bool paramsOnly, int& polarity);
    void ParseDataBlock(std::string_view line, int polarity);
    void ProcessParameterGroup(std::string group, bool closed, int& polarity);
    void StartMacro(const std::string& block);
    void FinishMacro();
    void ReadApertureFile();
    // Builds the template of a standard aperture, with the rings of its
    // outline and of its hole (empty when none).
    bool BuildTemplate(const GerberAperture& ap, GerberApertureShape& out, std::vector<std::vector<tagPOINTF>>& rings,
                       std::vector<tagPOINTF>& hole);
    bool BuildMacroTemplate(const std::string& name, const std::string& modifiers, GerberApertureShape& out);
    // The area of a macro for the aperture's modifiers, as closed rings.
    bool MacroArea(const std::string& name, const std::vector<double>& modifiers, ClipperLib::Paths& area) const;
    double Size(double value) const { return m_bInch ? value * 25.4 : value; }

    // Interpretation.
    void InterpretLayers();
    void InterpretBlock(const Rs274dCodePara& block);
    bool Coordinate(const std::string& text, bool xAxis, double& value) const;
    void SelectAperture(int dcode);
    void Flash(tagPOINTF at, int polarity);
    void Draw(tagPOINTF target, double i, double j);
    void DrawArc(tagPOINTF target, tagPOINTF centre, double sweepDeg);
    void AddCap(tagPOINTF at, double angleDeg);
    Outline& OpenOutline(bool area);
    void FlushPath();
    // Adds the shapes of the image to the group: the merged outlines of all
    // areas, then the shapes without area (points, open lines).
    void BuildResult(CGroupShape* group);
    // Closes the step-and-repeat block that the shapes from m_srFirst on
    // belong to: copies them to every other place of the block.
    void RepeatBlock();

    // One object of the image, before the merge. Its shape is made only
    // when the merge does not replace it (MakeShape): a flash is its
    // template moved by the offset, a path of one outline a polyline of its
    // points, a path of several outlines the union of its area.
    struct ResultItem {
        GerberShapePtr shape;  // made at once: shapes without area
        CBaseShape* prototype = nullptr;
        tagPOINTF offset{};
        std::vector<tagPOINTF> points;
        bool closed = false;
        // The area in clipping units: in Clipper's normal form, or else
        // (normal off) simple rings, each counter-clockwise, or (simple off)
        // one ring as written.
        ClipperLib::Paths area;
        bool normal = true;
        // Off for a contour as written, which may cross itself.
        bool simple = true;
        bool hasArea = false;
        bool clear = false;
    };
    // What the interpretation needs of each aperture, worked out once.
    struct ApertureCache {
        ClipperLib::Paths flashArea;  // at the origin
        bool flashHasArea = false;
        std::vector<std::vector<tagPOINTF>> outlineRings;
    };
    static CBaseShape* MakeShape(ResultItem& item);
    static ResultItem Copy(const ResultItem& item, double dx, double dy);

    double m_flatness = 0.01;
    // What the interpretation produces, in order, before the merge.
    std::vector<ResultItem> m_result;
    std::map<int, ApertureCache> m_apertureCache;
    // What is worked out of the current aperture; null while there is none.
    const ApertureCache* m_aperture = nullptr;
    // The step-and-repeat block being interpreted (-1 none), where its
    // objects begin in m_result, and how many copies the file has made.
    int m_nActiveStepRepeat = -1;
    size_t m_srFirst = 0;
    size_t m_srCopies = 0;
    // A step and repeat was refused: the image is not what the file says.
    bool m_bRepeatRefused = false;

    // Interpretation state.
    tagPOINTF m_pos{};
    bool m_bIncremental = false;
    bool m_bSingleQuadrant = false;
    int m_nGModal = -1;
    int m_nDModal = -1;
    int m_nKind = kNoAperture;
    int m_nSavedKind = kNoAperture;
    bool m_bRegion = false;
    // The current flash shape: a template's (owned by the template map) or
    // the point that stands for a flash without aperture.
    CBaseShape* m_flash = nullptr;
    GerberShapePtr m_pointFlash;
    double m_apertureWidth = 0;
    std::string m_lastX, m_lastY;
    int m_nPolarity = LAYER_DARK;
    // The open path: outlines collected by draws until the next flush.
    std::vector<Outline> m_path;
    bool m_pathIsArea = false;
    bool m_pathHasStroke = false;
    int m_pathPolarity = LAYER_DARK;

    // Room to keep for the data blocks of a file's first layer.
    size_t m_blockEstimate = 0;

    // Macro collection.
    bool m_bCollectingMacro = false;
    std::string m_macroName;
    std::string m_macroBody;
};
