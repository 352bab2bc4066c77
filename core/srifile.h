// The byte stream that persistent records are written to and read from.
//
// Reading works on a memory image: the whole file is read in when the stream
// is opened for reading, or a caller's block is wrapped as it is. Writing goes
// to a file, or, for a stream built with the default constructor, to a byte
// vector in memory. Integers are little-endian whatever the host.
//
// The state only ever goes from good (0) to failed (3): a file that cannot be
// opened, an empty file, a read past the end or a failed write set it, and a
// failed stream reads nothing more.
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

class SafeSave;

class MORVIK_API SriFile {
public:
    static constexpr int kStateGood = 0;
    static constexpr int kStateFailed = 3;
    static constexpr size_t kScratchSize = 1024;

    // A writer that collects the written bytes in memory (GetWrittenBytes).
    SriFile();
    // save false: reads the whole file into memory; a file that cannot be
    // opened, is not a regular file or is empty leaves the state failed.
    // save true: writes to a temporary file beside the target, which Close
    // puts in the target's place once it is whole on disk; until then, and
    // after any failure, the old file stays as it was.
    // The wide path is converted to UTF-8.
    SriFile(const wchar_t* path, bool save);
    // Wraps a caller's block for reading; the block stays the caller's and
    // must outlive the stream.
    SriFile(const void* data, size_t size);
    ~SriFile();

    SriFile(const SriFile&) = delete;
    SriFile& operator=(const SriFile&) = delete;

    // ---- writing ----------------------------------------------------------
    // A write to a stream that has nowhere to write (a reader, or a file that
    // could not be opened) or that fails on the way fails the stream.
    void WriteLong(int32_t value);
    void WriteBytes(const void* data, size_t count);
    // Finishes a file being written: the new file replaces the old one when
    // every byte reached the disk; false (and the state failed, the old
    // file untouched) otherwise. A stream destroyed without Close leaves
    // the old file too.
    bool Close();
    // The bytes collected by a memory writer (empty for other streams).
    const std::vector<uint8_t>& GetWrittenBytes() const { return m_written; }

    // ---- reading ----------------------------------------------------------
    // Reads 4 bytes; on failure the value is left as it was.
    bool ReadLong(int32_t& value);
    // Copies count bytes at the cursor and advances it. With fewer bytes left
    // nothing is copied and the state becomes failed.
    bool ReadBytes(void* dest, size_t count);
    // As ReadBytes, but hands out a pointer into the image instead of copying
    // (valid while the stream lives); nullptr on failure.
    const uint8_t* ReadSpan(size_t count);
    // Advances the cursor; past the end it fails as ReadBytes does.
    bool Skip(size_t count);
    size_t Remaining() const { return m_nSize - m_nCursor; }
    size_t GetPosition() const { return m_nCursor; }
    size_t GetSize() const { return m_nSize; }

    int GetState() const { return m_nState; }
    bool IsGood() const { return m_nState == kStateGood; }
    void SetFailed() { m_nState = kStateFailed; }
    bool IsCallerOwned() const { return m_bCallerOwned; }

private:
    enum class Sink { None, File, Memory };

    std::unique_ptr<SafeSave> m_save;
    int m_nState = kStateGood;
    std::unique_ptr<char[]> m_pBuffer;  // scratch space, zeroed
    size_t m_nBufferSize = 0;
    size_t m_nSize = 0;                 // bytes in the memory image
    bool m_bCallerOwned = false;
    const uint8_t* m_pData = nullptr;   // the memory image
    std::unique_ptr<uint8_t[]> m_ownedImage;
    size_t m_nCursor = 0;
    Sink m_sink = Sink::None;
    std::vector<uint8_t> m_written;
};

#include "morvik/afx/macros_restore.inc"
