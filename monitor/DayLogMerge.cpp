#include "monitor/DayLogMerge.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <unordered_map>

#include "monitor/EventLog.h"

namespace raid {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int digits(std::string_view s, std::size_t at, std::size_t count) {
    int v = 0;
    for (std::size_t k = 0; k < count; ++k) v = v * 10 + (s[at + k] - '0');
    return v;
}

// One piece of one copy: lines [begin, end) of `lines`.
struct Segment {
    const std::vector<std::string>* lines = nullptr;
    std::size_t begin = 0;
    std::size_t end = 0;
    int key = 0;
    std::size_t length() const { return end - begin; }
};

struct Split {
    std::size_t preambleEnd = 0;  // lines [0, preambleEnd) come before the first segment
    std::vector<Segment> segments;
};

bool startsSegment(const std::vector<std::string>& lines, std::size_t i, const std::string& rule) {
    return i + 1 < lines.size() && lines[i] == rule && timeOfDay(lines[i + 1]).has_value();
}

Split split(const std::vector<std::string>& lines) {
    const std::string rule = EventLog::ruleLine();
    Split s;
    std::size_t i = 0;
    while (i < lines.size() && !startsSegment(lines, i, rule)) ++i;
    s.preambleEnd = i;
    while (i < lines.size()) {
        Segment seg;
        seg.lines = &lines;
        seg.begin = i;
        seg.key = *timeOfDay(lines[i + 1]);
        i += 2;
        while (i < lines.size() && !startsSegment(lines, i, rule)) ++i;
        seg.end = i;
        s.segments.push_back(seg);
    }
    return s;
}

// The rule line and the timed line that open a segment: two segments of one history
// open alike, two separate runs' segments (nearly) never do.
std::string head(const Segment& s) {
    const auto& l = *s.lines;
    return l[s.begin] + '\n' + l[s.begin + 1];
}

// Whether the shorter of the two is where the longer one starts.
bool prefixRelated(const Segment& a, const Segment& b) {
    const std::size_t n = std::min(a.length(), b.length());
    return std::equal(a.lines->begin() + static_cast<std::ptrdiff_t>(a.begin),
                      a.lines->begin() + static_cast<std::ptrdiff_t>(a.begin + n),
                      b.lines->begin() + static_cast<std::ptrdiff_t>(b.begin));
}

bool endsWith(const std::vector<std::string>& v, std::size_t from, std::size_t to, const std::vector<std::string>& w,
              std::size_t wFrom, std::size_t wTo) {
    const std::size_t n = to - from;
    const std::size_t m = wTo - wFrom;
    if (m > n) return false;
    return std::equal(v.begin() + static_cast<std::ptrdiff_t>(to - m), v.begin() + static_cast<std::ptrdiff_t>(to),
                      w.begin() + static_cast<std::ptrdiff_t>(wFrom));
}

// The preambles (lines before any timed segment, e.g. an information block written
// just after midnight, or lines some other tool put there) have no time to order them
// by: their common start is kept once, then the rest of each, the log folder's first,
// unless one rest already ends the other.
void mergePreambles(const std::vector<std::string>& a, std::size_t aEnd, const std::vector<std::string>& b,
                    std::size_t bEnd, std::vector<std::string>& out) {
    std::size_t c = 0;
    while (c < aEnd && c < bEnd && a[c] == b[c]) ++c;
    const auto range = [&](const std::vector<std::string>& v, std::size_t from, std::size_t to) {
        out.insert(out.end(), v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to));
    };
    range(a, 0, c);
    if (endsWith(a, c, aEnd, b, c, bEnd)) {
        range(a, c, aEnd);
    } else if (endsWith(b, c, bEnd, a, c, aEnd)) {
        range(b, c, bEnd);
    } else {
        range(a, c, aEnd);
        range(b, c, bEnd);
    }
}

void put(const Segment& s, std::vector<std::string>& out) {
    out.insert(out.end(), s.lines->begin() + static_cast<std::ptrdiff_t>(s.begin),
               s.lines->begin() + static_cast<std::ptrdiff_t>(s.end));
}

// Whether every line of `inner` is in `outer`, in the same order.
bool isSubsequence(const std::vector<std::string>& inner, const std::vector<std::string>& outer) {
    if (inner.size() > outer.size()) return false;
    std::size_t k = 0;
    for (const std::string& line : outer) {
        if (k == inner.size()) break;
        if (line == inner[k]) ++k;
    }
    return k == inner.size();
}

// The longest chain of pairs rising in both members; `pairs` rise in the second.
std::vector<std::pair<std::size_t, std::size_t>> increasingChain(
    const std::vector<std::pair<std::size_t, std::size_t>>& pairs) {
    std::vector<std::size_t> tails;  // tails[len]: index of the pair ending the best chain of len+1
    std::vector<std::size_t> before(pairs.size(), SIZE_MAX);
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), pairs[p].first,
                                         [&](std::size_t t, std::size_t v) { return pairs[t].first < v; });
        if (at != tails.begin()) before[p] = *(at - 1);
        if (at == tails.end()) {
            tails.push_back(p);
        } else {
            *at = p;
        }
    }
    std::vector<std::pair<std::size_t, std::size_t>> chain;
    for (std::size_t p = tails.empty() ? SIZE_MAX : tails.back(); p != SIZE_MAX; p = before[p]) chain.push_back(pairs[p]);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

}  // namespace

