// The library's exported whole-file helpers and start-up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "morvik/afx/cobject.h"
#include "morvik/core/morvik.h"
#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;

struct HostGuard {
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    HostGuard() { SetHost(host); }
    ~HostGuard() { SetHost(nullptr); }
};

}  // namespace

TEST(Exports, LibraryLoadStartedGdiplus) { EXPECT_TRUE(Gdiplus::GdiplusIsRunning()); }

TEST(Exports, CodebarInstanceIsOneObject) {
    EXPECT_NE(GetCodebarInstance(), nullptr);
    EXPECT_EQ(GetCodebarInstance(), GetCodebarInstance());
}

TEST(Exports, InitReturnsALinkObject) { EXPECT_NE(InitMorvikDLL(), nullptr); }

TEST(Exports, EmptyFileReadsAsOneZeroByte) {
    TempDir dir;
    std::string path = dir.File("empty.bin");
    std::fclose(std::fopen(path.c_str(), "wb"));
    void* buf = nullptr;
    DWORD size = 123;
    std::wstring wpath = Utf8ToWide(path);
    ASSERT_TRUE(ReadFileW(wpath.c_str(), &buf, &size));
    EXPECT_EQ(size, 0u);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(static_cast<char*>(buf)[0], 0);
    delete[] static_cast<char*>(buf);
}

TEST(Exports, BinaryRoundTripKeepsEveryByte) {
    TempDir dir;
    std::string path = dir.File("data \u00e9.bin");
    std::string data("a\0b\xff\x00z", 6);
    ASSERT_TRUE(WriteFileA(path.c_str(), data.data(), static_cast<DWORD>(data.size())));
    void* buf = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(ReadFileA(path.c_str(), &buf, &size));
    ASSERT_EQ(size, data.size());
    EXPECT_EQ(std::memcmp(buf, data.data(), size), 0);
    EXPECT_EQ(static_cast<char*>(buf)[size], 0);
    delete[] static_cast<char*>(buf);
}

TEST(Exports, MissingFileFailsWithMessageAndUntouchedOutputs) {
    HostGuard guard;
    TempDir dir;
    std::string path = dir.File("missing.bin");
    void* buf = reinterpret_cast<void*>(0x1);
    DWORD size = 77;
    EXPECT_FALSE(ReadFileA(path.c_str(), &buf, &size));
    EXPECT_EQ(buf, reinterpret_cast<void*>(0x1));
    EXPECT_EQ(size, 77u);
    std::wstring wpath = Utf8ToWide(path);
    EXPECT_FALSE(ReadFileW(wpath.c_str(), &buf, &size));

    auto boxes = guard.host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"Func ReadFileA, Open File:" + wpath + L" Fail,Errcode=2");
    EXPECT_EQ(boxes[0].caption, L"Error");
    EXPECT_EQ(boxes[0].type, MB_OK);
    EXPECT_EQ(boxes[1].text, L"Func ReadFileW, Open File Fail,Errcode=2");
}

TEST(Exports, WriteIntoMissingFolderFails) {
    HostGuard guard;
    TempDir dir;
    std::string path = dir.File("no/such/dir/x.bin");
    char byte = 1;
    EXPECT_FALSE(WriteFileA(path.c_str(), &byte, 1));
    std::wstring wpath = Utf8ToWide(path);
    EXPECT_FALSE(WriteFileW(wpath.c_str(), &byte, 1));
    auto boxes = guard.host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    std::wstring prefixA = L"Func WriteFileA, Open File:" + wpath + L" Fail,Errcode=";
    std::wstring prefixW = L"Func WriteFileW, Open File Fail,Errcode=";
    EXPECT_EQ(boxes[0].text.substr(0, prefixA.size()), prefixA);
    EXPECT_EQ(boxes[1].text.substr(0, prefixW.size()), prefixW);
    EXPECT_GT(boxes[1].text.size(), prefixW.size()) << "the error code follows";
}

TEST(Exports, ReadRefusesWhatIsNoRegularFileAtOnce) {
    HostGuard guard;
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Held open for writing and never written: a read would wait for ever.
    const int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> paths = {"/dev/zero", "/dev/urandom", fifo, dir.Dir()};
    for (const std::string& path : paths) {
        void* buf = reinterpret_cast<void*>(0x1);
        DWORD size = 77;
        EXPECT_FALSE(ReadFileA(path.c_str(), &buf, &size)) << path;
        EXPECT_FALSE(ReadFileW(Utf8ToWide(path).c_str(), &buf, &size)) << path;
        EXPECT_EQ(buf, reinterpret_cast<void*>(0x1));
        EXPECT_EQ(size, 77u);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    close(writer);
    // Each refusal is told as an open that failed, access denied.
    const auto boxes = guard.host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 2 * paths.size());
    for (const auto& box : boxes) EXPECT_EQ(box.text.substr(box.text.size() - 10), L",Errcode=5") << box.text;
}

TEST(Exports, FullDiskIsAFailure) {
    // /dev/full accepts the open and refuses every byte.
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    char data[64] = {};
    EXPECT_FALSE(WriteFileA("/dev/full", data, sizeof data));
}

TEST(Exports, NullArgumentsFailCleanly) {
    void* buf = nullptr;
    DWORD size = 0;
    EXPECT_FALSE(ReadFileA(nullptr, &buf, &size));
    EXPECT_FALSE(ReadFileW(L"/tmp/x", nullptr, &size));
    EXPECT_FALSE(WriteFileW(nullptr, nullptr, 0));
}
