// The final merge of the Gerber reader. A point of the image is dark when
// the last object that covers it is dark, so the image is the union of every
// dark object less the clear objects that come after it. Clear objects are
// cut out of the dark ones they overlap, object by object; the union then
// runs per group of overlapping objects, small groups in one clipping run
// each and large ones bottom-up in neighbourhoods, so that no clipping run
// has to sweep edges from all over the image at once.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <numeric>
#include <thread>
#include <unordered_map>

#include "morvik/import/gerber_geometry.h"

namespace gerber_detail {

namespace {

using ClipperLib::cInt;

struct Box {
    cInt minX = 0, minY = 0, maxX = -1, maxY = -1;
    bool Empty() const { return maxX < minX; }
    bool Overlaps(const Box& o) const {
        return minX <= o.maxX && o.minX <= maxX && minY <= o.maxY && o.minY <= maxY;
    }
};

Box BoundsOf(const ClipperLib::Paths& paths) {
    Box b;
    bool first = true;
    for (const ClipperLib::Path& path : paths) {
        for (const ClipperLib::IntPoint& p : path) {
            if (first) {
                b = {p.X, p.Y, p.X, p.Y};
                first = false;
            } else {
                b.minX = std::min(b.minX, p.X);
                b.maxX = std::max(b.maxX, p.X);
                b.minY = std::min(b.minY, p.Y);
                b.maxY = std::max(b.maxY, p.Y);
            }
        }
    }
    return b;
}

// A uniform grid over boxes. Boxes that would cover too many cells go to a
// list of their own that every query visits.
class Grid {
public:
    Grid(const std::vector<Box>& boxes, const std::vector<size_t>& members) : boxes_(boxes) {
        Box all;
        double extent = 0.0;
        size_t count = 0;
        for (size_t k : members) {
            const Box& b = boxes[k];
            if (b.Empty()) continue;
            all = count == 0 ? b
                             : Box{std::min(all.minX, b.minX), std::min(all.minY, b.minY), std::max(all.maxX, b.maxX),
                                   std::max(all.maxY, b.maxY)};
            extent += static_cast<double>(b.maxX - b.minX) + static_cast<double>(b.maxY - b.minY);
            ++count;
        }
        origin_ = all;
        // Cells about twice the size of an average box, and not so many that
        // the grid outgrows the boxes.
        const double span = std::max(static_cast<double>(all.maxX - all.minX), static_cast<double>(all.maxY - all.minY));
        double cell = count == 0 ? 1.0 : std::max(extent / count, 1.0);
        cell = std::max(cell, span / 2048.0);
        cell_ = std::max<double>(cell, 1.0);
        for (size_t k : members) {
            if (boxes[k].Empty()) continue;
            Insert(k);
        }
    }

    // Calls visit(k) for every member whose box may overlap b (a member
    // may come more than once).
    template <typename Visit>
    void Query(const Box& b, Visit visit) const {
        for (size_t k : oversize_) visit(k);
        int64_t x0, y0, x1, y1;
        Cells(b, x0, y0, x1, y1);
        if ((x1 - x0 + 1) * (y1 - y0 + 1) > kMaxCellsPerBox) {
            for (const auto& [key, list] : cells_) {
                for (size_t k : list) visit(k);
            }
            return;
        }
        for (int64_t y = y0; y <= y1; ++y) {
            for (int64_t x = x0; x <= x1; ++x) {
                const auto it = cells_.find(Key(x, y));
                if (it == cells_.end()) continue;
                for (size_t k : it->second) visit(k);
            }
        }
    }

    // Calls visit(list) with the members of every cell.
    template <typename Visit>
    void ForEachCell(Visit visit) const {
        for (const auto& [key, list] : cells_) visit(list);
    }
    // The members too large for cells.
    const std::vector<size_t>& Oversize() const { return oversize_; }

private:
    static constexpr int64_t kMaxCellsPerBox = 4096;

