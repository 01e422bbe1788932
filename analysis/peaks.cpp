#include "analysis/peaks.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/angles.h"
#include "analysis/plane.h"

namespace {

constexpr double kPi = 3.141592653589793;

// A step shorter than this, in bins, ends the refinement.
constexpr double kSettled = 1e-4;

// Two refined maxima closer than this along both axes, in bins, are one.
constexpr double kSame = 0.05;

// How many times a climb of peaks_search may go on past the bin it was held to, and the
// most passes over the heights it may take (a component's climb takes 3 to 8).
constexpr int kMoves = 3;
constexpr uint32_t kSearchPasses = 24;

// The fewest samples a ring's median of the background is taken over.
constexpr uint64_t kRingLeast = 64;

// The most grid samples peaks_search refines for k peaks: kRefinedPerPeak k + kRefinedMore.
constexpr uint64_t kRefinedPerPeak = 1;
constexpr uint64_t kRefinedMore = 6;

// The search starts climbs from the grid's peaks and from this many of the strongest
// samples, which need not be peaks: next to the zero frequency's slope, the samples
// around a maximum between them are lower than their neighbours nearer the centre.
constexpr uint64_t kStrongest = 64;

// The centred plane's frequencies: fx from -half_w to width - 1 - half_w along the
// columns, fy from half_h - height + 1 to half_h upwards (row 0 is the top row).
struct Grid {
    int64_t width;
    int64_t height;
    int64_t half_w;
    int64_t half_h;
    int64_t wrap_x(int64_t f) const {
        if (f < -half_w) return f + width;
        if (f > width - 1 - half_w) return f - width;
        return f;
    }
    int64_t wrap_y(int64_t f) const {
        if (f < half_h - height + 1) return f + height;
        if (f > half_h) return f - height;
        return f;
    }
    // The sample's index for a frequency (fx, fy), fy upwards; both already wrapped.
    uint64_t index(int64_t fx, int64_t fy) const {
        return static_cast<uint64_t>((half_h - fy) * width + fx + half_w);
    }
};

bool upper(int64_t fx, int64_t fy) {
    return fy > 0 || (fy == 0 && fx > 0);
}

// The power of a sample and of its mirror, exactly the same sum for both members.
double pair_power(const double* power, const Grid& g, int64_t fx, int64_t fy) {
    fx = g.wrap_x(fx);
    fy = g.wrap_y(fy);
    return power[g.index(fx, fy)] + power[g.index(g.wrap_x(-fx), g.wrap_y(-fy))];
}

// Whether (fx, fy) is a peak: above its 8 neighbours (equal to none earlier in row-major
// order), outside the centre 3 x 3, the kept member of its pair, and of some power.
bool is_peak(const double* power, const Grid& g, int64_t fx, int64_t fy) {
    if (fx >= -1 && fx <= 1 && fy >= -1 && fy <= 1) return false;
    const int64_t mx = g.wrap_x(-fx);
    const int64_t my = g.wrap_y(-fy);
    const bool self = mx == fx && my == fy;
    if (!self && !(upper(fx, fy) && (!upper(mx, my) || fx > mx))) return false;
    const double q = pair_power(power, g, fx, fy);
    if (!(q > 0)) return false;
    const uint64_t k = g.index(fx, fy);
    for (int64_t dy = -1; dy <= 1; ++dy) {
        for (int64_t dx = -1; dx <= 1; ++dx) {
            if (dx == 0 && dy == 0) continue;
            const int64_t nx = g.wrap_x(fx + dx);
            const int64_t ny = g.wrap_y(fy + dy);
            const double n = pair_power(power, g, nx, ny);
            const bool earlier = g.index(nx, ny) < k;
            if (earlier ? !(q > n) : !(q >= n)) return false;
        }
    }
    return true;
}

// The power of the 3 x 3 around (fx, fy) and of the 3 x 3 around its mirror, each sample
// counted once where the two overlap (near the edges of an even plane), the zero
// frequency never.
double block_power(const double* power, const Grid& g, int64_t fx, int64_t fy) {
    uint64_t seen[18];
    int count = 0;
    double sum = 0;
    const uint64_t centre = g.index(0, 0);
    for (int m = 0; m < 2; ++m) {
        const int64_t cx = m == 0 ? fx : -fx;
        const int64_t cy = m == 0 ? fy : -fy;
        for (int64_t dy = -1; dy <= 1; ++dy) {
            for (int64_t dx = -1; dx <= 1; ++dx) {
                const uint64_t k = g.index(g.wrap_x(cx + dx), g.wrap_y(cy + dy));
                if (k == centre || std::find(seen, seen + count, k) != seen + count) continue;
                seen[count++] = k;
                sum += power[k];
            }
        }
    }
    return sum;
}

struct Candidate {
    double power;
    uint64_t index;
};

// |F|^2 at one frequency and its derivatives in fc (along the columns, cycles per width)
// and fr (along the rows, cycles per height).
struct Fit {
    double g;
    double gc, gr;
    double gcc, gcr, grr;
};

// The heights as the transform is evaluated on them: less their mean, times the window.
struct Heights {
    const double* z;
    uint32_t width;
    uint32_t height;
    const double* window_x;  // width values, the window's factor along a row; or null
    const double* window_y;  // height values, its factor along a column; or null
    double mean;
};

// One pass over the heights: F and its derivatives at (fc, fr), with the phase taken from
// the middle of the picture so that the coordinates multiplying the derivative sums stay
// within half the width and height. `table` holds 6 * width + 2 * height doubles of
// scratch: per column the exponential times the window and times u and u^2, per row the
// exponential.
Fit evaluate(const Heights& h, double fc, double fr, double* table) {
    const uint32_t width = h.width;
    const uint32_t height = h.height;
    const double ac = 2 * kPi / width;
    const double ar = 2 * kPi / height;
    const double mid_c = (width - 1) / 2.0;
    const double mid_r = (height - 1) / 2.0;
    double* g[6];
    for (int i = 0; i < 6; ++i) g[i] = table + uint64_t(i) * width;
    double* rc = table + 6 * uint64_t{width};
    double* rs = rc + height;
    for (uint32_t j = 0; j < width; ++j) {
        const double u = j - mid_c;
        const double w = h.window_x ? h.window_x[j] : 1;
        const double er = w * std::cos(ac * fc * u);
        const double ei = -w * std::sin(ac * fc * u);
        g[0][j] = er;
        g[1][j] = ei;
        g[2][j] = u * er;
        g[3][j] = u * ei;
        g[4][j] = u * u * er;
        g[5][j] = u * u * ei;
    }
    for (uint32_t j = 0; j < height; ++j) {
        const double v = j - mid_r;
        rc[j] = std::cos(ar * fr * v);
        rs[j] = -std::sin(ar * fr * v);
    }
    // Sums A_pq = sum of z u^p v^q e^(-i a (fc u + fr v)), u and v the centred column and row.
    double a00r = 0, a00i = 0, a10r = 0, a10i = 0, a20r = 0, a20i = 0;
    double a01r = 0, a01i = 0, a11r = 0, a11i = 0, a02r = 0, a02i = 0;
    for (uint32_t r = 0; r < height; ++r) {
        const double* row = h.z + uint64_t{r} * width;
        // Two sets of sums, for even and odd columns, so that the additions of one column
        // need not wait for those of the last.
        double t[2][6] = {};
        uint32_t c = 0;
        for (; c + 1 < width; c += 2) {
            for (int k = 0; k < 2; ++k) {
                const double height = row[c + k] - h.mean;
                for (int i = 0; i < 6; ++i) t[k][i] += height * g[i][c + k];
            }
        }
        if (c < width) {
            const double height = row[c] - h.mean;
            for (int i = 0; i < 6; ++i) t[0][i] += height * g[i][c];
        }
        const double wr = h.window_y ? h.window_y[r] : 1;
        const double s0r = wr * (t[0][0] + t[1][0]), s0i = wr * (t[0][1] + t[1][1]);
        const double s1r = wr * (t[0][2] + t[1][2]), s1i = wr * (t[0][3] + t[1][3]);
        const double s2r = wr * (t[0][4] + t[1][4]), s2i = wr * (t[0][5] + t[1][5]);
        const double v = r - mid_r;
        const double er = rc[r];
        const double ei = rs[r];
        const double p0r = er * s0r - ei * s0i, p0i = er * s0i + ei * s0r;
        const double p1r = er * s1r - ei * s1i, p1i = er * s1i + ei * s1r;
        const double p2r = er * s2r - ei * s2i, p2i = er * s2i + ei * s2r;
        a00r += p0r;
        a00i += p0i;
        a10r += p1r;
        a10i += p1i;
        a20r += p2r;
        a20i += p2i;
        a01r += v * p0r;
        a01i += v * p0i;
        a11r += v * p1r;
        a11i += v * p1i;
        a02r += v * v * p0r;
        a02i += v * v * p0i;
    }
    // F = A00; dF/dfc = -i ac A10; d2F/dfc2 = -ac^2 A20; d2F/dfc dfr = -ac ar A11; and so on.
    const double fr0 = a00r, fi0 = a00i;
    const double fcr = ac * a10i, fci = -ac * a10r;
    const double frr_ = ar * a01i, fri = -ar * a01r;
    const double acc = ac * ac;
    const double acr = ac * ar;
    const double arr = ar * ar;
    const double fccr = -acc * a20r, fcci = -acc * a20i;
    const double fcrr = -acr * a11r, fcri = -acr * a11i;
    const double frrr = -arr * a02r, frri = -arr * a02i;
    Fit f{};
    f.g = fr0 * fr0 + fi0 * fi0;
    f.gc = 2 * (fr0 * fcr + fi0 * fci);
    f.gr = 2 * (fr0 * frr_ + fi0 * fri);
    f.gcc = 2 * (fcr * fcr + fci * fci + fr0 * fccr + fi0 * fcci);
    f.grr = 2 * (frr_ * frr_ + fri * fri + fr0 * frrr + fi0 * frri);
    f.gcr = 2 * (fcr * frr_ + fci * fri + fr0 * fcrr + fi0 * fcri);
    return f;
}

// The mean of the heights. It changes the grid only next to the zero frequency, but
// between the grid's frequencies it leaks (without a window, a mean of 150 grey levels
// pulls a peak at 8 cycles by a third of a bin), so it is taken away before the window.
double mean_of(const double* z, uint32_t width, uint32_t height) {
    double sum = 0;
    const uint64_t count = uint64_t{width} * height;
    for (uint64_t k = 0; k < count; ++k) sum += z[k];
    return sum / static_cast<double>(count);
}

// The samples a climb has passed through, and those next to the maxima it found: a
// climb from them would go the same way. Each sample and its mirror, one byte each.
struct Trail {
    uint8_t* mask;
    const Grid* g;
    // Marks the sample (fx, fy), fy upwards, and the samples within `reach` of it.
    void mark(int64_t fx, int64_t fy, int64_t reach) const {
        for (int64_t dy = -reach; dy <= reach; ++dy) {
            for (int64_t dx = -reach; dx <= reach; ++dx) {
                const int64_t x = g->wrap_x(fx + dx), y = g->wrap_y(fy + dy);
                mask[g->index(x, y)] = 1;
                mask[g->index(g->wrap_x(-x), g->wrap_y(-y))] = 1;
            }
        }
    }
};

// Newton's method on |F|^2 from the peak's grid sample (peaks.h), the peak's refined
// fields set in place; returns |F|^2 and its derivatives at the maximum found, and in
// *inside whether the climb settled (its last step shorter than kSettled, not stopped by
// a limit on steps or passes) inside the bin around the grid sample it is held to (on
// its edge the climb was stopped there, short of a maximum). The climb is
// held within a bin of the grid peak; with `moves` above 0, a climb stopped on that
// edge goes on within a bin of the sample nearest to where it stopped, up to `moves`
// times, so that it reaches a maximum lying between samples that are not grid peaks.
Fit refine(const Heights& heights, PlaneAxes axes, double* table, Peak& peak, bool* inside = nullptr,
           int moves = 0, const Trail* trail = nullptr) {
    // Along the rows (downwards) the frequency is -fy.
    double c0 = static_cast<double>(peak.grid_fx);
    double r0 = -static_cast<double>(peak.grid_fy);
    double c = c0;
    double r = r0;
    Fit at = evaluate(heights, c, r, table);
    uint32_t passes = 1;
    // The climb takes at most 50 steps, and in a search at most kSearchPasses passes.
    const uint32_t most = moves > 0 ? kSearchPasses : UINT32_MAX;
    bool settled = false;  // ended by a step too short to matter, not by a limit
    for (int iteration = 0, moved_on = 0; iteration < 50 && passes < most; ++iteration) {
        // In a search, a climb into the centre's cells is on the zero frequency's slope
        // and ends there.
        if (moves > 0 && std::fabs(c) <= 1.5 && std::fabs(r) <= 1.5) break;
        if (moved_on < moves && (std::fabs(c - c0) >= 1 || std::fabs(r - r0) >= 1)) {
            c0 = std::round(c);
            r0 = std::round(r);
            ++moved_on;
        }
        double dc = 0;
        double dr = 0;
        const double det = at.gcc * at.grr - at.gcr * at.gcr;
        if (at.gcc < 0 && det > 0) {
            dc = -(at.grr * at.gc - at.gcr * at.gr) / det;
            dr = -(at.gcc * at.gr - at.gcr * at.gc) / det;
        } else {
            // Not yet where |F|^2 curves like a maximum: a tenth of a bin uphill.
            const double slope = std::hypot(at.gc, at.gr);
            if (!(slope > 0)) break;
            dc = 0.1 * at.gc / slope;
            dr = 0.1 * at.gr / slope;
        }
        // The maximum sought lies within a bin of the grid peak.
        dc = std::clamp(c + dc, c0 - 1, c0 + 1) - c;
        dr = std::clamp(r + dr, r0 - 1, r0 + 1) - r;
        bool moved = false;
        for (int halving = 0; halving < 30; ++halving) {
            const Fit next = evaluate(heights, c + dc, r + dr, table);
            ++passes;
            if (next.g >= at.g) {
                c += dc;
                r += dr;
                at = next;
                moved = true;
                if (trail) trail->mark(std::llround(c), -std::llround(r), 0);
                break;
            }
            dc /= 2;
            dr /= 2;
            if (std::max(std::fabs(dc), std::fabs(dr)) < kSettled / 64) break;
        }
        if (!moved || std::max(std::fabs(dc), std::fabs(dr)) < kSettled) {
            if (moved_on < moves && (std::fabs(c - c0) >= 1 || std::fabs(r - r0) >= 1)) continue;
            settled = true;
            break;
        }
    }
    double fx = c;
    double fy = -r;
    if (fy < 0 || (fy == 0 && fx < 0)) {
        // Refined across the fold: the mirror's frequency has the direction in [0, 180).
        fx = -fx;
        fy = -fy;
    }
    peak.fx = fx;
    peak.fy = fy;
    peak.frequency = std::hypot(axes.ax * fx, axes.ay * fy);
    peak.direction = angle_of(axes.ax * fx, axes.ay * fy);
    peak.amplitude = std::sqrt(at.g);
    peak.steps = passes;
    if (inside) *inside = settled && std::fabs(c - c0) < 1 && std::fabs(r - r0) < 1;
    return at;
}

// The grid's local maxima (is_peak), strongest first by the power of their pair, into
// `list` (allocated here; *count of them), and the power of every sample but the zero
// frequency. False after the allocation message.
bool grid_maxima(const double* power, const Grid& g, Buffer<Candidate>& list, uint64_t* count,
                 double* total) {
    // No two peaks are neighbours, so at most one in each 2 x 2 block.
    uint64_t cap = 0;
    size_mul((uint64_t(g.width) + 1) / 2, (uint64_t(g.height) + 1) / 2, &cap);  // below 2^62
    list = buffer_new<Candidate>(cap);
    if (!list) {
        return false;
    }
    uint64_t n = 0;
    double sum = 0;
    plane_walk(static_cast<uint32_t>(g.width), static_cast<uint32_t>(g.height),
               [&](uint64_t index, int64_t fx, int64_t fy) {
                   if (fx != 0 || fy != 0) sum += power[index];
                   if (n < cap && is_peak(power, g, fx, fy)) {
                       list[n++] = Candidate{pair_power(power, g, fx, fy), index};
                   }
               });
    std::sort(list.get(), list.get() + n, [](const Candidate& a, const Candidate& b) {
        return a.power > b.power || (a.power == b.power && a.index < b.index);
    });
    *count = n;
    *total = sum;
    return true;
}

// The grid maxima of `list` (count of them) and the kStrongest strongest samples of the
// plane outside the centre 3 x 3, one of each pair, each once, strongest first, into
// `merged` (allocated here; *merged_count of them). False after the allocation message.
bool with_strongest(const double* power, const Grid& g, const Candidate* list, uint64_t count,
                    Buffer<Candidate>& merged, uint64_t* merged_count) {
    const uint64_t strong = std::min<uint64_t>(kStrongest, uint64_t(g.width) * uint64_t(g.height));
    merged = buffer_new<Candidate>(count + strong);
    if (!merged) {
        return false;
    }
    // A heap of the strongest samples so far, the weakest on top.
    auto weaker_first = [](const Candidate& a, const Candidate& b) {
        return a.power > b.power || (a.power == b.power && a.index < b.index);
    };
    Candidate* heap = merged.get() + count;
    uint64_t held = 0;
    plane_walk(static_cast<uint32_t>(g.width), static_cast<uint32_t>(g.height),
               [&](uint64_t index, int64_t fx, int64_t fy) {
                   if (fx >= -1 && fx <= 1 && fy >= -1 && fy <= 1) return;
                   const int64_t mx = g.wrap_x(-fx), my = g.wrap_y(-fy);
                   if (!(mx == fx && my == fy) && !(upper(fx, fy) && (!upper(mx, my) || fx > mx))) return;
                   const Candidate c{pair_power(power, g, fx, fy), index};
                   if (held < strong) {
                       heap[held++] = c;
                       std::push_heap(heap, heap + held, weaker_first);
                   } else if (weaker_first(c, heap[0])) {
                       std::pop_heap(heap, heap + held, weaker_first);
                       heap[held - 1] = c;
                       std::push_heap(heap, heap + held, weaker_first);
                   }
               });
    std::copy(list, list + count, merged.get());
    uint64_t n = count + held;
    std::sort(merged.get(), merged.get() + n, weaker_first);
    n = static_cast<uint64_t>(
        std::unique(merged.get(), merged.get() + n,
                    [](const Candidate& a, const Candidate& b) { return a.index == b.index; }) -
        merged.get());
    *merged_count = n;
    return true;
}

// A peak's record from its grid sample, before refinement.
Peak grid_peak(const double* power, const Grid& g, PlaneAxes axes, uint64_t index, double total) {
    Peak p{};
    p.grid_fx = static_cast<int64_t>(index % uint64_t(g.width)) - g.half_w;
    p.grid_fy = g.half_h - static_cast<int64_t>(index / uint64_t(g.width));
    p.grid_power = power[index];
    p.power_share = total > 0 ? block_power(power, g, p.grid_fx, p.grid_fy) / total : 0;
    p.fx = static_cast<double>(p.grid_fx);
    p.fy = static_cast<double>(p.grid_fy);
    p.frequency = std::hypot(axes.ax * p.fx, axes.ay * p.fy);
    p.direction = angle_of(axes.ax * p.fx, axes.ay * p.fy);
    p.amplitude = std::sqrt(p.grid_power);
    return p;
}

// The samples of the plane sorted into rings half a cycle per reference side wide, by
// their physical frequency: ring b holds those from b / 2 to (b + 1) / 2, its indices
// in index[start[b]] .. index[start[b + 1]].
struct Rings {
    Buffer<uint32_t> start;  // rings + 1 values
    Buffer<uint64_t> index;
    Buffer<double> median;  // each ring's median power over ln 2, the centre 3 x 3 left out
    uint32_t rings;
};

double radius_of(PlaneAxes axes, int64_t fx, int64_t fy) {
    return std::hypot(axes.ax * static_cast<double>(fx), axes.ay * static_cast<double>(fy));
}

bool rings_new(const Grid& g, PlaneAxes axes, Rings& rings) {
    const auto width = static_cast<uint32_t>(g.width);
    const auto height = static_cast<uint32_t>(g.height);
    const double corner = radius_of(axes, g.half_w, g.half_h) + 1;
    rings.rings = static_cast<uint32_t>(2 * corner) + 2;
    rings.start = buffer_new<uint32_t>(uint64_t{rings.rings} + 1);
    rings.index = buffer_new<uint64_t>(uint64_t{width} * height);
    if (!rings.start || !rings.index) {
        return false;
    }
    std::fill(rings.start.get(), rings.start.get() + rings.rings + 1, 0u);
    plane_walk(width, height, [&](uint64_t, int64_t fx, int64_t fy) {
        ++rings.start[static_cast<uint32_t>(2 * radius_of(axes, fx, fy)) + 1];
    });
    for (uint32_t b = 0; b < rings.rings; ++b) rings.start[b + 1] += rings.start[b];
    Buffer<uint32_t> next = buffer_new<uint32_t>(rings.rings);
    if (!next) {
        return false;
    }
    std::copy(rings.start.get(), rings.start.get() + rings.rings, next.get());
    plane_walk(width, height, [&](uint64_t k, int64_t fx, int64_t fy) {
        rings.index[next[static_cast<uint32_t>(2 * radius_of(axes, fx, fy))]++] = k;
    });
    return true;
}

// Each ring's median power over ln 2, into rings.median, with `scratch` a sample per
// pixel; false after the allocation message.
bool rings_medians(const double* power, const Grid& g, Rings& rings, double* scratch) {
    rings.median = buffer_new<double>(rings.rings);
    if (!rings.median) {
        return false;
    }
    for (uint32_t b = 0; b < rings.rings; ++b) {
        uint64_t n = 0;
        for (uint64_t i = rings.start[b]; i < rings.start[b + 1]; ++i) {
            const uint64_t k = rings.index[i];
            const int64_t sx = static_cast<int64_t>(k % uint64_t(g.width)) - g.half_w;
            const int64_t sy = g.half_h - static_cast<int64_t>(k / uint64_t(g.width));
            if (sx >= -1 && sx <= 1 && sy >= -1 && sy <= 1) continue;
            scratch[n++] = power[k];
        }
        rings.median[b] = std::numeric_limits<double>::infinity();
        if (n == 0) continue;
        std::nth_element(scratch, scratch + n / 2, scratch + n);
        rings.median[b] = scratch[n / 2] / std::log(2.0);
    }
    return true;
}

// The least of the ring medians (over ln 2) within one cycle per reference side of a
// radius: at most about the background there, for screening.
double background_floor(const Rings& rings, double radius) {
    const auto first = static_cast<uint32_t>(2 * std::max(0.0, radius - 1));
    const auto last = static_cast<uint32_t>(std::min<double>(rings.rings - 1, 2 * (radius + 1)));
    double least = std::numeric_limits<double>::infinity();
    for (uint32_t b = first; b <= last; ++b) least = std::min(least, rings.median[b]);
    return std::isfinite(least) ? least : 0;
}

// The background power at a peak of refined frequency (fx, fy): the median power of the
// samples whose physical frequency lies within one cycle per reference side of the
// peak's (the ring), leaving out the centre 3 x 3 and the 7 x 7 around the peak's nearest
// sample and around its mirror, divided by ln 2 (the median of exponentially distributed
// power, as noise's is, is ln 2 times its mean). Where that leaves fewer than
// kRingLeast samples (next to the centre) the ring is widened, twice as wide each time.
// `scratch` holds a sample per pixel. 0 when the plane holds no such sample.
double background_at(const double* power, const Grid& g, PlaneAxes axes, const Rings& rings, double fx,
                     double fy, double* scratch) {
    const double radius = std::hypot(axes.ax * fx, axes.ay * fy);
    const int64_t px = std::llround(fx);
    const int64_t py = std::llround(fy);
    uint64_t n = 0;
    for (double half = 1;; half *= 2) {
        const auto first = static_cast<uint32_t>(2 * std::max(0.0, radius - half));
        const auto last = static_cast<uint32_t>(std::min<double>(rings.rings - 1, 2 * (radius + half)));
        n = 0;
        for (uint64_t i = rings.start[first]; i < rings.start[last + 1]; ++i) {
            const uint64_t k = rings.index[i];
            const int64_t sx = static_cast<int64_t>(k % uint64_t(g.width)) - g.half_w;
            const int64_t sy = g.half_h - static_cast<int64_t>(k / uint64_t(g.width));
            if (std::fabs(radius_of(axes, sx, sy) - radius) > half) continue;
            if (sx >= -1 && sx <= 1 && sy >= -1 && sy <= 1) continue;
            const bool near = std::llabs(sx - px) <= 3 && std::llabs(sy - py) <= 3;
            const bool near_mirror = std::llabs(sx + px) <= 3 && std::llabs(sy + py) <= 3;
            if (near || near_mirror) continue;
            scratch[n++] = power[k];
        }
        if (n >= kRingLeast || (first == 0 && last == rings.rings - 1)) break;
    }
    if (n == 0) return 0;
    std::nth_element(scratch, scratch + n / 2, scratch + n);
    return scratch[n / 2] / std::log(2.0);
}

// The power a lone component keeps on the grid at worst, half a bin from a sample along
// both axes, relative to its maximum: for each axis |sum of w e^(-i pi u / n)|^2 over
// (sum of w)^2, u the centred coordinate (for no window about 0.405, for Hann 0.72).
double half_bin_loss(const double* window, uint32_t n) {
    double re = 0, im = 0, sum = 0;
    const double mid = (n - 1) / 2.0;
    for (uint32_t j = 0; j < n; ++j) {
        const double w = window ? window[j] : 1;
        const double a = kPi * (j - mid) / n;
        re += w * std::cos(a);
        im -= w * std::sin(a);
        sum += w;
    }
    return sum > 0 ? (re * re + im * im) / (sum * sum) : 1;
}

// The window's moments that the noise of a peak's position depends on: with W = w^2,
// sum(u W) / sum(W) and sum(u^2 W) / sum(W), u the centred coordinate.
void noise_moments(const double* window, uint32_t n, double* q1, double* q2) {
    double s0 = 0, s1 = 0, s2 = 0;
    const double mid = (n - 1) / 2.0;
    for (uint32_t j = 0; j < n; ++j) {
        const double w = window ? window[j] : 1;
        const double u = j - mid;
        s0 += w * w;
        s1 += u * w * w;
        s2 += u * u * w * w;
    }
    *q1 = s0 > 0 ? s1 / s0 : 0;
    *q2 = s0 > 0 ? s2 / s0 : 0;
}

// The standard errors of a refined peak's frequency (cycles per reference side) and
// direction (degrees) from the background power b there and the fit at its maximum
// (peaks.h states the formula). NaN when the fit is not that of a maximum.
void peak_errors(const Fit& at, double b, PlaneAxes axes, uint32_t width, uint32_t height, const double* wx,
                 const double* wy, Peak& peak) {
    const double nan = std::nan("");
    peak.frequency_error = nan;
    peak.direction_error = nan;
    const double det = at.gcc * at.grr - at.gcr * at.gcr;
    if (!(at.gcc < 0 && det > 0) || !(b >= 0)) return;
    double q1x = 0, q2x = 0, q1y = 0, q2y = 0;
    noise_moments(wx, width, &q1x, &q2x);
    noise_moments(wy, height, &q1y, &q2y);
    const double ac = 2 * kPi / width;
    const double ar = 2 * kPi / height;
    // The covariance of the noise's gradient of |F|^2, 2 P B times that of the
    // derivative of the noise's transform per unit of its power.
    const double k = 2 * at.g * b;
    const double scc = k * ac * ac * q2x;
    const double srr = k * ar * ar * q2y;
    const double scr = k * ac * ar * q1x * q1y;
    // H^-1 S H^-1, H the Hessian at the maximum.
    const double icc = at.grr / det, irr = at.gcc / det, icr = -at.gcr / det;
    const double mcc = icc * scc + icr * scr, mcr = icc * scr + icr * srr;
    const double mrc = icr * scc + irr * scr, mrr = icr * scr + irr * srr;
    const double vcc = mcc * icc + mcr * icr;
    const double vrr = mrc * icr + mrr * irr;
    const double vcr = mcc * icr + mcr * irr;
    // To the physical frequency (x, y) = (ax fx, ay fy), fx = c and fy = -r (or both
    // negated across the fold, which leaves the covariances as they are).
    const double x = axes.ax * peak.fx;
    const double y = axes.ay * peak.fy;
    const double vx = axes.ax * axes.ax * vcc;
    const double vy = axes.ay * axes.ay * vrr;
    const double cxy = -axes.ax * axes.ay * vcr;
    const double f2 = x * x + y * y;
    if (!(f2 > 0)) return;
    const double vf = (x * x * vx + y * y * vy + 2 * x * y * cxy) / f2;
    const double vt = (y * y * vx + x * x * vy - 2 * x * y * cxy) / (f2 * f2);
    peak.frequency_error = std::sqrt(std::max(0.0, vf));
    peak.direction_error = std::sqrt(std::max(0.0, vt)) * 180 / kPi;
}

}  // namespace

