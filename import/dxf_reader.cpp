// Loading a DXF file, its sections, the version table and the two-thread
// reading of large files.
#include "morvik/import/dxf_reader.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <thread>
#include <type_traits>

#include <sys/mman.h>
#include <sys/stat.h>

#include "morvik/afx/message_box.h"
#include "morvik/core/runlog.h"
#include "morvik/core/text_utils.h"
#include "morvik/halder/lang.h"

namespace {

// The memory a file is read into. A large image gets its pages mapped in
// one go before the read fills them, instead of one page fault at a time
// as the read reaches them; a small one comes from the heap.
class FileImage {
public:
    explicit FileImage(size_t size) : m_size(size) {
        if (size >= kMapped) {
            void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
            m_data = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
        } else {
            m_data = new (std::nothrow) char[size];
        }
    }
    ~FileImage() {
        if (m_data == nullptr) return;
        if (m_size >= kMapped)
            munmap(m_data, m_size);
        else
            delete[] m_data;
    }
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;
    explicit operator bool() const { return m_data != nullptr; }
    char* get() const { return m_data; }

private:
    static constexpr size_t kMapped = size_t{1} << 20;
    char* m_data = nullptr;
    size_t m_size = 0;
};

}  // namespace

struct CParserDxfFile::ThreadArg {
    CParserDxfFile* self;
    MYFILE file;
};

CParserDxfFile::CParserDxfFile() = default;

CParserDxfFile::~CParserDxfFile() {
    // ParserDxf always joins its threads before it returns; a thread that
    // were still recorded would be using this object, so it is waited for.
    for (HANDLE* h : {&m_pEntitiesThread, &m_pBlocksThread}) {
        if (*h) {
            WaitForSingleObject(*h, INFINITE);
            CloseHandle(*h);
            *h = nullptr;
        }
    }
}

bool CParserDxfFile::Keeps(bool modelSpace, bool visible) const {
    if (!visible) return false;
    return (m_nSpaceMask & (modelSpace ? 1 : 2)) != 0;
}

int CParserDxfFile::OpenDxfFile(const char* path, FILE* /*file*/) {
    if (!path) return 0;
    std::string p(path);
    const size_t cut = p.find_last_of("/\\");
    m_strFileName = Utf8ToWide(cut == std::string::npos ? p : p.substr(cut + 1));
    m_bUtf8 = false;
    int encoding = DetectTextFileEncoding(path);
    if (encoding == 0) encoding = DetectTextFileEncoding(path);
    m_nEncoding = encoding;
    if (encoding == 0 || encoding == TEXT_ENCODING_UNKNOWN) {
        AfxMessageBox(CLang::Instance()->GetString("IDS_DXF_AREADY_OPENED"));
        return 0;
    }
    if (encoding == TEXT_ENCODING_UTF16LE || encoding == TEXT_ENCODING_UTF16BE) {
        AfxMessageBox(CLang::Instance()->GetString("IDS_UNSUPPORT_DXF_UNICODE_FORMAT"));
        return 0;
    }
    m_bUtf8 = encoding == TEXT_ENCODING_UTF8;
    FILE* f = std::fopen(path, "r");
    if (!f) return 0;
    std::fclose(f);
    return 1;
}

