// Files and the executable's path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "morvik/core/morvik.h"
#include "morvik/win32/windows.h"
#include "support/temp_dir.h"

namespace {

class Win32File : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/win32file-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Path(const std::string& name) const { return dir + "/" + name; }

    bool WriteAll(const std::string& path, const std::string& data, DWORD disposition = CREATE_ALWAYS) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        const BOOL ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
        return CloseHandle(h) && ok && written == data.size();
    }

    std::string ReadAll(const std::string& path) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<open failed>";
        std::string data(GetFileSize(h, nullptr), '\0');
        DWORD read = 0;
        ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
        CloseHandle(h);
        data.resize(read);
        return data;
    }

    std::string dir;
};

TEST_F(Win32File, EmptyFileReadsAsEmpty) {
    const std::string path = Path("empty.bin");
    ASSERT_TRUE(WriteAll(path, ""));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(h, &high), 0u);
    EXPECT_EQ(high, 0u);
    char buf[4] = {'x', 'x', 'x', 'x'};
    DWORD read = 77;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(ReadFile(h, buf, 0, &read, nullptr));
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Win32File, MissingFilesAndFolders) {
    SetLastError(0);
    EXPECT_EQ(CreateFileA(Path("none.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileW(L"/nonexistent-folder-x/none.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // A folder is not a file.
    EXPECT_EQ(CreateFileA(dir.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFileA(Path("x").c_str(), GENERIC_READ, 0, nullptr, 42, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Win32File, DispositionsKeepOrReplaceContent) {
    const std::string path = Path("d.txt");
    ASSERT_TRUE(WriteAll(path, "first content"));
    EXPECT_EQ(ReadAll(path), "first content");

    EXPECT_FALSE(WriteAll(path, "x", CREATE_NEW));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadAll(path), "first content");

    ASSERT_TRUE(WriteAll(path, "FIRST", OPEN_ALWAYS));  // overwrites in place, keeps the rest
    EXPECT_EQ(ReadAll(path), "FIRST content");

    ASSERT_TRUE(WriteAll(path, "new"));  // CREATE_ALWAYS truncates
    EXPECT_EQ(ReadAll(path), "new");

    ASSERT_TRUE(WriteAll(path, "", TRUNCATE_EXISTING));
    EXPECT_EQ(ReadAll(path), "");
    EXPECT_FALSE(WriteAll(Path("absent.txt"), "x", TRUNCATE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // CREATE_ALWAYS and OPEN_ALWAYS tell whether the file was there.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(h);
    h = CreateFileA(Path("fresh.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(h);
}

TEST_F(Win32File, WidePathsAreUtf8OnDisk) {
    const std::wstring wide = Utf8ToWide(dir) + L"/\u6570\u636E\U0001F600.bin";
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const char payload[] = "binary\0data\xFF";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, payload, sizeof payload, &written, nullptr));
    EXPECT_EQ(written, sizeof payload);
    CloseHandle(h);

    struct stat st {};
    ASSERT_EQ(stat((dir + "/\xE6\x95\xB0\xE6\x8D\xAE\xF0\x9F\x98\x80.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(sizeof payload));
    EXPECT_EQ(ReadAll(WidePathToUtf8(wide.c_str())), std::string(payload, sizeof payload));
}

TEST_F(Win32File, AccessModesAndWrongHandles) {
    const std::string path = Path("ro.txt");
    ASSERT_TRUE(WriteAll(path, "abc"));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD n = 5;
    EXPECT_FALSE(WriteFile(h, "zz", 2, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);  // files are not waitable
    CloseHandle(h);
    EXPECT_EQ(ReadAll(path), "abc");

    HANDLE ev = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    char buf[4];
    EXPECT_FALSE(ReadFile(ev, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(ev, nullptr), INVALID_FILE_SIZE);
    CloseHandle(ev);
    EXPECT_FALSE(WriteFile(h, "a", 1, &n, nullptr));  // closed
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Win32File, SizeAbove4GiBFillsTheHighWord) {
    const std::string path = Path("sparse.bin");
    ASSERT_TRUE(WriteAll(path, ""));
    const off_t size = (off_t{1} << 32) + 5;
    if (truncate(path.c_str(), size) != 0) GTEST_SKIP() << "no sparse files here";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(h, &high), 5u);
    EXPECT_EQ(high, 1u);
    CloseHandle(h);
}

TEST_F(Win32File, FullDiskShowsAsShortFailedWrite) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    HANDLE h = CreateFileA("/dev/full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char block[256] = {};
    DWORD written = 12345;
    EXPECT_FALSE(WriteFile(h, block, sizeof block, &written, nullptr));
    EXPECT_LT(written, sizeof block);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    CloseHandle(h);
}

// The library's whole-file reads go to the end of the file, whatever size
// it reports: files of /proc report 0 and may be larger than the first
// buffer. The file system, read by the standard
// library, is the oracle.
TEST_F(Win32File, LibraryReadsWholeFilesToTheEnd) {
    const auto expected = [](const std::string& path) { return testsupport::ReadAll(path); };
    std::mt19937 rng(77);
    std::string noise(9001, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    ASSERT_TRUE(WriteAll(Path("noise.bin"), noise));

    for (bool wide : {false, true}) {
        const auto read = [wide](const std::string& path, std::string& out) {
            void* buf = nullptr;
            DWORD size = 0;
            const std::wstring wpath = Utf8ToWide(path);
            if (!(wide ? ReadFileW(wpath.c_str(), &buf, &size) : ReadFileA(path.c_str(), &buf, &size))) return false;
            out.assign(static_cast<const char*>(buf), size);
            const bool terminated = static_cast<const char*>(buf)[size] == 0;
            delete[] static_cast<char*>(buf);
            return terminated;
        };
        std::string got;
        for (const std::string& path : {std::string("/proc/version"), std::string("/proc/self/mountinfo"), Path("noise.bin")}) {
            ASSERT_TRUE(read(path, got)) << path;
            EXPECT_EQ(got, expected(path)) << path << wide;
            EXPECT_FALSE(got.empty()) << path;
        }
        // Its numbers change from read to read; its first line does not.
        ASSERT_TRUE(read("/proc/self/status", got));
        EXPECT_GT(got.size(), 200u);
        EXPECT_EQ(got.substr(0, got.find('\n')), expected("/proc/self/status").substr(0, got.find('\n')));
        // Many pages, read piece by piece; its first line is fixed too.
        ASSERT_TRUE(read("/proc/self/smaps", got));
        EXPECT_GT(got.size(), 8192u);
        EXPECT_EQ(got.substr(0, got.find('\n')), expected("/proc/self/smaps").substr(0, got.find('\n')));
    }
}

TEST(Win32Module, ExecutablePathAndOverride) {
    wchar_t wbuf[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, wbuf, MAX_PATH);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, MAX_PATH);
    EXPECT_EQ(wbuf[0], L'/');
    EXPECT_EQ(std::filesystem::path(wbuf), std::filesystem::canonical("/proc/self/exe"));

    const std::wstring host = L"/opt/\u7F16\u8F91/host.exe";
    SetModuleFileNameOverride(host);
    EXPECT_EQ(GetModuleFileNameW(nullptr, wbuf, MAX_PATH), host.size());
    EXPECT_EQ(std::wstring(wbuf), host);
    char abuf[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(nullptr, abuf, MAX_PATH), 20u);
    EXPECT_STREQ(abuf, "/opt/\xE7\xBC\x96\xE8\xBE\x91/host.exe");

    // Too small: cut and terminated, the buffer size returned.
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, wbuf, 6), 6u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(wbuf), L"/opt/");
    // ... without splitting a UTF-8 sequence.
    EXPECT_EQ(GetModuleFileNameA(nullptr, abuf, 8), 8u);
    EXPECT_STREQ(abuf, "/opt/");

    SetModuleFileNameOverride(L"");
    EXPECT_EQ(GetModuleFileNameW(nullptr, wbuf, MAX_PATH), n);
}

}  // namespace
