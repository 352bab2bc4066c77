#include "morvik/gdiplus/gdiplus_types.h"

#include <atomic>

namespace Gdiplus {

namespace {
std::atomic<int> g_startups{0};
std::atomic<ULONG_PTR> g_nextToken{1};
}  // namespace

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output) {
    if (token == nullptr || input == nullptr || input->GdiplusVersion != 1) {
        return InvalidParameter;
    }
    if (output != nullptr) {
        *output = GdiplusStartupOutput{};
    }
    *token = g_nextToken.fetch_add(1);
    g_startups.fetch_add(1);
    return Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
    if (token == 0) {
        return;
    }
    int n = g_startups.load();
    while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1)) {
    }
}

bool GdiplusIsRunning() { return g_startups.load() > 0; }

}  // namespace Gdiplus
