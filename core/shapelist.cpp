#include "morvik/core/shapelist.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/compose/filledshape.h"
#include "morvik/text/fonts.h"
#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/controls.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/picture.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/shapes/screwline.h"

namespace {

bool IsNullGuid(const GUID& id) {
    static const GUID kNull{};
    return std::memcmp(&id, &kNull, sizeof id) == 0;
}

bool FinitePoint(const tagPOINTF& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// A control object read with numbers that are not finite: its anchor goes to
// the origin (it is only where the editor shows the step) and a distance
// that is not a number takes the class's default, so nothing that is not a
// number is kept. The step itself stays in the list.
void MendControl(CBaseShape* shape) {
    auto* control = dynamic_cast<CControlShape*>(shape);
    if (control == nullptr) return;
    if (!FinitePoint(control->pointf)) control->pointf = tagPOINTF{};
    if (auto* encoder = dynamic_cast<CEncoderDistance*>(shape)) {
        // The constructor's default distance.
        if (!std::isfinite(encoder->fDistance)) encoder->fDistance = 1000.0f;
    }
    if (auto* axis = dynamic_cast<CExeAxi*>(shape)) {
        CCfgAxit cfg = axis->GetCfgAxi();
        if (!std::isfinite(cfg.fMvDist)) {
            cfg.fMvDist = CCfgAxit().fMvDist;
            axis->SetCfgAxi(cfg);
        }
    }
}

bool EndsWithNoCase(const wchar_t* text, const wchar_t* tail) {
    const size_t n = std::wcslen(text);
    const size_t m = std::wcslen(tail);
    if (n < m) return false;
    for (size_t i = 0; i < m; ++i) {
        if (std::towlower(static_cast<wint_t>(text[n - m + i])) != std::towlower(static_cast<wint_t>(tail[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

CVonnSriShapeList::CVonnSriShapeList(std::list<CBaseShape*>* shapes)
    : m_pShapes(shapes), m_nCount(shapes != nullptr ? shapes->size() : 0) {}

CVonnSriShapeList::~CVonnSriShapeList() = default;

bool CVonnSriShapeList::IsShapeListPath(const wchar_t* path, bool& extended) {
    if (path == nullptr) return false;
    if (EndsWithNoCase(path, L".orz")) {
        extended = false;
        return true;
    }
    if (EndsWithNoCase(path, L"orzx")) {
        extended = true;
        return true;
    }
    return false;
}

// ---- writing -----------------------------------------------------------------

void CVonnSriShapeList::Save(bool extended, SriFile* file) {
    if (m_pShapes == nullptr || file == nullptr) return;
    // The count is that of the records actually written: a list that changed
    // since construction, or a null entry, must not leave a count that the
    // records do not match.
    int32_t count = 0;
    for (CBaseShape* shape : *m_pShapes) {
        if (shape != nullptr) ++count;
    }
    file->WriteLong(extended ? kHeaderExtended : kHeaderPlain);
    file->WriteLong(count);
    for (CBaseShape* shape : *m_pShapes) {
        if (shape == nullptr) continue;
        file->WriteLong(static_cast<int32_t>(shape->GetShapeKind()));
        shape->UpdatePropsValue();
        shape->Save(extended, file);
    }
}

bool CVonnSriShapeList::SaveList(const wchar_t* path) {
    if (path == nullptr || m_pShapes == nullptr) return false;
    SriFile file(path, true);
    if (!file.IsGood()) return false;
    Save(true, &file);
    return file.Close() && file.IsGood();
}

// ---- reading -----------------------------------------------------------------

CBaseShape* CVonnSriShapeList::CreateShapeOfKind(int32_t kind) {
    switch (kind) {
        case SHAPE_POLYLINE: return new CPolyLine();
        case SHAPE_CIRCLE: return new CCircle();
        case SHAPE_ELLIPSEARC: return new CEllipseArc();
        case SHAPE_RECTANGLE: return new CRectangle();
        case SHAPE_BEZIER: return new CBezierCurve();
        case SHAPE_POLYGON: return new CPolygon();
        case SHAPE_POINTS: return new CPoints();
        case SHAPE_DELAYEDTIMER: return new CDelayedTimer();
        case SHAPE_GROUP: return new CGroupShape();
        case SHAPE_COMBINE: return new CCombineShape();
        case SHAPE_PICTURE: return new CPicture();
        case SHAPE_SCREWLINE: return new CScrewLine();
        case SHAPE_INPUT: return new CInput();
        case SHAPE_OUTPUT: return new COutput();
        case SHAPE_ENCODERDISTANCE: return new CEncoderDistance();
        case SHAPE_EXEAXI: return new CExeAxi();
        case SHAPE_DOCPARAM: return new CDocParam();
        case SHAPE_FILLED: return new CFilledShape();
        case SHAPE_FONTS: return new CFonts();
        // Any unknown kind is read as a plain base shape, which keeps the
        // records after it aligned.
        default: return new CBaseShape();
    }
}

size_t CVonnSriShapeList::GuidHash::operator()(const GUID& id) const {
    uint64_t a = 0, b = 0;
    static_assert(sizeof id == 16, "a GUID is 16 bytes");
    std::memcpy(&a, &id, 8);
    std::memcpy(&b, reinterpret_cast<const unsigned char*>(&id) + 8, 8);
    return std::hash<uint64_t>()(a ^ (b * 0x9E3779B97F4A7C15ull));
}

void CVonnSriShapeList::IndexListed(ListPos pos) {
    CBaseShape* shape = *pos;
    if (shape == nullptr) return;
    const GUID parent = shape->GetParentBaseID();
    if (!IsNullGuid(parent)) m_byParent[parent].push_back(pos);
}

template <class Keep>
std::vector<CBaseShape*> CVonnSriShapeList::TakeChildrenOf(const GUID& id, const CBaseShape* self, Keep keep) {
    std::vector<CBaseShape*> taken;
    // A null GUID is what a shape without a parent carries: adopting under it
    // would swallow every top-level shape.
    if (IsNullGuid(id)) return taken;
    auto found = m_byParent.find(id);
    if (found == m_byParent.end()) return taken;
    std::vector<ListPos>& listed = found->second;
    std::vector<ListPos> left;
    for (ListPos pos : listed) {
        CBaseShape* shape = *pos;
        if (shape == self || keep(shape)) {
            left.push_back(pos);
            continue;
        }
        taken.push_back(shape);
        m_pShapes->erase(pos);
    }
    if (left.empty()) {
        m_byParent.erase(found);
    } else {
        listed.swap(left);
    }
    return taken;
}

void CVonnSriShapeList::AdoptChildren(CBaseShape* container, bool skipFills) {
    std::vector<CBaseShape*> taken = TakeChildrenOf(container->GetBaseID(), container, [skipFills](CBaseShape* s) {
        return skipFills && s->GetShapeKind() == SHAPE_FILLED;
    });
    std::vector<CBaseShape*>& children = container->GetChildren();
    children.insert(children.end(), taken.begin(), taken.end());
}

void CVonnSriShapeList::RestoreShape(int32_t kind, CBaseShape* shape) {
    switch (kind) {
        case SHAPE_POLYLINE: {
            auto* poly = static_cast<CPolyLine*>(shape);
            // A point that is not a number is not taken in: it would reach
            // the scanner.
            for (const std::vector<tagPOINTF>& group : poly->arrPointf) {
                std::copy_if(group.begin(), group.end(), std::back_inserter(poly->arrPoint),
                             [](const tagPOINTF& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
            }
            poly->arrPointf.clear();
            poly->ClearDetail();
            poly->InvalidateGeometry();
            break;
        }
        case SHAPE_CIRCLE: static_cast<CCircle*>(shape)->RestoreAfterRead(); break;
        case SHAPE_ELLIPSEARC: static_cast<CEllipseArc*>(shape)->RestoreAfterRead(); break;
        case SHAPE_RECTANGLE: static_cast<CRectangle*>(shape)->RestoreAfterRead(); break;
        case SHAPE_BEZIER: static_cast<CBezierCurve*>(shape)->RestoreAfterRead(); break;
        case SHAPE_POLYGON: static_cast<CPolygon*>(shape)->RestoreAfterRead(); break;
        case SHAPE_GROUP:
            AdoptChildren(shape);
            static_cast<CGroupShape*>(shape)->RestoreAfterRead();
            break;
        case SHAPE_COMBINE:
            AdoptChildren(shape);
            static_cast<CCombineShape*>(shape)->RestoreAfterRead();
            break;
        case SHAPE_FONTS: {
            // The text's saved fill shapes were written before it with the
            // text as their parent: they replace the fills it creates. Other
            // shapes under a text have no place and are dropped.
            std::vector<CFilledShape*> fills;
            for (CBaseShape* other : TakeChildrenOf(shape->GetBaseID(), shape, [](CBaseShape*) { return false; })) {
                if (auto* fill = dynamic_cast<CFilledShape*>(other)) {
                    fills.push_back(fill);
                } else {
                    other->FreeShapePtr();
                    delete other;
                }
            }
            static_cast<CFonts*>(shape)->RestoreAfterRead(fills);
            break;
        }
        case SHAPE_FILLED:
            // A fill shape takes back every child it was saved with, a fill
            // shape nested in it included: left out, that fill would come
            // back at the top of the list, away from its place.
            AdoptChildren(shape);
            static_cast<CFilledShape*>(shape)->RestoreAfterRead();
            break;
        case SHAPE_PICTURE: static_cast<CPicture*>(shape)->RestoreAfterRead(); break;
        case SHAPE_SCREWLINE: static_cast<CScrewLine*>(shape)->RestoreAfterRead(); break;
        case SHAPE_INPUT: static_cast<CInput*>(shape)->RestoreAfterRead(); break;
        case SHAPE_DOCPARAM: static_cast<CDocParam*>(shape)->RestoreAfterRead(); break;
        default: break;
    }
}

void CVonnSriShapeList::Read(bool extended, SriFile* file) {
    m_bReadComplete = false;
    if (m_pShapes == nullptr || file == nullptr || !file->IsGood()) return;

    int32_t header = 0;
    if (!file->ReadLong(header)) return;
    if (header == kHeaderExtended) {
        extended = true;
    } else if (header == kHeaderPlain) {
        // The two forms share one encoding; the header, not the caller's
        // guess from the file name, says which form the writer used.
        extended = false;
    } else {
        return;
    }

    int32_t count = 0;
    if (!file->ReadLong(count) || count < 0) return;
    m_byParent.clear();
    for (ListPos pos = m_pShapes->begin(); pos != m_pShapes->end(); ++pos) IndexListed(pos);
    struct ForgetIndex {
        std::unordered_map<GUID, std::vector<ListPos>, GuidHash>& index;
        ~ForgetIndex() { index.clear(); }
    } forget{m_byParent};
    // Nothing is allocated per counted record before it is read, and a
    // record that does not fit stops the loop: a hostile count costs nothing.
    for (int32_t i = 0; i < count && file->IsGood(); ++i) {
        int32_t kind = 0;
        if (!file->ReadLong(kind)) return;
        CBaseShape* shape = CreateShapeOfKind(kind);
        shape->Read(extended, file);
        if (!file->IsGood()) {
            // A half-read shape would carry arbitrary parts of its state:
            // drop it and give back the running number it took.
            const CAD_SHAPE_TYPE made = shape->GetShapeKind();
            if (made >= SHAPE_POLYLINE && made <= SHAPE_EXEAXI && shape->GetCountNum() > 0) {
                ShapeCounterOf(made).GiveBack();
            }
            // A spiral line is built on a polyline, which took a number too.
            if (made == SHAPE_SCREWLINE) {
                ShapeCounterOf(SHAPE_POLYLINE).GiveBack();
            }
            delete shape;
            return;
        }
        if (kind != SHAPE_DOCPARAM) {
            shape->SetCaption(CString(shape->m_wstrCaption.c_str()));
        }
        RestoreShape(kind, shape);
        MendControl(shape);
        // A point shape whose point is not a number has nothing to mark: it
        // is not taken in (it would reach the scanner).
        if (kind == SHAPE_POINTS && !FinitePoint(static_cast<CPoints*>(shape)->pointf)) {
            if (shape->GetCountNum() > 0) ShapeCounterOf(SHAPE_POINTS).GiveBack();
            delete shape;
            continue;
        }
        m_pShapes->push_back(shape);
        IndexListed(std::prev(m_pShapes->end()));
    }
    m_bReadComplete = file->IsGood();
}

bool CVonnSriShapeList::LoadList(const wchar_t* path) {
    m_bReadComplete = false;
    bool extended = false;
    if (m_pShapes == nullptr || !IsShapeListPath(path, extended)) return false;
    SriFile file(path, false);
    Read(extended, &file);
    return m_bReadComplete;
}

bool CVonnSriShapeList::LoadFileFromMem(const char* data, uint32_t size, bool extended, const char*) {
    m_bReadComplete = false;
    if (m_pShapes == nullptr || data == nullptr) return false;
    SriFile file(data, size);
    Read(extended, &file);
    return m_bReadComplete;
}
