// Barcode generation of the text shape: the engine handle set up from the
// barcode record, the text encoded, the bars (linear codes) or the module
// matrix (two-dimensional codes) collected through the engine's bar
// callback, the modules turned into outlines, the fixed size, and the
// readable text under the symbol.
//
// One engine handle serves every text of a view, so each build sets the
// handle up in full and holds it (a lease of the wrapper) from the set-up
// through the drawing pass: the marking thread may rebuild variable
// barcodes while the editor builds others.
#include <algorithm>
#include <cmath>
#include <cwchar>
#include <string>

#include "morvik/afx/message_box.h"
#include "morvik/codebar/codebar.h"
#include "morvik/compose/filledshape.h"
#include "morvik/core/morvik.h"
#include "morvik/core/runlog.h"
#include "morvik/core/text_utils.h"
#include "morvik/halder/lang.h"
#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"
#include "morvik/tolcode/tolcode.h"

namespace {

// The drawing rectangle handed to the engine.
constexpr RECT kDrawRect{0, 0, 100, 10000};

RunLog* Log() { return RunLog::Instance(nullptr); }

CString Lang(const char* key) { return CLang::Instance()->GetString(key); }

// Truncation toward zero of a finite value inside int; anything else is -1
// (a cell that no matrix holds).
int TruncIndex(double v) {
    if (!std::isfinite(v) || v < -1.0 || v > 1.0e9) return -1;
    return static_cast<int>(std::trunc(v));
}

// Why the last encoding of this thread was refused before the text reached
// the engine (a parameter that is no number, a setting the engine
// refused), for the error report.
thread_local const wchar_t* t_refusedParameter = nullptr;

// The first number of the record that the build of this symbology uses
// and that is no size it can build: not finite, or past a kilometre. A bar
// height below zero is refused too where it is the height of the bars.
const wchar_t* RefusedNumber(const CODEBAR_PAR& p) {
    constexpr double kMost = 1e6;
    auto bad = [](double v) { return !std::isfinite(v) || std::fabs(v) > kMost; };
    if (bad(p.fModuleWidth)) return L"The module width is not a size the barcode can be built with.";
    const bool barsHigh = !p.Is2DCode() || p.nCodeType == CMyCodebar::kPdf417;
    if (barsHigh && (bad(p.fBarHeight) || p.fBarHeight < 0)) return L"The bar height is not a size the barcode can be built with.";
    if (p.bFixSize != 0 && (bad(p.fFixWidth) || bad(p.fFixHeight))) return L"The fixed size is not a size the barcode can be built with.";
    if (p.bShowText != 0) {
        if (bad(p.dTextHeight) || bad(p.dTextWidth)) return L"The size of the readable text is not a size it can be built with.";
        if (bad(p.dTextOffsetX) || bad(p.dTextOffsetY)) return L"The offset of the readable text is not a distance it can be moved by.";
        if (bad(p.dTextSpace)) return L"The spacing of the readable text is not a distance it can be built with.";
    }
    if (p.Is2DCode() && p.bLogo != 0 && bad(p.fLogoRatio)) return L"The logo ratio is not a ratio the code can be built with.";
    return nullptr;
}

LONG CodebarSizeCallback(void* context, DWORD, double x, double y, double w, double h) {
    if (context != nullptr) static_cast<CFonts*>(context)->Calculate2DBarSize(x, y, w, h);
    return 0;
}

LONG CodebarDrawCallback(void* context, DWORD, double x, double y, double w, double h) {
    if (context != nullptr) static_cast<CFonts*>(context)->CallbackCodeBar(x, y, w, h);
    return 0;
}

// The handle a build of this thread holds, for the engine calls of
// GenerateCodebar and the error report; null outside a build.
thread_local tag_BarCode* t_buildHandle = nullptr;

// Holds a handle for one build on this thread; nests (an inner holder of
// the same text keeps the outer lease).
class BuildLease {
public:
    explicit BuildLease(CFonts& text) : m_outer(t_buildHandle) {
        if (m_outer != nullptr) return;
        CMyCodebar* wrapper = GetCodebarInstance();
        if (wrapper == nullptr) return;
        m_lease = wrapper->LockBarCode(text.GetBarcodeInstance());
        t_buildHandle = m_lease.Get();
    }
    ~BuildLease() {
        if (m_outer == nullptr) t_buildHandle = nullptr;
    }
    BuildLease(const BuildLease&) = delete;
    BuildLease& operator=(const BuildLease&) = delete;
    tag_BarCode* Get() const { return t_buildHandle; }

private:
    tag_BarCode* m_outer;
    CBarCodeLease m_lease;
};

}  // namespace