bool peaks_find(const double* power, uint32_t width, uint32_t height, PlaneAxes axes, uint64_t k,
                Buffer<Peak>& peaks, uint64_t* found) {
    const Grid g{width, height, width / 2, height / 2};
    Buffer<Candidate> list;
    uint64_t count = 0;
    double total = 0;
    if (!grid_maxima(power, g, list, &count, &total)) {
        return false;
    }
    const uint64_t n = std::min(k, count);
    Buffer<Peak> out;
    if (n > 0) {
        out = buffer_new<Peak>(n);
        if (!out) {
            return false;
        }
    }
    for (uint64_t i = 0; i < n; ++i) out[i] = grid_peak(power, g, axes, list[i].index, total);
    peaks = std::move(out);
    *found = n;
    return true;
}

bool peaks_search(const double* power, const double* z, uint32_t width, uint32_t height, PlaneAxes axes,
                  const double* window_x, const double* window_y, uint64_t k, double min_prominence,
                  Buffer<Peak>& peaks, uint64_t* found) {
    const Grid g{width, height, width / 2, height / 2};
    Buffer<Candidate> maxima;
    uint64_t count = 0;
    double total = 0;
    Rings rings{};
    Buffer<Candidate> list;
    if (!grid_maxima(power, g, maxima, &count, &total) || !rings_new(g, axes, rings) ||
        !with_strongest(power, g, maxima.get(), count, list, &count)) {
        return false;
    }
    maxima = Buffer<Candidate>();
    Buffer<uint8_t> mask = buffer_new<uint8_t>(uint64_t{width} * height);
    if (!mask) {
        return false;
    }
    std::fill(mask.get(), mask.get() + uint64_t{width} * height, uint8_t{0});
    const Trail trail{mask.get(), &g};
    uint64_t budget = 0;
    if (!size_mul(k, kRefinedPerPeak, &budget) || !size_add(budget, kRefinedMore, &budget)) budget = count;
    budget = std::min(budget, count);
    Buffer<Peak> out;
    Buffer<double> scratch;
    Buffer<double> table;
    if (budget > 0) {
        out = buffer_new<Peak>(budget);
        scratch = buffer_new<double>(uint64_t{width} * height);
        table = buffer_new<double>(uint64_t{width} * 6 + uint64_t{height} * 2);
        if (!out || !scratch || !table) {
            return false;
        }
    }
    if (budget > 0 && !rings_medians(power, g, rings, scratch.get())) {
        return false;
    }
    // No grid sample weaker than this can give a peak of the least prominence.
    double floor = std::numeric_limits<double>::infinity();
    for (uint32_t b = 0; budget > 0 && b < rings.rings; ++b) floor = std::min(floor, rings.median[b]);
    if (!std::isfinite(floor)) floor = 0;
    const Heights heights{z, width, height, window_x, window_y, mean_of(z, width, height)};
    const double loss = half_bin_loss(window_x, width) * half_bin_loss(window_y, height);
    uint64_t kept = 0;
    uint64_t refined = 0;
    double kth = 0;  // the k-th strongest refined power kept so far, once there are k
    for (uint64_t i = 0; i < count && refined < budget; ++i) {
        const double grid_power = power[list[i].index];
        // No component between the samples keeps less than `loss` of its power on the
        // grid: once k peaks are kept, a weaker sample cannot hide a stronger one.
        if (kept >= k && grid_power < loss * kth) break;
        if (grid_power < loss * min_prominence * floor) break;
        if (mask[list[i].index]) continue;
        Peak p = grid_peak(power, g, axes, list[i].index, total);
        if (grid_power < loss * min_prominence * background_floor(rings, p.frequency)) continue;
        bool inside = false;
        trail.mark(p.grid_fx, p.grid_fy, 0);
        const Fit at = refine(heights, axes, table.get(), p, &inside, kMoves, &trail);
        ++refined;
        trail.mark(std::llround(p.fx), std::llround(p.fy), 0);
        // A maximum of no power is rounding; a climb stopped at the edge of its bin found
        // no maximum there (it rises towards another sample, or the zero frequency); one
        // in the centre 3 x 3's cells is the zero frequency's slope, not a peak.
        const bool maximum = inside && at.gcc < 0 && at.gcc * at.grr - at.gcr * at.gcr > 0;
        if (!(at.g > 0) || !maximum || (std::fabs(p.fx) <= 1.5 && std::fabs(p.fy) <= 1.5)) continue;
        // Two samples may climb to the same maximum.
        bool seen = false;
        for (uint64_t j = 0; j < kept && !seen; ++j) {
            seen = std::fabs(out[j].fx - p.fx) < kSame && std::fabs(out[j].fy - p.fy) < kSame;
        }
        if (seen) continue;
        p.background = background_at(power, g, axes, rings, p.fx, p.fy, scratch.get());
        // A plane with no power around the peak (a lone grating without noise) gives it an
        // infinite prominence.
        p.prominence = p.background > 0 ? at.g / p.background : std::numeric_limits<double>::infinity();
        if (!(p.prominence >= min_prominence)) continue;
        peak_errors(at, p.background, axes, width, height, window_x, window_y, p);
        out[kept++] = p;
        if (kept >= k) {
            peaks_rank(out.get(), kept);
            kth = out[k - 1].amplitude * out[k - 1].amplitude;
        }
    }
    peaks_rank(out.get(), kept);
    peaks = std::move(out);
    *found = std::min(kept, k);
    return true;
}

bool peak_refine(const double* z, uint32_t width, uint32_t height, PlaneAxes axes, const double* window_x,
                 const double* window_y, Peak& peak) {
    Buffer<double> table = buffer_new<double>(uint64_t{width} * 6 + uint64_t{height} * 2);
    if (!table) {
        return false;
    }
    const Heights heights{z, width, height, window_x, window_y, mean_of(z, width, height)};
    refine(heights, axes, table.get(), peak);
    return true;
}

void peaks_rank(Peak* peaks, uint64_t found) {
    std::sort(peaks, peaks + found, [](const Peak& a, const Peak& b) {
        if (a.amplitude != b.amplitude) return a.amplitude > b.amplitude;
        if (a.grid_fy != b.grid_fy) return a.grid_fy > b.grid_fy;
        return a.grid_fx < b.grid_fx;
    });
}
