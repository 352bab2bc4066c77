// CVonnSriShapeList: reads and writes a list of shapes as a shape-list file
// (".orz" plain, "orzx" extended) or from the same bytes in memory.
//
// File layout, all integers 32-bit little-endian:
//   header  12 (plain) or 60 (extended)
//   count   number of shape records
//   records per shape: its kind, then its registered properties as
//           SriBase::Save writes them (a length-prefixed record, so a record
//           of a kind this reader does not know is skipped whole)
//
// Children are not nested in their parents: each child is a record of its
// own, before its parent, carrying the parent's GUID (SaveShapeChild builds
// such a list). On reading, a group or compound shape adopts every shape read
// before it whose parent GUID is its own GUID; the reader keeps the listed
// shapes indexed by parent, so adoption costs what it adopts.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

#include "morvik/halder/baseshape.h"

class SriFile;

class MORVIK_API CVonnSriShapeList : public CBaseShape {
public:
    static constexpr int32_t kHeaderPlain = 12;
    static constexpr int32_t kHeaderExtended = 60;

    // Works on the caller's list, which stays the caller's. A null list makes
    // every operation a no-op.
    explicit CVonnSriShapeList(std::list<CBaseShape*>* shapes);
    ~CVonnSriShapeList() override;
    CVonnSriShapeList(const CVonnSriShapeList&) = delete;
    CVonnSriShapeList& operator=(const CVonnSriShapeList&) = delete;

    // Writes the header, the count and one record per shape of the list (null
    // entries are left out of both).
    void Save(bool extended, SriFile* file) override;
    // Reads records and appends the shapes to the list. The header decides
    // between plain and extended. Reading stops at the first record that
    // cannot be read whole; the shapes completed before it stay in the list.
    void Read(bool extended, SriFile* file) override;

    // Writes the list to a file, always in the extended form. False when the
    // file could not be written completely.
    bool SaveList(const wchar_t* path);
    // Reads a file whose path ends in ".orz" or "orzx" (compared without
    // case). False when the path has neither ending, the file cannot be read,
    // or the file is not a shape list or is damaged (the shapes read before
    // the damage are still appended).
    bool LoadList(const wchar_t* path);
    // Reads a shape list from a caller's block, which stays the caller's.
    // False as for LoadList.
    bool LoadFileFromMem(const char* data, uint32_t size, bool extended, const char* unused = nullptr);

    // True when the path ends in ".orz" or "orzx" (without case); extended
    // then tells which.
    static bool IsShapeListPath(const wchar_t* path, bool& extended);

    // The size of the list when this object was built.
    size_t GetCount() const { return m_nCount; }
    // The outcome of the last Read: true when the header was valid and every
    // counted record was read whole.
    bool LastReadComplete() const { return m_bReadComplete; }

private:
    // A new shape of the given kind; unknown kinds (and the kinds whose
    // classes this library does not have) become plain base shapes.
    static CBaseShape* CreateShapeOfKind(int32_t kind);
    // Brings a freshly read shape's working data back from its saved copies
    // and lets a container adopt its children from the list.
    void RestoreShape(int32_t kind, CBaseShape* shape);
    // Moves every listed shape whose parent GUID is the container's GUID into
    // the container's children, in list order.
    void AdoptChildren(CBaseShape* container, bool skipFills = false);
    // Takes the listed shapes whose parent GUID is id out of the list, in
    // list order; keep (when given) leaves a shape where it is.
    template <class Keep>
    std::vector<CBaseShape*> TakeChildrenOf(const GUID& id, const CBaseShape* self, Keep keep);

    // The listed shapes by the GUID of their parent, in list order, while a
    // Read runs: adoption looks up a parent's children instead of scanning
    // everything read so far, so reading stays linear in the file.
    struct GuidHash {
        size_t operator()(const GUID& id) const;
    };
    using ListPos = std::list<CBaseShape*>::iterator;
    void IndexListed(ListPos pos);
    std::unordered_map<GUID, std::vector<ListPos>, GuidHash> m_byParent;

    std::list<CBaseShape*>* m_pShapes = nullptr;
    size_t m_nCount = 0;
    bool m_bReadComplete = false;
};
