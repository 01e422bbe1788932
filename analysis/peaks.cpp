#include "analysis/peaks.h"

#include <algorithm>
#include <cmath>

#include "analysis/angles.h"
#include "analysis/plane.h"

namespace {

constexpr double kPi = 3.141592653589793;

// A step shorter than this, in bins, ends the refinement.
constexpr double kSettled = 1e-4;

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

}  // namespace

bool peaks_find(const double* power, uint32_t width, uint32_t height, PlaneAxes axes, uint64_t k,
                Buffer<Peak>& peaks, uint64_t* found) {
    const Grid g{width, height, width / 2, height / 2};
    // No two peaks are neighbours, so at most one in each 2 x 2 block.
    uint64_t cap = 0;
    size_mul((uint64_t{width} + 1) / 2, (uint64_t{height} + 1) / 2, &cap);  // below 2^62 for 32-bit sides
    Buffer<Candidate> list = buffer_new<Candidate>(cap);
    if (!list) {
        return false;
    }
    uint64_t count = 0;
    double total = 0;
    plane_walk(width, height, [&](uint64_t index, int64_t fx, int64_t fy) {
        if (fx != 0 || fy != 0) total += power[index];
        if (count < cap && is_peak(power, g, fx, fy)) {
            list[count++] = Candidate{pair_power(power, g, fx, fy), index};
        }
    });
    std::sort(list.get(), list.get() + count, [](const Candidate& a, const Candidate& b) {
        return a.power > b.power || (a.power == b.power && a.index < b.index);
    });
    const uint64_t n = std::min(k, count);
    Buffer<Peak> out;
    if (n > 0) {
        out = buffer_new<Peak>(n);
        if (!out) {
            return false;
        }
    }
    for (uint64_t i = 0; i < n; ++i) {
        const auto y = static_cast<int64_t>(list[i].index / width);
        const auto x = static_cast<int64_t>(list[i].index % width);
        Peak& p = out[i];
        p = Peak{};
        p.grid_fx = x - g.half_w;
        p.grid_fy = g.half_h - y;
        p.grid_power = power[list[i].index];
        p.power_share = total > 0 ? block_power(power, g, p.grid_fx, p.grid_fy) / total : 0;
        p.fx = static_cast<double>(p.grid_fx);
        p.fy = static_cast<double>(p.grid_fy);
        p.frequency = std::hypot(axes.ax * p.fx, axes.ay * p.fy);
        p.direction = angle_of(axes.ax * p.fx, axes.ay * p.fy);
        p.amplitude = std::sqrt(p.grid_power);
    }
    peaks = std::move(out);
    *found = n;
    return true;
}

bool peak_refine(const double* z, uint32_t width, uint32_t height, PlaneAxes axes, const double* window_x,
                 const double* window_y, Peak& peak) {
    Buffer<double> table = buffer_new<double>(uint64_t{width} * 6 + uint64_t{height} * 2);
    if (!table) {
        return false;
    }
    // The mean changes the grid only next to the zero frequency, but between the grid's
    // frequencies it leaks (without a window, a mean of 150 grey levels pulls a peak at
    // 8 cycles by a third of a bin), so it is taken away before the window.
    double sum = 0;
    const uint64_t count = uint64_t{width} * height;
    for (uint64_t k = 0; k < count; ++k) sum += z[k];
    const Heights heights{z, width, height, window_x, window_y, sum / static_cast<double>(count)};
    // Along the rows (downwards) the frequency is -fy.
    const double c0 = static_cast<double>(peak.grid_fx);
    const double r0 = -static_cast<double>(peak.grid_fy);
    double c = c0;
    double r = r0;
    Fit at = evaluate(heights, c, r, table.get());
    uint32_t passes = 1;
    for (int iteration = 0; iteration < 50; ++iteration) {
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
            const Fit next = evaluate(heights, c + dc, r + dr, table.get());
            ++passes;
            if (next.g >= at.g) {
                c += dc;
                r += dr;
                at = next;
                moved = true;
                break;
            }
            dc /= 2;
            dr /= 2;
            if (std::max(std::fabs(dc), std::fabs(dr)) < kSettled / 64) break;
        }
        if (!moved || std::max(std::fabs(dc), std::fabs(dr)) < kSettled) break;
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
    return true;
}

void peaks_rank(Peak* peaks, uint64_t found) {
    std::sort(peaks, peaks + found, [](const Peak& a, const Peak& b) {
        if (a.amplitude != b.amplitude) return a.amplitude > b.amplitude;
        if (a.grid_fy != b.grid_fy) return a.grid_fy > b.grid_fy;
        return a.grid_fx < b.grid_fx;
    });
}