int CParserDxfFile::ParserDxf(const char* path) {
    if (!path) return 0;
    std::string p(path);
    const size_t cut = p.find_last_of("/\\");
    m_strFileName = Utf8ToWide(cut == std::string::npos ? p : p.substr(cut + 1));

    // The file is read once: its encoding is judged on the bytes read.
    const auto refuse = [](const char* message) {
        AfxMessageBox(CLang::Instance()->GetString(message));
        return 0;
    };
    m_nEncoding = TEXT_ENCODING_UNKNOWN;
    FILE* f = std::fopen(path, "rb");
    struct stat st {};
    // Directories and devices count as files that cannot be opened.
    if (!f || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (f) std::fclose(f);
        return refuse("IDS_DXF_AREADY_OPENED");
    }
    long long size = -1;
    if (fseeko(f, 0, SEEK_END) == 0) size = static_cast<long long>(ftello(f));
    if (size >= 0 && size < 3) {
        std::fclose(f);
        return refuse("IDS_DXF_AREADY_OPENED");
    }
    // The image is indexed with int cursors: larger files are refused.
    if (size < 0 || size >= INT_MAX || fseeko(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return 0;
    }
    FileImage buffer(static_cast<size_t>(size) + 1);
    if (!buffer) {
        std::fclose(f);
        return 0;
    }
    const size_t got = std::fread(buffer.get(), 1, static_cast<size_t>(size), f);
    std::fclose(f);
    if (got != static_cast<size_t>(size)) return 0;
    buffer.get()[static_cast<size_t>(size)] = 0;

    const int encoding =
        DetectTextEncoding(reinterpret_cast<const unsigned char*>(buffer.get()), static_cast<size_t>(size));
    m_nEncoding = encoding;
    if (encoding == TEXT_ENCODING_UNKNOWN) return refuse("IDS_DXF_AREADY_OPENED");
    if (encoding == TEXT_ENCODING_UTF16LE || encoding == TEXT_ENCODING_UTF16BE)
        return refuse("IDS_UNSUPPORT_DXF_UNICODE_FORMAT");
    m_bUtf8 = encoding == TEXT_ENCODING_UTF8;
    m_nFileSize = static_cast<int>(size);

    MYFILE image;
    image.pBuffer = buffer.get();
    image.nSize = static_cast<int>(size);
    // A UTF-8 byte-order mark is not part of the first code line.
    if (size >= 3 && std::memcmp(buffer.get(), "\xEF\xBB\xBF", 3) == 0) image.nPos = 3;
    // A file without a single section (or end marker) is not a drawing:
    // random bytes or a file of another kind fail instead of giving an empty
    // drawing.
    MYFILE probe = image;
    MYFILE probeEnd = image;
    if (!LocateWord(&probe, "SECTION", 0) && !LocateWord(&probeEnd, "EOF", 0)) {
        RunLog::Instance(nullptr)->WriteFormat(L"DXF: %s: no section found; not a DXF file",
                                               m_strFileName.c_str());
        return 0;
    }
    m_vecOpenBlocks.clear();
    m_mapBlockDef.clear();
    m_pReadingBlock = nullptr;
    m_placed = 0;
    m_nPlacedHere = 0;
    m_bPlacementLimitReached = false;
    m_bReadFailed = false;

    try {
        if (!IsLargeMode()) {
            // The blocks are recorded first, as large mode does, so that an
            // INSERT finds its block wherever the BLOCKS section stands.
            MYFILE blocks = image;
            if (LocateSection(&blocks, "BLOCKS")) RecordBlockPos(&blocks);
            int code = 0;
            CString value;
            while (ReadGroupPair(&image, code, value, false)) {
                if (code != 0) continue;
                if (value == L"SECTION")
                    ParserSection(&image);
                else if (value == L"EOF")
                    break;
            }
        } else {
            ReadLarge(image);
        }
    } catch (const std::exception&) {
        // Out of memory while building records: whatever was completed stays.
        RunLog::Instance(nullptr)->Write(L"DXF: out of memory while reading the file");
        m_mapBlockDef.clear();
        return 0;
    }
    // The blocks are read for this file only.
    m_mapBlockDef.clear();
    if (m_bReadFailed) {
        RunLog::Instance(nullptr)->Write(L"DXF: out of memory while reading the file");
        return 0;
    }
    // Blocks that would place more records than the limit: the drawing is
    // incomplete, which is a failure.
    if (m_bPlacementLimitReached) {
        RunLog::Instance(nullptr)->WriteFormat(
            L"DXF: %s: block placements pass the limit of %lld records; the drawing is incomplete",
            m_strFileName.c_str(), static_cast<long long>(m_nPlacementLimit));
        return 0;
    }
    return 1;
}

// ---- sections --------------------------------------------------------------

void CParserDxfFile::ParserSection(MYFILE* file) {
    int code = 0;
    CString name;
    if (!ReadGroupPair(file, code, name, false) || code != 2) return;
    if (name == L"HEADER")
        ParserHeader(file);
    else if (name == L"CLASSES")
        ParserClasses(file);
    else if (name == L"TABLES")
        ParserTables(file);
    else if (name == L"BLOCKS")
        RecordBlockPos(file);
    else if (name == L"ENTITIES")
        ParserEntities(file);
    else if (name == L"OBJECTS")
        ParserObjects(file);
}

void CParserDxfFile::ParserHeader(MYFILE* file) {
    int code = 0;
    CString value;
    while (ReadGroupPair(file, code, value, false)) {
        if (code == 0 && value == L"ENDSEC") return;
        if (code == 9 && !ReadGroupPair(file, code, value, false)) return;
    }
}

void CParserDxfFile::ParserClasses(MYFILE* file) {
    int code = 0;
    CString value;
    while (ReadGroupPair(file, code, value, false))
        if (code == 0 && value == L"ENDSEC") return;
}

void CParserDxfFile::ParserObjects(MYFILE* file) { ParserClasses(file); }

void CParserDxfFile::ParserTables(MYFILE* file) {
    int code = 0;
    CString value;
    while (ReadGroupPair(file, code, value, false)) {
        if (code != 0) continue;
        if (value == L"TABLE")
            ParserTable(file);
        else if (value == L"ENDSEC")
            return;
    }
}

void CParserDxfFile::ParserTable(MYFILE* file) {
    int code = 0;
    CString value;
    for (;;) {
        const int before = file->nPos;
        if (!ReadGroupPair(file, code, value, false)) return;
        if (code == 0 && value == L"ENDTAB") return;
        if (code == 0 && value == L"ENDSEC") {
            // A table without its end: let the section reader see the end.
            file->nPos = before;
            return;
        }
        if (code == 2 && value == L"BLOCK_RECORD") {
            // The records' pairs are read up to the next code 0 and its value.
            while (ReadGroupPair(file, code, value, false)) {
                if (code != 0) continue;
                if (value == L"ENDTAB") return;
                break;
            }
        }
    }
}

void CParserDxfFile::ParserLayer(MYFILE* file) {
    tagLayer layer;
    int code = 0;
    CString value;
    while (ReadGroupCode(file, code)) {
        switch (code) {
        case 0:
            m_vecLayer.push_back(layer);
            return;
        case 2:
            ReadGroupValue(file, value, m_bUtf8);
            layer.strLayer = value.GetString();
            break;
        case 70:
            ReadGroupValue(file, value, false);
            layer.nFlags = DxfToInt(value);
            break;
        case 62:
            ReadGroupValue(file, value, false);
            layer.nColor = DxfToInt(value);
            break;
        default:
            ReadGroupValue(file, value, false);
            break;
        }
    }
}

void CParserDxfFile::RecordBlockPos(MYFILE* file) {
    int code = 0;
    CString value;
    while (ReadGroupPair(file, code, value, false)) {
        if (code != 0) continue;
        if (value == L"ENDSEC") return;
        if (value != L"BLOCK") continue;
        const int64_t pos = file->nPos;
        std::wstring name;
        bool found = false;
        for (;;) {
            const int before = file->nPos;
            if (!ReadGroupCode(file, code)) break;
            if (code == 0) {
                // A block header without its group 70: the header ends here.
                file->nPos = before;
                found = !name.empty();
                break;
            }
            ReadGroupValue(file, value, code == 2 && m_bUtf8);
            if (code == 2) name = value.GetString();
            if (code == 70) {
                found = true;
                break;
            }
        }
        if (found) m_mapBlockPos[name] = pos;
    }
}

void CParserDxfFile::ParserEntities(MYFILE* file) {
    // Room taken at once for what the rest of the file can hold: a list that
    // grows copies every record into fresh memory each time it doubles,
    // while room that no record fills is never touched.
    if (file->nPos >= 0 && file->nPos < file->nSize) ReserveRecordsFor(static_cast<size_t>(file->nSize - file->nPos));
    bool ended = false;
    file->nPos = ReadEntityRun(*file, file->nPos, -1, true, ended);
}

void CParserDxfFile::ReserveRecordsFor(size_t bytes) {
    // A line, an arc or a polyline takes some 60 bytes of text at the least.
    constexpr size_t kMinRecordBytes = 48;
    constexpr size_t kMaxListBytes = size_t{32} << 20;
    const auto reserve = [bytes](auto& list) {
        using Rec = typename std::decay_t<decltype(list)>::value_type;
        const size_t room = std::min(bytes / kMinRecordBytes, kMaxListBytes / sizeof(Rec));
        if (list.capacity() - list.size() >= room) return;
        try {
            list.reserve(list.size() + room);
        } catch (const std::bad_alloc&) {
            // Without the room the list grows as it fills.
        }
    };
    reserve(m_vecLine);
    reserve(m_vecArc);
    reserve(m_vecPolyline);
}

int CParserDxfFile::ReadEntityRun(const MYFILE& image, int start, int stop, bool first, bool& ended) {
    MYFILE file = image;
    file.nPos = start;
    ended = true;
    if (first) {
        int code = -1;
        if (!ReadGroupCode(&file, code) || code != 0) return file.nPos;
    }
    // Each entity reader stops right after the code 0 that ends its entity,
    // so the next value is the next entity's name.
    CString name;
    while (file.nPos < file.nSize) {
        if (stop >= 0 && file.nPos >= stop) {
            ended = false;
            return file.nPos;
        }
        ReadGroupValue(&file, name, false);
        if (name == L"ENDSEC") return file.nPos;
        CString blockName;
        ParserEntity(&file, true, tagZoomRotate{}, name, blockName, nullptr);
    }
    return file.nPos;
}

// ---- large files -----------------------------------------------------------

void CParserDxfFile::BuildKmpNext(const char* word, int length, std::vector<int>& next) {
    next.assign(static_cast<size_t>(length > 0 ? length : 1), -1);
    int k = -1;
    for (int i = 1; i < length; ++i) {
        while (k >= 0 && word[k + 1] != word[i]) k = next[static_cast<size_t>(k)];
        if (word[k + 1] == word[i]) ++k;
        next[static_cast<size_t>(i)] = k;
    }
}

int64_t CParserDxfFile::KmpFind(const char* text, int64_t textLength, const char* word, int wordLength,
                                const std::vector<int>& next) {
    if (!text || !word || wordLength <= 0 || static_cast<int>(next.size()) < wordLength) return -1;
    int k = -1;
    for (int64_t i = 0; i < textLength; ++i) {
        while (k >= 0 && word[k + 1] != text[i]) k = next[static_cast<size_t>(k)];
        if (word[k + 1] == text[i]) ++k;
        if (k == wordLength - 1) return i - wordLength + 1;
    }
    return -1;
}

bool CParserDxfFile::LocateWord(MYFILE* file, const char* word, int wanted) {
    const int length = static_cast<int>(std::strlen(word));
    std::vector<int> next;
    BuildKmpNext(word, length, next);
    const char* buf = file->pBuffer;
    int64_t from = 0;
    while (from < file->nSize) {
        const int64_t hit = KmpFind(buf + from, file->nSize - from, word, length, next);
        if (hit < 0) return false;
        const int64_t at = from + hit;
        from = at + 1;
        // Only the word alone on its line counts, after a line holding the
        // group code (2 for a section's name). A text or comment that
        // contains the word does not.
        if (at == 0 || buf[at - 1] != '\n') continue;
        const int64_t end = at + length;
        if (end < file->nSize && buf[end] != '\r' && buf[end] != '\n') continue;
        int64_t codeStart = at - 1;
        while (codeStart > 0 && buf[codeStart - 1] != '\n') --codeStart;
        MYFILE codeLine{buf, static_cast<int>(at), static_cast<int>(codeStart)};
        int code = -1;
        if (!ReadGroupCode(&codeLine, code) || code != wanted) continue;
        file->nPos = static_cast<int>(at);
        CString rest;
        ReadGroupValue(file, rest, false);
        return true;
    }
    return false;
}

DWORD CParserDxfFile::LocateBlocksProc(void* param) {
    auto* arg = static_cast<ThreadArg*>(param);
    try {
        if (LocateSection(&arg->file, "BLOCKS")) arg->self->RecordBlockPos(&arg->file);
    } catch (const std::exception&) {
        arg->self->m_bReadFailed = true;
        return 1;
    }
    return 0;
}

DWORD CParserDxfFile::LocateEntitiesProc(void* param) {
    auto* arg = static_cast<ThreadArg*>(param);
    try {
        if (LocateSection(&arg->file, "ENTITIES")) arg->self->ParserEntitiesInPieces(&arg->file);
    } catch (const std::exception&) {
        arg->self->m_bReadFailed = true;
        return 1;
    }
    return 0;
}

namespace {

// The entities of a large file are read in pieces of about this many bytes
// (more pieces than threads, so that a stretch dense with block placements
// does not hold the others up), by at most this many threads.
constexpr int kPieceBytes = 1 << 20;
constexpr int kMaxPieces = 256;
constexpr unsigned kMaxPieceThreads = 8;

// The line at pos without its line end; next is where the following line
// starts.
std::string_view LineAt(const MYFILE& image, int pos, int& next) {
    const char* start = image.pBuffer + pos;
    const void* nl = std::memchr(start, '\n', static_cast<size_t>(image.nSize - pos));
    const int length = nl ? static_cast<int>(static_cast<const char*>(nl) - start) : image.nSize - pos;
    next = nl ? pos + length + 1 : image.nSize;
    std::string_view line(start, static_cast<size_t>(length));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// A name that can start a piece: an entity's, not one of those that belong
// to the POLYLINE before them.
bool IsPieceEntityName(std::string_view name) {
    if (name.empty() || name[0] < 'A' || name[0] > 'Z' || name == "VERTEX" || name == "SEQEND") return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; });
}

// Where the name of the first likely entity at or after from begins: a line
// holding the group code 0 followed by an entity name (a value line "0" is
// followed by a numeric code line, never by a name). -1 when there is none
// before limit.
int FindEntityStart(const MYFILE& image, int from, int limit) {
    int pos = from;
    if (pos > 0 && image.pBuffer[pos - 1] != '\n') LineAt(image, pos, pos);
    while (pos < limit) {
        int next = 0;
        std::string_view line = LineAt(image, pos, next);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        int after = 0;
        if (line == "0" && next < image.nSize && IsPieceEntityName(LineAt(image, next, after))) return next;
        pos = next;
    }
    return -1;
}

}  // namespace

