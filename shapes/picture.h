// CPicture: a raster image placed on the work area as a rotatable
// rectangle. It keeps the decoded image and saves its pixels with the shape
// (a shape file does not need the image file), shows a processed copy on
// screen, and marks a net-dot bitmap: the image resized to the marking
// resolution, turned grey with brightness and contrast, optionally dithered
// to black and white and inverted; every dark pixel becomes one dot.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <memory>
#include <vector>

#include "morvik/gdiplus/bitmap.h"
#include "morvik/halder/baseshape.h"
#include "morvik/halder/records.h"

struct AffineMap;

// Where a picture lies, each field listed here once: every transform
// changes it whole, and a copy takes it whole.
struct PictureFields {
    // The outline on the work area: bottom-left, top-left, top-right,
    // bottom-right.
    tagPOINTF cornerPointf[4]{};
    // The unrotated placement: X, Y the top-left corner (Y the greater y).
    Gdiplus::RectF rectfPic;
    // The accumulated rotation stored negated (360 - angle), in [0, 360).
    float fRotateAngle = 0.0f;
    // The pivot of the rotation: always the centre of the picture.
    tagPOINTF rotatePointf{};
    // Whether the image is mirrored: it stands upside down in rectfPic
    // before the rotation. Not saved as such: the saved corners' turning
    // sense gives it back.
    bool m_bMirrored = false;
};

class MORVIK_API CPicture : public CBaseShape, public PictureFields {
    DECLARE_SERIAL(CPicture)

public:
    CPicture();
    ~CPicture() override;
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    // ---- shape interface ----------------------------------------------------
    void AddAllProp(bool extended) override;  // 7
    // A new picture with the decoded image, parameters, geometry, pen and
    // visibility of this one, captioned "Copy of " and this caption.
    CBaseShape* Clone() override;                                                         // 12
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;  // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;        // 21
    // The screen image in the graphics' own units (millimetres), shifted by
    // (dx, dy).
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int mode, float dx,
                       float dy) override;                      // 22
    int Draw(CDC* dc, int mode, int a, int b, int c) override;  // 23
    // The screen image in the view's device units, shifted by (dx, dy); with
    // an offset (a move preview) the corners are outlined in the colour.
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int mode, int a, int b, int c, float dx,
             float dy) override;                                                         // 24
    int Move(float dx, float dy) override;                                               // 30
    int Rotate(double angle, tagPOINTF centre) override;                                 // 31
    // A negative factor flips the image as it flips the outline.
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                            // 32
    // Only a slant that leaves the picture a rectangle (a turn and a scale)
    // can be followed: any other is refused, written to the run log, and
    // answered with kRefused; 1 otherwise.
    int Slope(tagPOINTF fixed, double a, double b) override;                             // 33
    // Whether Slope would follow this slant rather than refuse it; nothing
    // changes. A container asks each picture before it slants any member.
    bool TakesSlant(tagPOINTF fixed, double a, double b) const;
    // The image is mirrored with its outline; 0 for an unknown mode,
    // kRefused for a point that is not finite, 1 otherwise.
    int Mirror(tagPOINTF fixed, int mode) override;                                      // 34
    int IsInRect(Gdiplus::RectF& rect) override;                                         // 38
    int IsMe(tagPOINTF point) override;                                                  // 39
    int IsInClientRectF() override;                                                      // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                                     // 42
    bool GetOutLinePath(std::vector<tagPathData>& paths) override;                       // 44
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;  // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                             // 50
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                 // 53
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                // 64
    void UpdatePropsValue() override;                                                    // 66

    // ---- loading ----------------------------------------------------------------
    // Reads a whole image file through global memory and a stream into a new
    // bitmap handed to the caller (which may have failed to decode: check
    // its width). 0 when the file cannot be read; bitmap is left alone then.
    int LoadPicFromFile(Gdiplus::Bitmap*& bitmap, const wchar_t* path);
    // Loads the image named in the parameters, places it from its pixel size
    // and resolution (centred on the origin) and keeps the parameters. 0
    // with a message when the file does not decode; the previous image stays.
    int InitPicture();
    // The same from a packed DIB in global memory (a clipboard picture).
    // The second argument is not used.
    int InitBmp(void* handle, int reserved);
    // After a shape-file read: rebuilds the image from the saved pixels, or,
    // with the re-initialise switch, reloads the file at its fixed size and
    // anchor.
    int InitPictureFromOrz();
    // What a shape-list reader does after this picture read its properties:
    // the working file name, the corners and the image come back from the
    // saved copies; the caption is the one the file gives.
    void RestoreAfterRead();

    // ---- parameters -------------------------------------------------------------
    // Stores a copy and repaints the view. A change of what the screen image
    // shows marks it for rebuilding. Returns 1; 0, keeping the parameters as
    // they were, when a real number among them is not finite.
    int SetPicture(PICTURE_PAR par);
    void GetPicture(PICTURE_PAR& par);
    // Stores the path and captions the picture with its file name.
    void SetFilename(const CString& path);
    CString GetFilename();
    // Compares the picture's size with its bitmap's size at the stored
    // resolution and marks the screen image for rebuilding when they differ;
    // without the resolution switch the stored resolution follows the
    // picture's size. Returns 0.
    int CheckLineWidth();

    // ---- image processing (results belong to the caller) ------------------------
    // A copy of source drawn at width x height pixels (with keepAspect both
    // sides follow the smaller of the two ratios), at the resolution given.
    // Null, with a message, for a size below 1 or when memory runs out.
    Gdiplus::Bitmap* ResizeBitmap(Gdiplus::Bitmap* source, int width, int height, int dpiX, int dpiY, bool keepAspect);
    // *result becomes a new bitmap, or source itself where the operation
    // passes a format through unchanged, or null when memory runs out.
    // Grey with the parameters' brightness and contrast, 8-bit indexed; 8-bit
    // indexed, 24-bit and 32-bit sources only (transparency counts as white).
    void ToGray(Gdiplus::Bitmap* source, Gdiplus::Bitmap** result);
    // Error diffusion to black and white above the threshold, 8-bit indexed.
    void Binaryzation(Gdiplus::Bitmap* source, Gdiplus::Bitmap** result, BYTE threshold);
    // Inverts grey values (8-bit grey result) or colour channels.
    void ImageNegative(Gdiplus::Bitmap* source, Gdiplus::Bitmap** result);
    // The marking bitmap: reloaded and re-placed first with the
    // re-initialise switch; 8-bit grey. Null without an image.
    Gdiplus::Bitmap* GetNetDotBmp();
    // The screen image, rebuilt when marked for it; owned by the picture
    // (null before the first image).
    Gdiplus::Bitmap* GetDisplayBmp();
    // The decoded image, owned by the picture; null before a load.
    Gdiplus::Bitmap* GetBitmap() const { return m_pBitmap.get(); }
    // A copy of a rectangle of the display (clipped to it), owned by the
    // caller; null for an empty rectangle.
    HBITMAP CopyScreenToBitmap(RECT* rect);

    // ---- geometry and saved data ----------------------------------------------------
    // Where the picture lies is PictureFields.
    // Whether the image is mirrored: it stands upside down in rectfPic
    // before the rotation. Not saved as such: the saved corners' turning
    // sense gives it back.
    bool IsMirrored() const { return m_bMirrored; }
    // The saved corners (one list of four), refreshed before a save.
    std::vector<std::vector<tagPOINTF>> arr4Pointf;
    PICTURE_PAR PICTUREPAR;
    // The saved pixels (32-bit rows, bottom row first) and their description.
    std::vector<BYTE> bmBits;
    int32_t bmWidthBytes = 0;
    int32_t bmWidth = 0;
    int32_t bmType = 0;
    int bmPlanes = 0;
    int32_t bmHeight = 0;
    int bmBitsPixel = 0;

