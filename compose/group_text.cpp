// The outline text reader of the group: a line-oriented list of pen moves in
// hundredths of a drawing unit becomes a group of polylines.
//
//   moveabs:   starts a new polyline; point lines are absolute from here on
//   linerel:   point lines are relative from here on
//   x,y[,..]   a point line (integers; an empty field counts as 0)
#include <climits>
#include <cwchar>
#include <string>

#include "morvik/compose/group.h"
#include "morvik/core/polyline.h"
#include "morvik/core/text_utils.h"

namespace {

// An integer field the way a C conversion reads it: leading blanks, a sign
// and digits; anything else ends it, no digits give 0. Values beyond the int
// range are held at its ends.
long long FieldToInt(const std::wstring& s, size_t begin, size_t end) {
    size_t i = begin;
    while (i < end && (s[i] == L' ' || s[i] == L'\t')) ++i;
    bool negative = false;
    if (i < end && (s[i] == L'+' || s[i] == L'-')) negative = s[i++] == L'-';
    long long v = 0;
    for (; i < end && s[i] >= L'0' && s[i] <= L'9'; ++i) {
        if (v < INT_MAX) v = v * 10 + (s[i] - L'0');
    }
    if (v > INT_MAX) v = INT_MAX;
    return negative ? -v : v;
}

bool IsBlankLine(const std::wstring& s, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        if (s[i] != L' ' && s[i] != L'\t' && s[i] != L'\r') return false;
    }
    return true;
}

// Appends the current polyline to the group when it has points; an empty one
// is dropped.
void Finish(CGroupShape& group, CPolyLine*& line) {
    if (!line) return;
    if (line->arrPoint.empty()) {
        delete line;
        CPolyLine::MinusCountNum();
    } else {
        group.GetChildren().push_back(line);
    }
    line = nullptr;
}

}  // namespace

CGroupShape* CGroupShape::ParserTextFile(CIniFile& file, const CString& /*path*/) {
    CString content;
    if (!file.ReadAnsiTextFile(content)) return nullptr;
    const std::wstring text = content.GetString();

    auto* group = new CGroupShape();
    CPolyLine* line = nullptr;
    bool relative = false;
    // The current point starts at the origin for every file, so one file's
    // result never depends on what was read before it.
    double curX = 0.0;
    double curY = 0.0;

    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L'\n', pos);
        const size_t next = end == std::wstring::npos ? text.size() : end + 1;
        if (end == std::wstring::npos) end = text.size();
        size_t stop = end;
        if (stop > pos && text[stop - 1] == L'\r') --stop;

        const std::wstring_view view(text.data() + pos, stop - pos);
        if (view.find(L"moveabs:") != std::wstring_view::npos) {
            Finish(*group, line);
            line = new CPolyLine();
            relative = false;
        } else if (view.find(L"linerel:") != std::wstring_view::npos) {
            relative = true;
        } else if (!IsBlankLine(text, pos, stop)) {
            const size_t comma = view.find(L',');
            const size_t xEnd = comma == std::wstring_view::npos ? stop : pos + comma;
            long long x = FieldToInt(text, pos, xEnd);
            long long y = 0;
            if (comma != std::wstring_view::npos) {
                const size_t comma2 = view.find(L',', comma + 1);
                const size_t yEnd = comma2 == std::wstring_view::npos ? stop : pos + comma2;
                y = FieldToInt(text, xEnd + 1, yEnd);
            }
            if (relative) {
                curX += static_cast<double>(x) / 100.0;
                curY += static_cast<double>(y) / 100.0;
            } else {
                // Hundredths are kept: cutting to whole units would move
                // points by up to one unit.
                curX = static_cast<double>(x) / 100.0;
                curY = static_cast<double>(y) / 100.0;
            }
            if (line) line->arrPoint.push_back({static_cast<float>(curX), static_cast<float>(curY)});
        }
        pos = next;
    }
    Finish(*group, line);

    if (group->GetChildren().empty()) {
        delete group;
        return nullptr;
    }
    Gdiplus::RectF rect;
    group->GetRectangle(rect);
    return group;
}