void CParserDxfFile::ParserEntitiesInPieces(MYFILE* file) {
    // Every block is recorded, and then read, before the pieces start: they
    // share the blocks without writing to them.
    if (m_pBlocksThread) WaitForSingleObject(m_pBlocksThread, INFINITE);
    const MYFILE image = *file;
    const int start = file->nPos;
    // The section's likely end, only to share it out.
    const char* endsec = static_cast<const char*>(
        memmem(image.pBuffer + start, static_cast<size_t>(image.nSize - start), "\nENDSEC", 7));
    const int end = endsec ? static_cast<int>(endsec - image.pBuffer) : image.nSize;
    const int count = std::clamp((end - start) / kPieceBytes, 1, kMaxPieces);
    std::vector<int> starts{start};
    for (int k = 1; k < count; ++k) {
        const int at = FindEntityStart(image, start + static_cast<int>(int64_t{end - start} * k / count), end);
        if (at > starts.back()) starts.push_back(at);
    }
    if (starts.size() < 2) {
        ParserEntities(file);
        return;
    }
    for (const auto& [name, pos] : m_mapBlockPos) FindBlock(name, &image);

    // Every piece is read by a reader of its own, which shares the blocks
    // and the count of placed records with this one.
    struct Piece {
        std::unique_ptr<CParserDxfFile> reader;
        int end = 0;
        bool ended = false;
    };
    std::vector<Piece> pieces(starts.size());
    for (Piece& piece : pieces) {
        piece.reader = std::make_unique<CParserDxfFile>();
        CParserDxfFile& reader = *piece.reader;
        reader.m_bUtf8 = m_bUtf8;
        reader.m_nSpaceMask = m_nSpaceMask;
        reader.m_nPlacementLimit = m_nPlacementLimit;
        reader.m_pPlaced = &m_placed;
        reader.m_pSharedBlocks = &m_mapBlockDef;
    }
    const auto stopOf = [&starts](size_t k) { return k + 1 < starts.size() ? starts[k + 1] : -1; };
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t k = next++; k < pieces.size(); k = next++) {
            Piece& piece = pieces[k];
            try {
                piece.end = piece.reader->ReadEntityRun(image, starts[k], stopOf(k), k == 0, piece.ended);
            } catch (const std::exception&) {
                piece.reader->m_bReadFailed = true;
            }
        }
    };
    std::vector<std::thread> threads;
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxPieceThreads);
    for (unsigned t = 1; t < cores; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::exception&) {
            break;  // fewer threads: the others take more pieces
        }
    }
    work();
    for (std::thread& t : threads) t.join();

    // A piece counts when the one before it ended exactly where it starts;
    // otherwise its stretch is read again here, in order.
    std::array<size_t, 13> totals{};
    for (const Piece& piece : pieces) {
        size_t i = 0;
        ForEachList(*piece.reader, [&](auto&, auto& theirs) { totals[i++] += theirs.size(); });
    }
    size_t list = 0;
    ForEachList(*this, [&](auto& mine, auto&) { mine.reserve(mine.size() + totals[list++]); });
    bool ended = false;
    int pos = start;
    for (size_t k = 0; k < pieces.size(); ++k) {
        CParserDxfFile& reader = *pieces[k].reader;
        const bool fits = !ended && pos == starts[k] && !reader.m_bReadFailed;
        if (!fits) m_placed -= reader.m_nPlacedHere;
        if (ended) continue;
        if (fits) {
            AppendRecords(reader);
            m_bPlacementLimitReached = m_bPlacementLimitReached || reader.m_bPlacementLimitReached;
            pos = pieces[k].end;
            ended = pieces[k].ended;
        } else {
            pos = ReadEntityRun(image, pos, stopOf(k), k == 0, ended);
        }
    }
    file->nPos = pos;
}

