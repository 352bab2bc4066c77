// Sample host part: a serial-numbered text marked three times, the way a
// marking loop runs a pass over a variable text. Writes into the output
// folder:
//   vartext_markdata.txt  the three pieces' texts and pen-tagged polylines
//   vartext_history.txt   the history of marked texts (one line per piece)
#include <cstdio>
#include <memory>
#include <string>

#include "morvik/core/markdata.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/textelement.h"
#include "morvik/text/fonts.h"
#include "morvik/text/vartext.h"
#include "demo_parts.h"

bool DemoVarText(const std::string& dir) {
    CBaseDoc doc;
    CBaseView view(&doc);
    auto* text = new CFonts();
    text->SetDocView(&doc, &view);
    doc.AddShape(text);
    if (text->InitFontsPath({-20.0f, 0.0f}, CString(L"SN"), CString(L"DejaVu Sans"), false) == 0) return false;

    auto prefix = std::make_shared<TEXT_ELEMENT>();
    prefix->m_strText = L"SN-";
    auto serial = std::make_shared<TEXT_SN_PAR>();
    serial->nStart = serial->nCurrent = 41;
    serial->nStep = 2;
    serial->nWidth = 4;
    TextContent content(text);
    content.vartext.bEnable = 1;
    content.vartext.arrElements = {prefix, serial};
    if (content.Apply(text, content.text, 1, false) == 0) return false;

    CString history((dir + "/vartext_history.txt").c_str());
    std::remove((dir + "/vartext_history.txt").c_str());
    text->SetTxtOutPara(1, 0, 0, 0, CTime(), history);

    const std::string path = dir + "/vartext_markdata.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = true;
    std::string pieces;
    tagMarkCtlData ctl;
    text->PrepareBeforeMark(ctl, 0);
    for (int piece = 0; piece < 3; ++piece) {
        const CStringA marked(text->GetText());
        tagMarkDataPar data;
        ok = text->GetMarkData(data, &ctl) && !data.arrPaths.empty() && ok;
        std::fprintf(f, "piece %d text %s\n", piece + 1, marked.GetString());
        pieces += pieces.empty() ? "" : ", ";
        pieces += marked.GetString();
        for (const tagPathData& pd : data.arrPaths) {
            std::fprintf(f, "  pen %d: %zu polyline(s)\n", pd.nPenIndex, pd.arrPolylines.size());
            for (const auto& line : pd.arrPolylines) {
                std::fprintf(f, "   ");
                for (const tagPOINTF& p : line) std::fprintf(f, " (%.3f %.3f)", p.x, p.y);
                std::fprintf(f, "\n");
            }
        }
    }
    text->CleanupAfterMark(0, 3, ctl);
    ok = std::fclose(f) == 0 && ok;
    std::printf("variable text: marked %s; next piece %s\n", pieces.c_str(), CStringA(text->GetText()).GetString());
    return ok;
}
