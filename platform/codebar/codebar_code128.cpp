#include "morvik/codebar/codebar_internal.h"

namespace codebar {
namespace {

// Bar and space widths of the symbol values 0..105 (bar, space, bar, space,
// bar, space; 11 modules each).
constexpr const char* kPatterns[106] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213", "221312",
    "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132", "221231", "213212",
    "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211", "212123", "212321", "232121",
    "111323", "131123", "131321", "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331",
    "132131", "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131", "311123",
    "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111", "111224", "111422", "121124",
    "121421", "141122", "141221", "112214", "112412", "122114", "122411", "142112", "142211", "241211", "221114",
    "413111", "241112", "134111", "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112",
    "421211", "212141", "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232"};
constexpr const char* kStop = "2331112";

constexpr int kCodeC = 99;
constexpr int kCodeB = 100;
constexpr int kCodeA = 101;
constexpr int kFnc1Value = 102;
constexpr int kStartA = 103;

bool IsDigit(int item) { return item >= '0' && item <= '9'; }
bool InA(int item) { return item == kFnc1 || (item >= 0 && item < 96); }
bool InB(int item) { return item == kFnc1 || (item >= 32 && item < 128); }

// Digits from position i on (FNC1 ends the run).
size_t DigitRun(const std::vector<int>& items, size_t i) {
    size_t n = 0;
    while (i + n < items.size() && IsDigit(items[i + n])) {
        ++n;
    }
    return n;
}

int ValueIn(char set, int item) {
    if (item == kFnc1) {
        return kFnc1Value;
    }
    if (set == 'A' && item < 32) {
        return item + 64;
    }
    return item - 32;
}

// Subset A or B for the items from i on: the one that holds the first item
// that only one of them holds (A for control characters).
char TextSubset(const std::vector<int>& items, size_t i, char preferred) {
    for (; i < items.size(); ++i) {
        const bool a = InA(items[i]);
        const bool b = InB(items[i]);
        if (a != b) {
            return a ? 'A' : 'B';
        }
    }
    return preferred;
}

void Append(std::vector<uint8_t>& modules, const char* widths) {
    bool dark = true;
    for (const char* w = widths; *w != 0; ++w) {
        modules.insert(modules.end(), static_cast<size_t>(*w - '0'), dark ? 1 : 0);
        dark = !dark;
    }
}

}  // namespace

// Symbol values from the start character to the check character.
static std::vector<int> Code128Values(const std::vector<int>& items, char subset, bool ean128) {
    std::vector<int> values;
    char set = subset;
    if (set == 0) {
        const size_t run = DigitRun(items, 0);
        set = (run >= 4 || (run >= 2 && run == items.size() && run % 2 == 0)) ? 'C' : TextSubset(items, 0, 'B');
    }
    values.push_back(kStartA + (set - 'A'));
    if (ean128) {
        values.push_back(kFnc1Value);
    }
    size_t i = 0;
    while (i < items.size()) {
        const int item = items[i];
        if (set == 'C') {
            if (item == kFnc1) {
                values.push_back(kFnc1Value);
                ++i;
                continue;
            }
            if (DigitRun(items, i) >= 2) {
                values.push_back((items[i] - '0') * 10 + (items[i + 1] - '0'));
                i += 2;
                continue;
            }
            set = TextSubset(items, i, 'B');
            values.push_back(set == 'A' ? kCodeA : kCodeB);
            continue;
        }
        // In A or B: a forced C goes back as soon as two digits come; free
        // choice takes C for a run of four digits or more.
        const size_t run = DigitRun(items, i);
        if ((subset == 'C' && run >= 2) || (subset == 0 && run >= 4)) {
            if (run % 2 == 1) {
                // An odd run: its first digit in the current subset.
                values.push_back(ValueIn(set, item));
                ++i;
            }
            set = 'C';
            values.push_back(kCodeC);
            continue;
        }
        if ((set == 'A' && !InA(item)) || (set == 'B' && !InB(item))) {
            set = set == 'A' ? 'B' : 'A';
            values.push_back(set == 'A' ? kCodeA : kCodeB);
        }
        values.push_back(ValueIn(set, item));
        ++i;
    }
    int sum = values[0];
    for (size_t k = 1; k < values.size(); ++k) {
        sum = (sum + static_cast<int>(k) * values[k]) % 103;
    }
    values.push_back(sum);
    return values;
}

std::vector<uint8_t> EncodeCode128(const std::vector<int>& items, char subset, bool ean128) {
    const std::vector<int> values = Code128Values(items, subset, ean128);
    std::vector<uint8_t> modules;
    modules.reserve(values.size() * 11 + 13);
    for (int v : values) {
        Append(modules, kPatterns[v]);
    }
    Append(modules, kStop);
    return modules;
}

}  // namespace codebar