void CParserDxfFile::AppendRecords(CParserDxfFile& other) {
    ForEachList(other, [](auto& into, auto& from) {
        into.insert(into.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
        from.clear();
    });
}

void CParserDxfFile::ReadLarge(const MYFILE& image) {
    ThreadArg blocks{this, image};
    ThreadArg entities{this, image};
    m_pBlocksThread = CreateThread(nullptr, 0, &LocateBlocksProc, &blocks, CREATE_SUSPENDED, nullptr);
    m_pEntitiesThread = m_pBlocksThread
                            ? CreateThread(nullptr, 0, &LocateEntitiesProc, &entities, CREATE_SUSPENDED, nullptr)
                            : nullptr;
    if (!m_pEntitiesThread) {
        // No threads to be had: the same work on the caller's thread.
        if (m_pBlocksThread) {
            CloseHandle(m_pBlocksThread);  // never resumed, so it never runs
            m_pBlocksThread = nullptr;
        }
        LocateBlocksProc(&blocks);
        LocateEntitiesProc(&entities);
        return;
    }
    ResumeThread(m_pBlocksThread);
    ResumeThread(m_pEntitiesThread);
    // The entity thread waits for the block thread at its first INSERT; both
    // are joined here whatever happened, before the image goes away.
    WaitForSingleObject(m_pEntitiesThread, INFINITE);
    WaitForSingleObject(m_pBlocksThread, INFINITE);
    CloseHandle(m_pEntitiesThread);
    CloseHandle(m_pBlocksThread);
    m_pEntitiesThread = nullptr;
    m_pBlocksThread = nullptr;
}

// ---- versions --------------------------------------------------------------

void CParserDxfFile::initVersionMap() {
    static const struct {
        const char* code;
        const wchar_t* name;
        bool supported;
    } kVersions[] = {
        {"UNKNOW", L"Unknow", false},
        {"MC0.0", L"AutoCAD Rel. 1.1", false},
        {"AC1.2", L"AutoCAD Rel. 1.2", false},
        {"AC1.4", L"AutoCAD Rel. 1.4", false},
        {"AC1.50", L"AutoCAD Rel. 2.0", false},
        {"AC2.10", L"AutoCAD Rel. 2.10", false},
        {"AC1002", L"AutoCAD Rel. 2.5", false},
        {"AC1003", L"AutoCAD Rel. 2.6", false},
        {"AC1004", L"AutoCAD Rel.9", false},
        {"AC1006", L"AutoCAD Rel.10", false},
        {"AC1009", L"AutoCAD Rel.11/12 (or LT R1/R2)", false},
        {"AC1012", L"AutoCAD Rel.13 (or LT95)", false},
        {"AC1014", L"AutoCAD Rel.14, 14.01 (or LT97/LT98)", false},
        {"AC1015", L"AutoCAD 2000/2000i/2002", true},
        {"AC1018", L"AutoCAD 2004/2005/2006", true},
        {"AC1021", L"AutoCAD 2007/2008/2009", true},
        {"AC1024", L"AutoCAD 2010/2011/2012", false},
        {"AC1027", L"AutoCAD 2013/2014/2015/2016/2017", false},
        {"AC1032", L"AutoCAD 2018", false},
    };
    for (const auto& v : kVersions) m_mapVersion[v.code] = {v.supported, v.name};
}

CString CParserDxfFile::GetCADVersionName(const std::string& code) const {
    auto it = m_mapVersion.find(code);
    if (it == m_mapVersion.end()) it = m_mapVersion.find("UNKNOW");
    return it == m_mapVersion.end() ? CString(L"Unknow") : CString(it->second.second);
}

bool CParserDxfFile::isSupportVersion(const std::string& code) const {
    auto it = m_mapVersion.find(code);
    return it != m_mapVersion.end() && it->second.first;
}

CString CParserDxfFile::GetSupportVersion() const { return GetCADVersionName("AC1021"); }