private:
    // Move and Zoom for callers that hold the event (the fixed size and
    // anchor of a reloaded picture).
    int MoveHeld(float dx, float dy);
    int ZoomHeld(tagPOINTF fixed, double sx, double sy);
    // SetPicture's change and CheckLineWidth for callers that hold the event.
    void KeepPicture(const PICTURE_PAR& par);
    int CheckLineWidthHeld();
    static BYTE ToByte(int value);
    // Puts the picture at its pixel size over its resolution, centred on the
    // origin, unless the stored rectangle is to be kept.
    void LoadORZCaculateRect();
    bool IsPtOnline(tagPOINTF point) const;
    bool IsPtInPolygon(tagPOINTF point) const;
    // Appends one dot per dark pixel of the marking bitmap, in scan order.
    void GetMarkBitmapPoint32(std::vector<tagPOINTF>& points);

    // Where the picture lies: what every transform changes.
    using Placement = PictureFields;
    Placement GetPlacement() const;
    // Takes the placement when all its numbers are finite floats; false
    // leaves the picture as it was.
    bool SetPlacement(const Placement& place);
    // Where a slant puts the picture; false when it would not stay a
    // rectangle or a number would not stay finite.
    bool SlantedPlacement(const AffineMap& slant, Placement& place, double& lu, double& lv) const;
    // The corners of the rectangle, mirrored and turned as the placement says.
    static void PlaceCorners(Placement& place);
    // After the corners moved: the pivot and the rectangle follow their centre.
    static void Recentre(Placement& place);
    // Where a zoom puts the picture; false when that is not finite.
    bool ZoomedPlacement(tagPOINTF fixed, double sx, double sy, Placement& place) const;
    // Mirror mode 1 (x), 2 (y) or 3 (both) about a point.
    static void MirrorPlacement(Placement& place, tagPOINTF fixed, int mode);
    // The corners of rectfPic turned by the picture's rotation.
    void CornersFromRect();
    // Replaces the decoded image (the old one is deleted).
    void AdoptBitmap(std::unique_ptr<Gdiplus::Bitmap> bitmap);
    // The fixed size and anchor of the parameters.
    void ApplyFixedSizeAndAnchor();
    // The processed copy of the decoded image: resized as the parameters
    // say, grey when asked (always for marking), black and white, inverted.
    std::unique_ptr<Gdiplus::Bitmap> BuildProcessed(bool forMarking);
    // Draws a bitmap onto the device parallelogram of corners given in
    // millimetres (bottom-left, top-left, top-right, bottom-right).
    int DrawOnCorners(Gdiplus::Graphics& g, Gdiplus::Bitmap* bitmap, const tagPOINTF corners[4], int mode, float dx,
                      float dy);
    float ViewZoom() const;

    // The decoded image and the screen image.
    std::unique_ptr<Gdiplus::Bitmap> m_pBitmap;
    std::unique_ptr<Gdiplus::Bitmap> m_pScreenBitmap;
    // A new or reloaded image has no screen image yet. Kept apart from the
    // saved rebuild switch, so that loading a picture changes no saved byte.
    bool m_bScreenStale = true;
    // The description of the last saved pixels.
    BITMAP m_bitmapInfo{};
    // Set while a shape-file read restores the picture: keep the stored
    // rectangle.
    int m_nKeepRect = 0;
};