// ---- the engine handle ------------------------------------------------------------------------

tag_BarCode* CFonts::GetBarcodeInstance() {
    CMyCodebar* wrapper = GetCodebarInstance();
    if (wrapper == nullptr) return nullptr;
    if (m_pView != nullptr) {
        // The view's handle is asked for at every build: the view may have
        // freed it since. A handle of the text's own is no longer needed.
        if (m_pOwnBarcode != nullptr) {
            wrapper->FreeNullInstance(m_pOwnBarcode);
            m_pOwnBarcode = nullptr;
        }
        tag_BarCode* handle = wrapper->GetBarCodeInstance(m_pView);
        if (handle != nullptr) return handle;
    }
    if (m_pOwnBarcode == nullptr) m_pOwnBarcode = wrapper->GetBarCodeInstance(nullptr);
    return m_pOwnBarcode;
}

void CFonts::ReleaseBarcodeInstance() {
    if (m_pOwnBarcode == nullptr) return;
    // At unload the wrapper may be gone before the last texts.
    if (CMyCodebar::GetInstanceCount() > 0) GetCodebarInstance()->FreeNullInstance(m_pOwnBarcode);
    m_pOwnBarcode = nullptr;
}

// ---- encoding ----------------------------------------------------------------------------------

int32_t CFonts::GenerateCodebar() {
    BuildLease lease(*this);
    tag_BarCode* h = lease.Get();
    if (h == nullptr) return BCERR_NULL_POINTER;
    const CODEBAR_PAR& par = parCodebar;
    // Numbers that are no sizes never reach the engine: they would build
    // NaN outlines, or an earlier code's setting would stay in force.
    t_refusedParameter = RefusedNumber(par);
    if (t_refusedParameter != nullptr) return E_INVALIDARG;
    int type = par.nCodeType;
    if (type >= CMyCodebar::kEan128A && type <= CMyCodebar::kEan128C) {
        const wchar_t* formats[3] = {L"A", L"B", L"C"};
        BCSetFormatW(h, formats[type - CMyCodebar::kEan128A]);
        type = CMyCodebar::kEan128;
    }
    // Every setting is made anew on the shared handle; one the engine
    // refuses fails the build (the handle would keep the previous code's).
    HRESULT rc = BCSetBCType(h, type);
    if (rc != 0) return rc;
    CString width;
    width.Format(L"%.2f", static_cast<double>(par.fModuleWidth) * 100 * 10);
    rc = BCSetModWidthW(h, width.GetString());
    if (rc != 0) {
        t_refusedParameter = L"The module width is not a size the barcode can be built with.";
        return rc;
    }
    BCSetNotchHeight(h, TruncIndex(par.fBarHeight) < 0 ? 0 : TruncIndex(par.fBarHeight));
    if (!par.Is2DCode()) {
        const CString ratio = par.GetRatio();
        BCSetRatioW(h, ratio.GetString());
        parCodebar.bPointModule = 0;
        parCodebar.bCircleModule = 0;
        parCodebar.bRectModule = 0;
    } else {
        BCSetRatioW(h, L"");
        if (BCSetCodePage(h, par.nCodePage) != 0) {
            t_refusedParameter = L"The code page of the data is not known.";
            return E_INVALIDARG;
        }
        switch (type) {
            case CMyCodebar::kQrCode:
                BCSet_QR_ECLevel(h, par.n2DECLevel);
                BCSet_QR_Version(h, par.n2DVersion);
                break;
            case CMyCodebar::kDataMatrix: BCSet_DM_Size(h, par.n2DVersion); break;
            case CMyCodebar::kHanXin:
                BCSet_HanXin_Version(h, par.n2DVersion);
                BCSet_HanXin_ECLevel(h, par.n2DECLevel);
                break;
            case CMyCodebar::kPdf417:
                BCSet_PDF417_Columns(h, par.nPDF417Cols);
                BCSet_PDF417_Rows(h, par.nPDF417Rows);
                BCSet_PDF417_ECLevel(h, par.n2DECLevel);
                [[fallthrough]];
            case CMyCodebar::kTolcode:
                parCodebar.bPointModule = 0;
                parCodebar.bCircleModule = 0;
                parCodebar.bRectModule = 0;
                break;
            case CMyCodebar::kAztec: BCSet_Aztec_AppendActive(h, 1); break;
            default: break;
        }
    }
    rc = BCSetTextW(h, m_strText.GetString(), m_strText.GetLength());
    if (rc == 0) rc = BCCheck(h);
    if (rc == 0) rc = BCCreate(h);
    return rc;
}