    static uint64_t Key(int64_t x, int64_t y) {
        return (static_cast<uint64_t>(x) << 32) ^ static_cast<uint64_t>(static_cast<uint32_t>(y));
    }
    void Cells(const Box& b, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) const {
        const auto cell = [&](cInt v, cInt o) {
            return static_cast<int64_t>((static_cast<double>(v) - static_cast<double>(o)) / cell_);
        };
        x0 = std::max<int64_t>(cell(b.minX, origin_.minX), 0);
        y0 = std::max<int64_t>(cell(b.minY, origin_.minY), 0);
        x1 = std::max(cell(b.maxX, origin_.minX), x0);
        y1 = std::max(cell(b.maxY, origin_.minY), y0);
    }
    void Insert(size_t k) {
        int64_t x0, y0, x1, y1;
        Cells(boxes_[k], x0, y0, x1, y1);
        if ((x1 - x0 + 1) * (y1 - y0 + 1) > kMaxCellsPerBox) {
            oversize_.push_back(k);
            return;
        }
        for (int64_t y = y0; y <= y1; ++y) {
            for (int64_t x = x0; x <= x1; ++x) cells_[Key(x, y)].push_back(k);
        }
    }

    const std::vector<Box>& boxes_;
    Box origin_;
    double cell_ = 1.0;
    std::unordered_map<uint64_t, std::vector<size_t>> cells_;
    std::vector<size_t> oversize_;
};

class UnionFind {
public:
    explicit UnionFind(size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), size_t{0}); }
    size_t Find(size_t k) {
        while (parent_[k] != k) {
            parent_[k] = parent_[parent_[k]];
            k = parent_[k];
        }
        return k;
    }
    // The smaller index becomes the root, so a group is named by its first member.
    void Unite(size_t a, size_t b) {
        a = Find(a);
        b = Find(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<size_t> parent_;
};

ClipperLib::Paths Run(ClipperLib::Clipper& clipper, ClipperLib::ClipType type) {
    ClipperLib::Paths out = Execute(clipper, type, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    clipper.Clear();
    return out;
}

bool Add(ClipperLib::Clipper& clipper, const ClipperLib::Paths& paths, ClipperLib::PolyType type) {
    try {
        clipper.AddPaths(paths, type, true);
    } catch (const ClipperLib::clipperException&) {
        return false;
    }
    return true;
}

// The Morton code of a box centre within the whole extent, for sorting
// boxes so that neighbours come together.
uint64_t Morton(const Box& b, const Box& all) {
    const auto scaled = [](double v, double lo, double hi) {
        const double t = hi > lo ? (v - lo) / (hi - lo) : 0.0;
        return static_cast<uint32_t>(std::clamp(t, 0.0, 1.0) * 65535.0);
    };
    const uint32_t x = scaled((static_cast<double>(b.minX) + b.maxX) / 2, all.minX, all.maxX);
    const uint32_t y = scaled((static_cast<double>(b.minY) + b.maxY) / 2, all.minY, all.maxY);
    uint64_t code = 0;
    for (int bit = 15; bit >= 0; --bit) {
        code = (code << 2) | (((y >> bit) & 1u) << 1) | ((x >> bit) & 1u);
    }
    return code;
}

constexpr size_t kChunk = 32;
// Below this many points in all, the merge runs on the calling thread alone.
constexpr size_t kParallelPoints = 200000;

// Runs work(k, clipper) for k from 0 to count - 1, spread over the cores
// when parallel is set; each thread has a clipper of its own.
template <typename Work>
void ForEach(size_t count, bool parallel, Work work) {
    const size_t threads =
        parallel ? std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 8, count}) : 1;
    std::atomic<size_t> next{0};
    if (threads <= 1) {
        ClipperLib::Clipper clipper;
        for (size_t k = 0; k < count; ++k) work(k, clipper);
        return;
    }
    // The first failure of any thread (out of memory) stops the others and
    // comes out on the calling thread.
    std::mutex failLock;
    std::exception_ptr failure;
    const auto run = [&]() {
        try {
            ClipperLib::Clipper clipper;
            for (size_t k = next++; k < count; k = next++) work(k, clipper);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failLock);
            if (!failure) failure = std::current_exception();
            next = count;
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t) pool.emplace_back(run);
    run();
    for (std::thread& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
}

// The areas of one merge: the items' own, or what the clear ones left.
class Areas {
public:
    explicit Areas(const std::vector<MergeItem>& items) : items_(items), cut_(items.size()), isCut_(items.size()) {}
    const ClipperLib::Paths& operator[](size_t k) const { return isCut_[k] ? cut_[k] : *items_[k].area; }
    bool Normal(size_t k) const { return isCut_[k] || items_[k].normal; }
    void SetCut(size_t k, ClipperLib::Paths area) {
        cut_[k] = std::move(area);
        isCut_[k] = true;
    }

private:
    const std::vector<MergeItem>& items_;
    std::vector<ClipperLib::Paths> cut_;
    std::vector<char> isCut_;  // not vector<bool>: threads set distinct entries
};

// The union of one group of overlapping areas, appended to out.
void UnionGroup(const std::vector<size_t>& members, const Areas& areas, const std::vector<Box>& boxes,
                ClipperLib::Clipper& clipper, ClipperLib::Paths& out) {
    const auto append = [&](ClipperLib::Paths paths) {
        for (ClipperLib::Path& path : paths) out.push_back(std::move(path));
    };
    if (members.size() == 1 && areas.Normal(members.front())) {
        const ClipperLib::Paths& area = areas[members.front()];
        out.insert(out.end(), area.begin(), area.end());
        return;
    }
    if (members.size() <= kChunk) {
        for (size_t k : members) Add(clipper, areas[k], ClipperLib::ptSubject);
        append(Run(clipper, ClipperLib::ctUnion));
        return;
    }
    // Bottom-up: neighbourhoods first, so that each run sees few edges side
    // by side.
    Box all = boxes[members.front()];
    for (size_t k : members) {
        const Box& b = boxes[k];
        all = {std::min(all.minX, b.minX), std::min(all.minY, b.minY), std::max(all.maxX, b.maxX),
               std::max(all.maxY, b.maxY)};
    }
    std::vector<std::pair<uint64_t, size_t>> order;
    order.reserve(members.size());
    for (size_t k : members) order.emplace_back(Morton(boxes[k], all), k);
    std::sort(order.begin(), order.end());
    std::vector<ClipperLib::Paths> level;
    for (size_t start = 0; start < order.size(); start += kChunk) {
        const size_t stop = std::min(order.size(), start + kChunk);
        for (size_t k = start; k < stop; ++k) Add(clipper, areas[order[k].second], ClipperLib::ptSubject);
        level.push_back(Run(clipper, ClipperLib::ctUnion));
    }
    while (level.size() > 1) {
        const size_t width = level.size() > kChunk * 4 ? kChunk : 4;
        std::vector<ClipperLib::Paths> next;
        for (size_t start = 0; start < level.size(); start += width) {
            const size_t stop = std::min(level.size(), start + width);
            for (size_t k = start; k < stop; ++k) Add(clipper, level[k], ClipperLib::ptSubject);
            next.push_back(Run(clipper, ClipperLib::ctUnion));
        }
        level = std::move(next);
    }
    append(std::move(level.front()));
}

}  // namespace

ClipperLib::Paths MergeAreas(const std::vector<MergeItem>& items) {
    const size_t n = items.size();
    Areas areas(items);
    size_t points = 0;
    std::vector<size_t> crossing;
    for (size_t k = 0; k < n; ++k) {
        for (const ClipperLib::Path& path : areas[k]) points += path.size();
        if (!items[k].simple) crossing.push_back(k);
    }
    const bool parallel = points >= kParallelPoints;
    // Rings that may cross themselves are worked out alone first.
    ForEach(crossing.size(), parallel, [&](size_t c, ClipperLib::Clipper& clipper) {
        const size_t k = crossing[c];
        Add(clipper, areas[k], ClipperLib::ptSubject);
        areas.SetCut(k, Run(clipper, ClipperLib::ctUnion));
    });
    std::vector<Box> boxes(n);
    for (size_t k = 0; k < n; ++k) boxes[k] = BoundsOf(areas[k]);

    // Clear objects cut the dark ones before them that they overlap.
    std::vector<size_t> clears;
    for (size_t k = 0; k < n; ++k) {
        if (items[k].clear && !boxes[k].Empty()) clears.push_back(k);
    }
    if (!clears.empty()) {
        const Grid grid(boxes, clears);
        // Each dark area with the clear ones that cut it.
        std::vector<std::pair<size_t, std::vector<size_t>>> cuts;
        std::vector<size_t> stamp(n, SIZE_MAX);
        for (size_t k = 0; k < n; ++k) {
            if (items[k].clear || boxes[k].Empty()) continue;
            std::vector<size_t> by;
            grid.Query(boxes[k], [&](size_t j) {
                if (j <= k || stamp[j] == k || !boxes[j].Overlaps(boxes[k])) return;
                stamp[j] = k;
                by.push_back(j);
            });
            if (!by.empty()) cuts.emplace_back(k, std::move(by));
        }
        ForEach(cuts.size(), parallel, [&](size_t c, ClipperLib::Clipper& clipper) {
            const size_t k = cuts[c].first;
            const std::vector<size_t>& by = cuts[c].second;
            // Several clear areas are united first: a difference with many
            // clips that share edges (copies in one place) runs away.
            ClipperLib::Paths clip;
            if (by.size() > 1) {
                for (size_t j : by) Add(clipper, areas[j], ClipperLib::ptSubject);
                clip = Run(clipper, ClipperLib::ctUnion);
            }
            Add(clipper, areas[k], ClipperLib::ptSubject);
            Add(clipper, by.size() > 1 ? clip : areas[by.front()], ClipperLib::ptClip);
            areas.SetCut(k, Run(clipper, ClipperLib::ctDifference));
            boxes[k] = BoundsOf(areas[k]);
        });
    }

    // Groups of overlapping dark areas, each named by its first member.
    std::vector<size_t> darks;
    for (size_t k = 0; k < n; ++k) {
        if (!items[k].clear && !boxes[k].Empty()) darks.push_back(k);
    }
    // Members of a crowded cell, and crowds of very large areas, are simply
    // put together: a group larger than needed merges to the same result.
    constexpr size_t kCrowd = 64;
    UnionFind groups(n);
    {
        const Grid grid(boxes, darks);
        grid.ForEachCell([&](const std::vector<size_t>& cell) {
            for (size_t a = 0; a < cell.size(); ++a) {
                if (cell.size() > kCrowd) {
                    groups.Unite(cell.front(), cell[a]);
                    continue;
                }
                for (size_t b = a + 1; b < cell.size(); ++b) {
                    if (boxes[cell[a]].Overlaps(boxes[cell[b]])) groups.Unite(cell[a], cell[b]);
                }
            }
        });
        const std::vector<size_t>& large = grid.Oversize();
        for (size_t o : large) {
            for (size_t k : darks) {
                if (large.size() > kCrowd || boxes[o].Overlaps(boxes[k])) groups.Unite(o, k);
            }
        }
    }
    std::vector<std::vector<size_t>> members(n);
    for (size_t k : darks) members[groups.Find(k)].push_back(k);
    std::vector<std::vector<size_t>*> order;
    for (std::vector<size_t>& group : members) {
        if (!group.empty()) order.push_back(&group);
    }
    // Each group on its own, the results in the order of the groups.
    std::vector<ClipperLib::Paths> merged(order.size());
    ForEach(order.size(), parallel, [&](size_t g, ClipperLib::Clipper& clipper) {
        UnionGroup(*order[g], areas, boxes, clipper, merged[g]);
    });
    ClipperLib::Paths result;
    for (ClipperLib::Paths& paths : merged) {
        for (ClipperLib::Path& path : paths) result.push_back(std::move(path));
    }
    return result;
}

}  // namespace gerber_detail
