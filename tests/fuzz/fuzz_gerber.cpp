// Fuzzes the Gerber reader with whole files, and checks that whatever it
// builds is finite and can be measured and freed.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "compose/group.h"
#include "core/runlog.h"
#include "host/host_services.h"
#include "import/gerber.h"

namespace {

// A host that nobody sits at: questions are declined, dialogs cancelled,
// nothing is logged.
class SilentHost : public IHostServices {
public:
    int MessageBox(HWND, const std::wstring&, const std::wstring&, UINT) override { return IDCANCEL; }
    BOOL PostMessage(HWND, UINT, WPARAM, LPARAM) override { return TRUE; }
    LRESULT SendMessage(HWND, UINT, WPARAM, LPARAM) override { return 0; }
    HWND FindWindow(const std::wstring&, const std::wstring&) override { return nullptr; }
    HWND GetForegroundWindow() override { return nullptr; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool FileDialog(bool, const std::wstring&, std::wstring&) override { return false; }
};

// An in-memory file reachable by path, so that each input costs no disk.
class MemFile {
public:
    MemFile() : fd_(memfd_create("gerber-in", 0)) {
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    const std::string& Path() const { return path_; }
    void Put(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(fd_, 0) != 0) std::abort();
        if (size && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    }

private:
    int fd_;
    std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetHost(std::make_shared<SilentHost>());
    // The reader's console lines and run-log lines are of no interest here.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    RunLog::Instance(nullptr)->SetLogFolder(L"/dev/null/");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile input;
    input.Put(data, size);

    auto* group = new CGroupShape;
    int lines = 0;
    CParseGerber parser;
    // Large panels are legal; under the sanitizer they would only slow the
    // search down.
    parser.m_nMaxRepeatedShapes = 500;
    if (!parser.ParseFile(input.Path().c_str(), group, lines)) std::abort();
    for (CBaseShape* child : group->GetChildren()) {
        std::vector<tagPOINTF> pts;
        child->GetFlattenPathPoints(pts, 0.05f);
        for (const tagPOINTF& p : pts) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) std::abort();
        }
    }
    Gdiplus::RectF rect;
    group->GetRectangle(rect);
    group->FreeShapePtr();
    delete group;
    return 0;
}