std::optional<int> timeOfDay(std::string_view line) {
    std::optional<int> found;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (!isDigit(line[i]) || (i > 0 && isDigit(line[i - 1]))) continue;
        // h:mm:ss or hh:mm:ss, not inside a longer run of digits.
        std::size_t h = 1;
        if (i + 1 < line.size() && isDigit(line[i + 1])) h = 2;
        const std::size_t at = i + h;
        if (at + 6 > line.size() || line[at] != ':' || line[at + 3] != ':') continue;
        if (!isDigit(line[at + 1]) || !isDigit(line[at + 2]) || !isDigit(line[at + 4]) || !isDigit(line[at + 5])) {
            continue;
        }
        if (at + 6 < line.size() && isDigit(line[at + 6])) continue;
        int hour = digits(line, i, h);
        const int minute = digits(line, at + 1, 2);
        const int second = digits(line, at + 4, 2);
        if (minute > 59 || second > 60) continue;
        std::size_t k = at + 6;
        while (k < line.size() && line[k] == ' ') ++k;
        if (k + 1 < line.size() && (line[k + 1] == 'M' || line[k + 1] == 'm')) {
            const char ap = line[k];
            if ((ap == 'A' || ap == 'a' || ap == 'P' || ap == 'p') && hour >= 1 && hour <= 12) {
                hour %= 12;
                if (ap == 'P' || ap == 'p') hour += 12;
            }
        }
        if (hour > 23) continue;
        found = hour * 3600 + minute * 60 + second;
    }
    return found;
}

std::vector<std::string> mergeDayCopies(const std::vector<std::string>& primary,
                                        const std::vector<std::string>& fallback) {
    // The usual cases: one copy went on where the other stopped, or one copy already
    // holds the other (an earlier merge met the stale copy it was made from).
    if (isSubsequence(fallback, primary)) return primary;
    if (isSubsequence(primary, fallback)) return fallback;

    const Split a = split(primary);
    const Split b = split(fallback);
    std::vector<std::string> out;
    out.reserve(primary.size() + fallback.size());
    mergePreambles(primary, a.preambleEnd, fallback, b.preambleEnd, out);

    // Segments of the fallback copy that the primary copy holds as well. Candidates of
    // one head are tried in order, and only a few past the first free one, so a copy
    // full of look-alike segments cannot make this quadratic.
    std::vector<bool> taken(a.segments.size(), false);
    std::unordered_map<std::string, std::vector<std::size_t>> byHead;
    for (std::size_t i = 0; i < a.segments.size(); ++i) byHead[head(a.segments[i])].push_back(i);
    std::unordered_map<std::string, std::size_t> firstFree;
    std::vector<std::pair<std::size_t, std::size_t>> pairs;  // (primary, fallback), fallback order
    for (std::size_t j = 0; j < b.segments.size(); ++j) {
        const std::string h = head(b.segments[j]);
        auto it = byHead.find(h);
        if (it == byHead.end()) continue;
        std::size_t& from = firstFree[h];
        while (from < it->second.size() && taken[it->second[from]]) ++from;
        for (std::size_t k = from, tries = 0; k < it->second.size() && tries < 4; ++k) {
            const std::size_t i = it->second[k];
            if (taken[i]) continue;
            ++tries;
            if (!prefixRelated(a.segments[i], b.segments[j])) continue;
            taken[i] = true;
            pairs.emplace_back(i, j);
            break;
        }
    }
    // Only pairs in the same order in both copies can be one history kept once: the
    // longest such chain anchors the merge, so that each copy's own order survives
    // (a pair against the order, after a clock was set back, keeps both sides).
    const std::vector<std::pair<std::size_t, std::size_t>> anchors = increasingChain(pairs);

    // Between two anchors the segments of both copies are interleaved by time.
    std::size_t i = 0;
    std::size_t j = 0;
    const auto upTo = [&](std::size_t iEnd, std::size_t jEnd) {
        while (i < iEnd || j < jEnd) {
            if (j == jEnd || (i < iEnd && a.segments[i].key <= b.segments[j].key)) {
                put(a.segments[i++], out);
            } else {
                put(b.segments[j++], out);
            }
        }
    };
    for (const auto& [ai, bj] : anchors) {
        upTo(ai, bj);
        const Segment& longer = b.segments[bj].length() > a.segments[ai].length() ? b.segments[bj] : a.segments[ai];
        put(longer, out);
        i = ai + 1;
        j = bj + 1;
    }
    upTo(a.segments.size(), b.segments.size());
    return out;
}

}  // namespace raid
