// The PLT entry of the group: a new group in line mode filled by the PLT
// reader.
#include "morvik/compose/group.h"
#include "morvik/import/plt.h"

CGroupShape* CGroupShape::ParserPltFile(const CString& path) {
    CGroupShape* group = new CGroupShape();
    if (!CParsePlt::GetInstance()->ParserPltFile(path, group)) {
        // The reader stays for the next call; nothing of the group is left.
        delete group;
        return nullptr;
    }
    // The caption is the file's name with its extension, whichever separator
    // the path uses.
    const int slash = path.ReverseFind(L'/');
    const int backslash = path.ReverseFind(L'\\');
    const int cut = slash > backslash ? slash : backslash;
    group->SetCaption(path.Mid(cut + 1));
    group->strFilename = path.GetString();
    CParsePlt::Clear();
    return group;
}
