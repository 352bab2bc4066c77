#include "morvik/core/srifile.h"

#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "morvik/win32/safesave.h"
#include "morvik/win32/windows.h"

namespace {

std::unique_ptr<char[]> NewScratch() { return std::unique_ptr<char[]>(new char[SriFile::kScratchSize]()); }

}  // namespace

SriFile::SriFile() : m_pBuffer(NewScratch()), m_nBufferSize(kScratchSize), m_sink(Sink::Memory) {}

SriFile::SriFile(const void* data, size_t size)
    : m_pBuffer(NewScratch()),
      m_nBufferSize(kScratchSize),
      m_nSize(data ? size : 0),
      m_bCallerOwned(true),
      m_pData(static_cast<const uint8_t*>(data)) {}

SriFile::SriFile(const wchar_t* path, bool save) : m_pBuffer(NewScratch()), m_nBufferSize(kScratchSize) {
    if (!path || !*path) {
        m_nState = kStateFailed;
        return;
    }
    const std::string utf8 = WidePathToUtf8(path);
    if (save) {
        // The bytes go to a temporary file that replaces the old one only
        // when Close finds it whole on disk.
        m_save = std::make_unique<SafeSave>(utf8);
        if (m_save->IsOpen())
            m_sink = Sink::File;
        else
            m_nState = kStateFailed;
        return;
    }

    // Reading: only regular files (a directory or a device has no size to
    // take), read whole into the image.
    std::error_code ec;
    const std::filesystem::path fsPath(utf8);
    if (!std::filesystem::is_regular_file(fsPath, ec)) {
        m_nState = kStateFailed;
        return;
    }
    std::ifstream in(fsPath, std::ios::binary | std::ios::in);
    if (!in.is_open()) {
        m_nState = kStateFailed;
        return;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end <= 0) {
        m_nState = kStateFailed;
        return;
    }
    const size_t size = static_cast<size_t>(end);
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[size]);
    if (!image) {
        m_nState = kStateFailed;
        return;
    }
    in.seekg(0, std::ios::beg);
    in.read(reinterpret_cast<char*>(image.get()), static_cast<std::streamsize>(size));
    if (static_cast<size_t>(in.gcount()) != size) {
        m_nState = kStateFailed;
        return;
    }
    m_ownedImage = std::move(image);
    m_pData = m_ownedImage.get();
    m_nSize = size;
    m_nCursor = 0;
}

SriFile::~SriFile() = default;

void SriFile::WriteLong(int32_t value) {
    const uint32_t u = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                              static_cast<uint8_t>(u >> 24)};
    WriteBytes(bytes, sizeof bytes);
}

void SriFile::WriteBytes(const void* data, size_t count) {
    if (count == 0) return;
    if (!data) {
        m_nState = kStateFailed;
        return;
    }
    switch (m_sink) {
        case Sink::Memory: {
            const uint8_t* p = static_cast<const uint8_t*>(data);
            m_written.insert(m_written.end(), p, p + count);
            break;
        }
        case Sink::File:
            if (!m_save->Write(data, count)) m_nState = kStateFailed;
            break;
        case Sink::None:
            m_nState = kStateFailed;
            break;
    }
}

bool SriFile::Close() {
    if (m_sink == Sink::File) {
        // A stream that failed on the way keeps the old file.
        if (m_nState != kStateGood || !m_save->Commit()) m_nState = kStateFailed;
        m_save.reset();
        m_sink = Sink::None;
    }
    return m_nState == kStateGood;
}

bool SriFile::ReadLong(int32_t& value) {
    uint8_t b[4];
    if (!ReadBytes(b, sizeof b)) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                 (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24));
    return true;
}

const uint8_t* SriFile::ReadSpan(size_t count) {
    if (m_nState != kStateGood) return nullptr;
    if (count > Remaining()) {
        m_nState = kStateFailed;
        return nullptr;
    }
    // An empty span of an empty image still needs a non-null answer.
    static const uint8_t kNothing = 0;
    const uint8_t* p = m_pData ? m_pData + m_nCursor : &kNothing;
    m_nCursor += count;
    return p;
}

bool SriFile::ReadBytes(void* dest, size_t count) {
    if (count > 0 && !dest) {
        m_nState = kStateFailed;
        return false;
    }
    const uint8_t* p = ReadSpan(count);
    if (!p) return false;
    if (count > 0) std::memcpy(dest, p, count);
    return true;
}

bool SriFile::Skip(size_t count) { return ReadSpan(count) != nullptr; }