void CFonts::ReportCodebarError(int32_t code, bool box) {
    tag_BarCode* h = t_buildHandle;
    wchar_t engine[100] = {};
    BCGetErrorTextW(code, engine, 100);
    engine[99] = L'\0';
    CString message = Lang("IDS_FONTS_OTHER_ERROR");
    message += engine;
    // What the engine knows beyond the code: the lengths a symbology takes,
    // the number system of UPC-E, the encoder's own reason.
    const wchar_t* detail = h != nullptr ? BCGetErrorDetailW(h) : nullptr;
    auto withDetail = [&](const wchar_t* why) {
        message = Lang("IDS_FONTS_OTHER_ERROR");
        message += why;
    };
    if (t_refusedParameter != nullptr) {
        withDetail(t_refusedParameter);
    } else if (h != nullptr && code == BCERR_INVALID_DATA) {
        const wchar_t* text = BCGetTextW(h);
        const int pos = BCGetInvalidDataPos(h);
        if (text == nullptr) {
            message = Lang("IDS_FONTS_NO_TEXT");
        } else if (pos >= 0 && static_cast<size_t>(pos) < std::wcslen(text)) {
            message.Format(Lang("IDS_FONTS_WRONG_TEXT").GetString(), text[pos], pos + 1);
        } else if (detail != nullptr) {
            withDetail(detail);
        }
    } else if (h != nullptr && code == BCERR_WRONG_LENGTH) {
        // The limit of the chosen version and level, for data of this kind.
        const int most = BCGetMaxLenOfText(h);
        const wchar_t* text = BCGetTextW(h);
        const size_t length = text != nullptr ? std::wcslen(text) : 0;
        if (most > 0 && length > static_cast<size_t>(most)) {
            message.Format(Lang("IDS_FONTS_WRONG_TEXT_LEN").GetString(), most);
        } else if (detail != nullptr) {
            withDetail(detail);  // too short: the lengths it takes
        } else if (most > 0) {
            message.Format(Lang("IDS_FONTS_WRONG_TEXT_LEN").GetString(), most);
        }
    } else if (h != nullptr && code == BCERR_NOT_SUPPORTED) {
        if (BCGet2DCompositeComponent(h) != 0 && BCGet_CompSym_ErrorInCC(h) != 0)
            message = Lang("IDS_FONTS_NOT_SUPPORT");
    } else if (detail != nullptr) {
        withDetail(detail);
    }
    if (box) {
        // A layout holds the text's event: the box comes once it is free.
        CBaseShape::WhenReleased([message] { AfxMessageBox(message.GetString()); });
    } else {
        Log()->Write(message.GetString());
    }
}

// ---- the bar callbacks -------------------------------------------------------------------------

void CFonts::Calculate2DBarSize(double x, double y, double w, double h) {
    const double mw = parCodebar.fModuleWidth;
    int c;
    if (parCodebar.nCodeType == CMyCodebar::kPdf417) {
        if (!(mw > 0)) return;
        c = TruncIndex(x / mw + 0.5) + TruncIndex(w / mw + 0.5) + 1;
    } else {
        if (!(w > 0)) return;
        c = TruncIndex(x / w + 0.5 + 1.0);
    }
    if (!(h > 0)) return;
    const int r = TruncIndex(y / h + 0.5 + 1.0);
    if (c < 0 || r < 0) return;
    m_nModuleCols = std::max(m_nModuleCols, c);
    m_nModuleRows = std::max(m_nModuleRows, r);
}

void CFonts::CallbackCodeBar(double x, double y, double w, double h) {
    if (parCodebar.Is2DCode()) {
        const size_t rows = static_cast<size_t>(m_nModuleRows);
        auto set = [&](int c, int r) {
            // Modules outside the matrix are not the symbol's.
            if (c >= 0 && r >= 0 && c < m_nModuleCols && r < m_nModuleRows)
                m_modules[static_cast<size_t>(c) * rows + static_cast<size_t>(r)] = 1;
        };
        if (!(h > 0)) return;
        const int r = TruncIndex(y / h + 0.5);
        if (parCodebar.nCodeType == CMyCodebar::kPdf417) {
            const double mw = parCodebar.fModuleWidth;
            if (!(mw > 0)) return;
            const int n = TruncIndex(w / mw + 0.5), c0 = TruncIndex(x / mw + 0.5);
            for (int k = 0; k < n && k < m_nModuleCols; ++k) set(c0 + k, r);
        } else if (w > 0) {
            set(TruncIndex(x / w + 0.5), r);
        }
        return;
    }
    if (m_arrChars.empty() || m_arrChars[0] == nullptr) return;
    const float X = static_cast<float>(fontspos.x + x);
    const float Y = static_cast<float>(fontspos.y - parCodebar.fBarHeight - y);
    const float W = static_cast<float>(w), H = static_cast<float>(h);
    if (parCodebar.nCodeType == CMyCodebar::kEan13) m_arrEanBars.emplace_back(X, Y, W, H);
    GenOneRect(m_arrChars[0], X, Y, W, H);
}

// ---- the module matrix ---------------------------------------------------------------------------

bool CFonts::BuildModuleMatrix(int id) {
    FreeCodeBarSquare();
    if (id == CMyCodebar::kEarCode) {
        // 18 x 18: a dark ring round 16 x 16 cells given by the 256 digits
        // of the text ('1' dark); any other text leaves the code light.
        constexpr int kSide = 18;
        std::vector<uint8_t> cells(kSide * kSide, 0);
        if (m_strText.GetLength() == 256) {
            const wchar_t* s = m_strText.GetString();
            for (int c = 0; c < kSide; ++c)
                for (int r = 0; r < kSide; ++r) {
                    const bool ring = c == 0 || r == 0 || c == kSide - 1 || r == kSide - 1;
                    cells[static_cast<size_t>(c * kSide + r)] = ring || s[(r - 1) * 16 + (c - 1)] == L'1' ? 1 : 0;
                }
        }
        LoadModuleMatrix(kSide, kSide, cells);
        return true;
    }
    if (id == CMyCodebar::kTolcode) {
        const std::string ansi = WideToAnsiString(m_strText);
        FBarcode* outline = GetBarcodeOutline_Tolcode(ansi.c_str(), SymbologyTolcode, parCodebar.n2DECLevel, -101, 3);
        std::vector<uint8_t> grid;
        const bool ok = TolcodeModuleGrid(outline, grid);
        const int cols = ok ? outline->nCols : 0, rows = ok ? outline->nRows : 0;
        FreeBarcode_Tolcode(outline);
        if (!ok) return false;
        std::vector<uint8_t> cells(grid.size(), 0);
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < rows; ++r)
                cells[static_cast<size_t>(c) * static_cast<size_t>(rows) + static_cast<size_t>(r)] =
                    grid[static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c)];
        LoadModuleMatrix(cols, rows, cells);
        return true;
    }
    // The sizing pass: the furthest module gives the counts. The engine's
    // own size of the symbol covers light edge modules too.
    tag_BarCode* h = t_buildHandle;
    RECT rect = kDrawRect;
    BCSetFuncDrawBar(h, CodebarSizeCallback);
    BCDrawCB(h, nullptr, &rect);
    int cols = m_nModuleCols, rows = m_nModuleRows;
    int symbolCols = 0, symbolRows = 0;
    if (BCGetSymbolSize(h, &symbolCols, &symbolRows) == 0) {
        cols = std::max(cols, symbolCols);
        rows = std::max(rows, symbolRows);
    }
    LoadModuleMatrix(cols, rows, {});
    return true;
}

// ---- the build -------------------------------------------------------------------------------------

bool CFonts::SetCodebarPoints(bool report) {
    parCodebarInit = parCodebar;
    auto tell = [report](const CString& message) {
        if (report) {
            CBaseShape::WhenReleased([message] { AfxMessageBox(message.GetString()); });
        } else {
            Log()->Write(message.GetString());
        }
    };
    CMyCodebar* wrapper = GetCodebarInstance();
    const int id = wrapper != nullptr ? wrapper->LookupCode(m_strFontName, parCodebar.nCodeType) : -1;
    if (id == -1) {
        tell(Lang("IDS_ERR_BAR_TYPE"));
        return false;
    }
    parCodebar.nCodeType = id;
    m_arrEanBars.clear();
    m_strCodeReadable = m_strText;
    BuildLease lease(*this);
    tag_BarCode* h = lease.Get();
    // Without an engine handle the wrapper has said why already.
    if (h == nullptr) return false;
    const int32_t rc = GenerateCodebar();
    if (rc != 0) {
        ReportCodebarError(rc, report);
        return false;
    }
    const bool twoD = parCodebar.Is2DCode();
    if (twoD && !BuildModuleMatrix(id)) {
        // The add-in could not give the symbol: no check before the build
        // can tell, so this is always shown.
        CString message = Lang("IDS_FONTS_OTHER_ERROR");
        message += wrapper->GetTypeName(id);
        CBaseShape::WhenReleased([message] { AfxMessageBox(message.GetString()); });
        return false;
    }

    auto* bars = new FONTSCHAR();
    bars->text = m_strText;
    m_arrChars.push_back(bars);
    for (int k = 0; k < 2; ++k) {
        auto* fill = new CFilledShape();
        fill->SetNoRedraw(1);
        fill->SetDocView(m_pDoc, m_pView);
        m_arrFills.push_back(fill);
    }
    BCSetCBData(h, this);
    BCSetFuncDrawBar(h, CodebarDrawCallback);
    BCSetPrintText(h, parCodebar.bShowText, 0);
    BCSetFontHeight(h, 0);
    if (id != CMyCodebar::kEarCode && id != CMyCodebar::kTolcode && !m_strText.IsEmpty() &&
        m_strText != CString(L" ")) {
        RECT rect = kDrawRect;
        BCDrawCB(h, nullptr, &rect);
    }
    BCSetCBData(h, nullptr);
    // The readable line shows what the bars hold (check digits, padding).
    const wchar_t* readable = BCGetReadableTextW(h);
    m_strCodeReadable = readable != nullptr ? CString(readable) : m_strText;

    if (twoD) {
        const bool pointRectCircle =
            parCodebar.bPointModule == 1 || parCodebar.bRectModule == 1 || parCodebar.bCircleModule == 1;
        // The logo area stays empty in every style: the per-module styles
        // draw dark cells (light ones when inverse), the traced outlines
        // always draw dark areas.
        if (parCodebar.bLogo != 0) AndLogoPic(pointRectCircle && parCodebar.bInverse != 0, true);
        if (parCodebar.bPointModule == 1) {
            GenPointMatri();
        } else if (parCodebar.bRectModule == 1) {
            GenRectMatri();
        } else if (parCodebar.bCircleModule == 1) {
            GenCircleMatri();
        } else {
            Gen2DPath();
        }
    }
    FreeCodeBarSquare();

    if (parCodebar.bFixSize != 0) {
        Gdiplus::RectF r;
        GetRectangle(r);
        // An empty symbol (or a size that is no size) has nothing to scale.
        constexpr double kEps = 1e-6;
        const double sx = parCodebar.fFixWidth / static_cast<double>(r.Width);
        const double sy = parCodebar.fFixHeight / static_cast<double>(r.Height);
        if (r.Width > kEps && r.Height > kEps && std::isfinite(sx) && std::isfinite(sy) && sx > 0 && sy > 0) {
            DoZoom(fontspos, sx, sy);
            // The readable digits are placed by these bars: they go where
            // the bars went.
            for (Gdiplus::RectF& bar : m_arrEanBars) {
                const tagPOINTF corner = PointfZoom({bar.X, bar.Y}, sx, sy, fontspos);
                bar = Gdiplus::RectF(corner.x, corner.y, static_cast<float>(bar.Width * sx),
                                     static_cast<float>(bar.Height * sy));
            }
        }
    }
    m_barcodeSize = static_cast<int>(bars->points.size());
    Gdiplus::RectF r;
    GetRectangle(r);
    if (parCodebar.bShowText != 0) {
        if (id == CMyCodebar::kEan13) {
            ShowEANBarCodeText(r);
        } else {
            Show2DBarCodeTxt(r);
        }
    }
    InvalidateGeometry();
    return true;
}
