#include "spectrum/dft.h"

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "system/report.h"
#include "system/size.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;

// The angle of term (k, j) of a line of n values. Both the literal transform and the
// shared table use this one expression, so they see the same bits.
inline double dft_angle(int64_t k, int64_t j, int64_t n) {
    return ((static_cast<double>(k) * kTwoPi) * static_cast<double>(j)) / static_cast<double>(n);
}

// ---------------------------------------------------------------------------------------
// The fast transform. A plane's lines of one length all use the same n * n angles, so
// their cosines and sines are evaluated once into a table and shared by every line. The
// lines are processed in groups of L lanes: lane l of a group is line l, and one vector
// operation advances the same term (k, j) of L different lines. Each output keeps its own
// running sum over ascending j with exactly the literal transform's operations (two
// products, their sum, then the addition to the running value), so the results are the
// same bits as the literal transform's.

// Doubles from one group's scratch to the next: n elements of L lanes, and three more
// elements, so that the groups' data do not all fall on the same cache sets (n * L is
// often a power of two).
inline int64_t group_stride(int64_t n, int64_t lanes) {
    return (n + 3) * lanes;
}

// A batch of lines, the unit the kernels work on: a few groups of L lanes, each group's
// inputs in lane order (element j of lane l of group g at [g * group_stride + j * L + l])
// and its outputs in the same layout, output k in place of j.
struct BatchArgs {
    const double* table;  // [k][j][cos, sin]
    int64_t n;
    int64_t groups;
    const double* in_re;
    const double* in_im;
    double* out_re;
    double* out_im;
    const bool* real_only;  // per group: every input imaginary part of the group is zero
    int dir;
};

// Which terms a group's sums take: real-only inputs skip the products with their zero
// imaginary parts (see batch_kernel); the direction sets the signs.
enum Terms { kRealForward, kRealInverse, kComplexForward, kComplexInverse };

constexpr bool complex_terms(Terms t) {
    return t == kComplexForward || t == kComplexInverse;
}

// Inputs ahead of the one being summed whose cache lines a tile asks for early: the
// hardware's own prefetching, faced with the several streams of a tile, leaves some
// waits that this removes (a few per cent).
constexpr int64_t kPrefetchAhead = 8;

// The running sums of one register tile, kOutputs x kVectors vectors per part.
template <class Vector, int kVectors, int kOutputs>
struct TileSums {
    Vector re[kOutputs][kVectors];
    Vector im[kOutputs][kVectors];
};

// Asks early for the cache lines of step j + kPrefetchAhead of a tile: its inputs, and
// every fourth step the lines of its table rows (a row advances 16 bytes a step).
template <int64_t kLanes, int kOutputs, Terms kTerms>
inline __attribute__((always_inline)) void tile_prefetch(const double* in_re, const double* in_im,
                                                         const double* t, int64_t n, int64_t j) {
    __builtin_prefetch(in_re + (j + kPrefetchAhead) * kLanes);
    if constexpr (complex_terms(kTerms)) {
        __builtin_prefetch(in_im + (j + kPrefetchAhead) * kLanes);
    }
    if ((j & 3) == 0) {
        for (int q = 0; q < kOutputs; ++q) {
            __builtin_prefetch(t + 2 * (q * n + j + 4 * kPrefetchAhead));
        }
    }
}

// Term j of every sum of a tile whose inputs are complex.
template <class Vector, int kDoubles, int kVectors, int kOutputs, Terms kTerms>
inline __attribute__((always_inline)) void tile_step_complex(TileSums<Vector, kVectors, kOutputs>& a,
                                                             const double* in_re, const double* in_im,
                                                             const double* t, int64_t n, int64_t j) {
    constexpr int64_t kLanes = int64_t{kDoubles} * kVectors;
    for (int u = 0; u < kVectors; ++u) {
        Vector x;
        Vector y;
        __builtin_memcpy(&x, in_re + j * kLanes + u * kDoubles, sizeof x);
        __builtin_memcpy(&y, in_im + j * kLanes + u * kDoubles, sizeof y);
        for (int q = 0; q < kOutputs; ++q) {
            // A scalar times a vector: the compiler broadcasts the table value straight
            // from memory.
            const double c = t[2 * (q * n + j)];
            const double s = t[2 * (q * n + j) + 1];
            if constexpr (kTerms == kComplexForward) {
                a.re[q][u] = a.re[q][u] + (c * x + s * y);
                a.im[q][u] = a.im[q][u] + (c * y - s * x);
            } else {
                a.re[q][u] = a.re[q][u] + (c * x - s * y);
                a.im[q][u] = a.im[q][u] + (c * y + s * x);
            }
        }
    }
}

// Term j of every sum of a tile whose inputs are real. It takes each table value in turn
// across the group's vectors, so that it holds only the inputs, one table value and one
// product besides the sums: three outputs of two AVX2 vectors then fit 16 registers.
template <class Vector, int kDoubles, int kVectors, int kOutputs, Terms kTerms>
inline __attribute__((always_inline)) void tile_step_real(TileSums<Vector, kVectors, kOutputs>& a,
                                                          const double* in_re, const double* t, int64_t n,
                                                          int64_t j) {
    constexpr int64_t kLanes = int64_t{kDoubles} * kVectors;
    Vector x[kVectors];
    for (int u = 0; u < kVectors; ++u) {
        __builtin_memcpy(&x[u], in_re + j * kLanes + u * kDoubles, sizeof(Vector));
    }
    for (int q = 0; q < kOutputs; ++q) {
        const double c = t[2 * (q * n + j)];
        for (int u = 0; u < kVectors; ++u) a.re[q][u] = a.re[q][u] + c * x[u];
        const double s = t[2 * (q * n + j) + 1];
        for (int u = 0; u < kVectors; ++u) {
            if constexpr (kTerms == kRealForward) {
                a.im[q][u] = a.im[q][u] - s * x[u];
            } else {
                a.im[q][u] = a.im[q][u] + s * x[u];
            }
        }
    }
}

// Outputs k .. k + kOutputs - 1 of group g: one register tile of kOutputs x kVectors
// running sums per part, each of kVectors vectors of kDoubles doubles (Vector is double
// when kDoubles is 1). The outputs share each input load; each keeps its own sum, which
// starts at +0 and takes the terms of ascending j with exactly the literal transform's
// operations (two products, their sum, then the addition to the running value).
template <class Vector, int kDoubles, int kVectors, int kOutputs, Terms kTerms>
inline __attribute__((always_inline)) void tile(const BatchArgs& a, int64_t g, int64_t k) {
    constexpr int64_t kLanes = int64_t{kDoubles} * kVectors;
    const int64_t n = a.n;
    const double* in_re = a.in_re + g * group_stride(n, kLanes);
    const double* in_im = a.in_im + g * group_stride(n, kLanes);
    const double* t = a.table + 2 * k * n;  // row q of the block at t + 2 * q * n
    TileSums<Vector, kVectors, kOutputs> sums;
    for (int q = 0; q < kOutputs; ++q) {
        for (int u = 0; u < kVectors; ++u) {
            sums.re[q][u] = Vector{} + 0.0;
            sums.im[q][u] = Vector{} + 0.0;
        }
    }
    if constexpr (complex_terms(kTerms)) {
        for (int64_t j = 0; j < n; ++j) {
            tile_prefetch<kLanes, kOutputs, kTerms>(in_re, in_im, t, n, j);
            tile_step_complex<Vector, kDoubles, kVectors, kOutputs, kTerms>(sums, in_re, in_im, t, n, j);
        }
    } else {
        // Unrolled, the loop's counting stops crowding the instructions the pipes are fed.
#pragma GCC unroll 4
        for (int64_t j = 0; j < n; ++j) {
            tile_prefetch<kLanes, kOutputs, kTerms>(in_re, in_im, t, n, j);
            tile_step_real<Vector, kDoubles, kVectors, kOutputs, kTerms>(sums, in_re, t, n, j);
        }
    }
    double* out_re = a.out_re + g * group_stride(n, kLanes) + k * kLanes;
    double* out_im = a.out_im + g * group_stride(n, kLanes) + k * kLanes;
    for (int q = 0; q < kOutputs; ++q) {
        for (int u = 0; u < kVectors; ++u) {
            __builtin_memcpy(out_re + q * kLanes + u * kDoubles, &sums.re[q][u], sizeof(Vector));
            __builtin_memcpy(out_im + q * kLanes + u * kDoubles, &sums.im[q][u], sizeof(Vector));
        }
    }
}

// How a path blocks its work. A group of lines is kVectors vectors of kDoubles doubles
// (one line per double); a register tile holds kRealOutputs outputs of a group whose
// inputs are real, kComplexOutputs of one whose inputs are complex (a complex term takes
// twice the registers: both input parts, and a temporary for each product pair). The
// 2 * outputs * kVectors running sums, the inputs and the table values of one step of j
// must fit the vector registers, or they spill.
template <class VectorType, int DoublesPerVector, int VectorsPerGroup, int RealOutputs, int ComplexOutputs>
struct Blocking {
    using Vector = VectorType;
    static constexpr int kDoubles = DoublesPerVector;
    static constexpr int kVectors = VectorsPerGroup;
    static constexpr int kRealOutputs = RealOutputs;
    static constexpr int kComplexOutputs = ComplexOutputs;
    static constexpr int64_t kLanes = int64_t{kDoubles} * kVectors;
};

// How the work on a batch is ordered: the outputs in superblocks of kSuperOutputs;
// within a superblock, group by group, block by block of a tile's outputs. The table
// rows of a superblock (kSuperOutputs * 2 * n doubles: 768 KiB at side 2048) then stay
// in the second-level cache while every group of the batch takes them, and the table,
// far larger than the caches for large pictures, is read once per batch of lines
// instead of once per group. Measured with varlox_bench on AMD Zen 4: taking the inputs
// in stretches as well, so that a group's stay in the first-level cache, cost more in
// resumed sums than it saved.
constexpr int64_t kSuperOutputs = 24;  // a multiple of every tile's outputs
constexpr int64_t kBatchLines = 64;

// Every output of the groups whose inputs are real (or complex, as kTerms says) in a
// batch: blocks of kOutputs outputs, and the outputs that do not fill a block one by one.
template <class B, int kOutputs, Terms kTerms>
inline __attribute__((always_inline)) void batch_outputs(const BatchArgs& a) {
    using V = typename B::Vector;
    constexpr int D = B::kDoubles, U = B::kVectors;
    static_assert(kSuperOutputs % kOutputs == 0, "superblocks hold whole blocks");
    const int64_t blocked = a.n - a.n % kOutputs;
    for (int64_t k0 = 0; k0 < blocked; k0 += kSuperOutputs) {
        const int64_t k1 = blocked - k0 < kSuperOutputs ? blocked : k0 + kSuperOutputs;
        for (int64_t g = 0; g < a.groups; ++g) {
            if (a.real_only[g] != !complex_terms(kTerms)) continue;
            for (int64_t k = k0; k < k1; k += kOutputs) {
                tile<V, D, U, kOutputs, kTerms>(a, g, k);
            }
        }
    }
    for (int64_t g = 0; g < a.groups; ++g) {
        if (a.real_only[g] != !complex_terms(kTerms)) continue;
        for (int64_t k = blocked; k < a.n; ++k) {
            tile<V, D, U, 1, kTerms>(a, g, k);
        }
    }
}

// One batch of groups, with the blocking B.
//
// Where every imaginary input of a group is zero the terms that multiply those zeros are
// left out. This keeps every bit: the skipped product is a signed zero; added to a
// nonzero product it changes nothing, and added to a zero product it gives a zero, which
// leaves the running sum unchanged, because a sum that starts at +0 never becomes -0 in
// round-to-nearest. So sum + (c*x + s*(+-0)) == sum + c*x and
// sum + (c*(+-0) - s*x) == sum - s*x.
template <class B>
inline __attribute__((always_inline)) void batch_kernel(const BatchArgs& a) {
    bool any_real = false;
    bool any_complex = false;
    for (int64_t g = 0; g < a.groups; ++g) {
        any_real |= a.real_only[g];
        any_complex |= !a.real_only[g];
    }
    if (any_real) {
        if (a.dir > 0) {
            batch_outputs<B, B::kRealOutputs, kRealForward>(a);
        } else {
            batch_outputs<B, B::kRealOutputs, kRealInverse>(a);
        }
    }
    if (any_complex) {
        if (a.dir > 0) {
            batch_outputs<B, B::kComplexOutputs, kComplexForward>(a);
        } else {
            batch_outputs<B, B::kComplexOutputs, kComplexInverse>(a);
        }
    }
}

typedef double v2d __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));

// One vector path: which it is, its name, its kernel for a batch of lines, the lines per
// group, and whether the processor running the program has what the kernel needs.
// `baseline` marks the paths that every processor of the build's architecture has.
struct PathSpec {
    DftPath path;
    const char* name;
    void (*kernel)(const BatchArgs&);  // null: not built for this architecture
    int64_t lanes;
    bool (*supported)();
    bool baseline;
};

bool always() {
    return true;
}

constexpr PathSpec not_built(DftPath path, const char* name) {
    return PathSpec{path, name, nullptr, 0, nullptr, false};
}

// The blocking of each path was measured with varlox_bench (up to AVX2 there are 16
// vector registers, 32 with AVX-512 and on aarch64), except the aarch64 one, which takes
// SSE2's until it is measured on ARM hardware. AVX2's real tile, 3 outputs of 2 vectors,
// fills the 16 registers exactly (12 sums, 2 inputs, a table value, a product); its
// complex tile stays at 2 outputs, since 3 spill four sums to memory at every step.
using PortableBlocking = Blocking<double, 1, 4, 2, 2>;
void batch_portable(const BatchArgs& a) {
    batch_kernel<PortableBlocking>(a);
}
constexpr PathSpec kPortableRow{kDftPortable, "portable", batch_portable, PortableBlocking::kLanes,
                                always,       true};

// The only place that knows the architectures: one row per path, built or not.
#if defined(__GNUC__) && defined(__x86_64__)
typedef double v2d __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));
using Sse2Blocking = Blocking<v2d, 2, 4, 2, 2>;
using Avx2Blocking = Blocking<v4d, 4, 2, 3, 2>;
using Avx512Blocking = Blocking<v8d, 8, 4, 3, 3>;
void batch_sse2(const BatchArgs& a) {
    batch_kernel<Sse2Blocking>(a);
}
__attribute__((target("avx2"))) void batch_avx2(const BatchArgs& a) {
    batch_kernel<Avx2Blocking>(a);
}
__attribute__((target("avx512f"))) void batch_avx512(const BatchArgs& a) {
    batch_kernel<Avx512Blocking>(a);
}
bool has_avx2() {
    return __builtin_cpu_supports("avx2");
}
bool has_avx512() {
    return __builtin_cpu_supports("avx512f");
}
// SSE2 is part of every x86-64 processor.
constexpr PathSpec kSse2Row{kDftSse2, "sse2", batch_sse2, Sse2Blocking::kLanes, always, true};
constexpr PathSpec kAvx2Row{kDftAvx2, "avx2", batch_avx2, Avx2Blocking::kLanes, has_avx2, false};
constexpr PathSpec kAvx512Row{kDftAvx512, "avx512", batch_avx512, Avx512Blocking::kLanes, has_avx512, false};
#else
constexpr PathSpec kSse2Row = not_built(kDftSse2, "sse2");
constexpr PathSpec kAvx2Row = not_built(kDftAvx2, "avx2");
constexpr PathSpec kAvx512Row = not_built(kDftAvx512, "avx512");
#endif
#if defined(__GNUC__) && defined(__aarch64__)
// Advanced SIMD is part of every aarch64 processor: two doubles per register.
typedef double v2d __attribute__((vector_size(16)));
using NeonBlocking = Blocking<v2d, 2, 4, 2, 2>;
void batch_neon(const BatchArgs& a) {
    batch_kernel<NeonBlocking>(a);
}
constexpr PathSpec kNeonRow{kDftNeon, "neon", batch_neon, NeonBlocking::kLanes, always, true};
#else
constexpr PathSpec kNeonRow = not_built(kDftNeon, "neon");
#endif

// Indexed by DftPath.
constexpr PathSpec kPaths[] = {kPortableRow, kSse2Row, kAvx2Row, kAvx512Row, kNeonRow};

// The order in which paths are preferred where the processor has several: the widest
// vectors first. The portable path, which every processor runs, comes last.
constexpr DftPath kPreference[] = {kDftAvx512, kDftAvx2, kDftSse2, kDftNeon, kDftPortable};

constexpr bool same_name(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Each row sits at its path's index, no two share a name, and a built path's groups fill
// a batch exactly (a wider group would make a batch hold none, and dft_threads_used
// counts batches of kBatchLines lines).
constexpr bool rows_sound() {
    for (int64_t p = 0; p < kDftPathCount; ++p) {
        const PathSpec& row = kPaths[p];
        if (row.path != p || row.name == nullptr || row.name[0] == '\0') return false;
        if (row.kernel != nullptr && (row.lanes < 1 || kBatchLines % row.lanes != 0)) return false;
        for (int64_t q = 0; q < p; ++q) {
            if (same_name(kPaths[q].name, row.name)) return false;
        }
    }
    return true;
}

// Every path appears once, and the last is the portable path.
constexpr bool preference_sound() {
    for (int64_t p = 0; p < kDftPathCount; ++p) {
        int seen = 0;
        for (DftPath q : kPreference) seen += q == p;
        if (seen != 1) return false;
    }
    return kPreference[kDftPathCount - 1] == kDftPortable;
}

static_assert(sizeof kPaths / sizeof kPaths[0] == kDftPathCount, "one row per path");
static_assert(rows_sound(), "rows in DftPath order, distinct names, lanes that divide kBatchLines");
static_assert(sizeof kPreference / sizeof kPreference[0] == kDftPathCount, "every path preferred");
static_assert(preference_sound(), "each path once, the portable path last");

const PathSpec& path_spec(DftPath path) {
    return kPaths[path];
}

// Runs work(index) for index 0 .. threads - 1 at once, index 0 on the calling thread, and
// waits for them all. A thread that cannot be started (no memory, or the system's limit)
// is left out: the work must be shared out as it goes, so that the threads that do run
// finish it. The results never depend on which thread did what.
template <class Work>
void run_threads(int threads, const Work& work) {
    std::unique_ptr<std::thread[]> pool;
    if (threads > 1) {
        pool.reset(new (std::nothrow) std::thread[threads - 1]);
    }
    int started = 0;
    if (pool) {
        for (; started < threads - 1; ++started) {
            try {
                pool[started] = std::thread([&work, started] { work(started + 1); });
            } catch (...) {
                break;
            }
        }
    }
    work(0);
    for (int i = 0; i < started; ++i) {
        pool[i].join();
    }
}

// The angle table of a line of n values, [k][j][cos, sin], filled by several threads that
// take its rows in turn.
//
// For even k the angle of term (k, j) is, bit for bit, that of term (k / 2, 2 j): k * 2pi
// is exactly twice (k / 2) * 2pi (doubling is exact in binary floating point), so both
// products with j are the same real number before their one rounding, and so are the
// quotients by n. So the entries (k, j) of even k > 0 and 2 j < n, a quarter of the table,
// are copied instead of computed: first every other entry is computed, then each of these
// takes the value of the computed entry its chain (k, j) -> (k / 2, 2 j) -> ... ends at.
struct TableFill {
    double* table;
    int64_t n;
    std::atomic<int64_t> next;  // the next row to fill
};

inline bool copied_entry(int64_t k, int64_t j, int64_t n) {
    return k % 2 == 0 && k > 0 && 2 * j < n;
}

void table_compute(TableFill& f) {
    const int64_t n = f.n;
    for (int64_t k = f.next++; k < n; k = f.next++) {
        double* row = f.table + 2 * k * n;
        for (int64_t j = copied_entry(k, 0, n) ? (n + 1) / 2 : 0; j < n; ++j) {
            const double theta = dft_angle(k, j, n);
            row[2 * j] = std::cos(theta);
            row[2 * j + 1] = std::sin(theta);
        }
    }
}

void table_copy(TableFill& f) {
    const int64_t n = f.n;
    for (int64_t k = f.next++; k < n; k = f.next++) {
        if (!copied_entry(k, 0, n)) continue;
        double* row = f.table + 2 * k * n;
        for (int64_t j = 0; 2 * j < n; ++j) {
            int64_t kk = k / 2;
            int64_t jj = 2 * j;
            while (copied_entry(kk, jj, n)) {
                kk /= 2;
                jj *= 2;
            }
            row[2 * j] = f.table[2 * (kk * n + jj)];
            row[2 * j + 1] = f.table[2 * (kk * n + jj) + 1];
        }
    }
}

// Cosines and sines of every angle of a line of n values: 2 * n * n doubles, filled on
// `threads` threads.
Buffer<double> angle_table(int64_t n, int threads) {
    uint64_t count = 0;
    if (!size_mul(static_cast<uint64_t>(n), static_cast<uint64_t>(n), &count) ||
        !size_mul(count, 2, &count)) {
        report_alloc_failure();
        return Buffer<double>();
    }
    Buffer<double> table = buffer_new<double>(count);
    if (!table) {
        return table;
    }
    TableFill fill{table.get(), n, {0}};
    run_threads(threads, [&fill](int) { table_compute(fill); });
    fill.next = 0;
    run_threads(threads, [&fill](int) { table_copy(fill); });
    return table;
}

// One thread's batch scratch, used in both passes: inputs and outputs of kBatchLines
// lanes of up to n values.
struct Scratch {
    Buffer<double> in_re, in_im, out_re, out_im;
};

bool scratch_new(Scratch& s, int64_t n, int64_t lanes) {
    uint64_t count = 0;
    if (!size_mul(static_cast<uint64_t>(n) + 3, static_cast<uint64_t>(lanes), &count)) {
        report_alloc_failure();
        return false;
    }
    s.in_re = buffer_new<double>(count);
    s.in_im = s.in_re ? buffer_new<double>(count) : Buffer<double>();
    s.out_re = s.in_im ? buffer_new<double>(count) : Buffer<double>();
    s.out_im = s.out_re ? buffer_new<double>(count) : Buffer<double>();
    return static_cast<bool>(s.out_im);
}

// Copies `count` doubles, four at a time where it can: a run of a group's lanes is short
// (4 to 32 values), too short for a general memcpy to pay off.
inline void copy_run(double* dst, const double* src, int64_t count) {
    int64_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __builtin_memcpy(dst + i, src + i, 4 * sizeof(double));
    }
    for (; i < count; ++i) {
        dst[i] = src[i];
    }
}

// Copies lines first .. first + used - 1 into lane order: element j of lane l goes to
// dst[j * L + l]. Columns (line_step 1) lie side by side, so each j is one contiguous run
// of lanes; rows (elem_step 1) are copied a cache line of each row at a time.
void gather(double* dst, const double* src, int64_t n, int64_t L, int64_t first, int64_t used,
            int64_t line_step, int64_t elem_step) {
    if (line_step == 1) {
        for (int64_t j = 0; j < n; ++j) {
            copy_run(dst + j * L, src + j * elem_step + first, used);
        }
        return;
    }
    constexpr int64_t kBlock = 8;  // doubles per cache line
    for (int64_t j0 = 0; j0 < n; j0 += kBlock) {
        const int64_t j1 = n - j0 < kBlock ? n : j0 + kBlock;
        for (int64_t l = 0; l < used; ++l) {
            const double* line = src + (first + l) * line_step;
            for (int64_t j = j0; j < j1; ++j) {
                dst[j * L + l] = line[j];
            }
        }
    }
}

// The inverse of gather, dividing each value by `scale` when `divide` is set.
void scatter(double* dst, const double* src, int64_t n, int64_t L, int64_t first, int64_t used,
             int64_t line_step, int64_t elem_step, bool divide, double scale) {
    if (line_step == 1) {
        for (int64_t k = 0; k < n; ++k) {
            double* out = dst + k * elem_step + first;
            const double* in = src + k * L;
            if (divide) {
                for (int64_t l = 0; l < used; ++l) out[l] = in[l] / scale;
            } else {
                copy_run(out, in, used);
            }
        }
        return;
    }
    constexpr int64_t kBlock = 8;
    for (int64_t k0 = 0; k0 < n; k0 += kBlock) {
        const int64_t k1 = n - k0 < kBlock ? n : k0 + kBlock;
        for (int64_t l = 0; l < used; ++l) {
            double* line = dst + (first + l) * line_step;
            for (int64_t k = k0; k < k1; ++k) {
                const double y = src[k * L + l];
                line[k] = divide ? y / scale : y;
            }
        }
    }
}

// Whether every imaginary part of lines first .. first + used - 1 is zero (of either sign).
bool lines_real(const double* im, int64_t n, int64_t first, int64_t used, int64_t line_step,
                int64_t elem_step) {
    for (int64_t m = 0; m < (line_step == 1 ? n : used); ++m) {
        // One contiguous run: a row of the group's columns, or one whole row.
        const double* run = line_step == 1 ? im + m * elem_step + first : im + (first + m) * line_step;
        const int64_t count = line_step == 1 ? used : n;
        int nonzero = 0;
        for (int64_t i = 0; i < count; ++i) nonzero |= run[i] != 0.0;
        if (nonzero != 0) return false;
    }
    return true;
}

// One pass over a plane's lines, shared by several threads: `lines` lines of n values
// transformed in place, element j of line m at m * line_step + j * elem_step, where one of
// the steps is 1: elem_step 1 for rows, line_step 1 for columns. The lines go through the
// kernel in batches of kBatchLines, in groups of the path's lanes; each thread takes the
// next batch when it has finished one.
struct Pass {
    const PathSpec* path;
    const double* table;
    double* re;
    double* im;
    int64_t n, lines, line_step, elem_step;
    int dir;
    std::atomic<int64_t> next;         // the first line of the next batch to take
    std::atomic<int64_t> groups_done;  // by every thread
};

// The batch of lines from `batch` on, through the scratch of one thread; returns its groups.
int64_t transform_batch(const Pass& p, Scratch& s, int64_t batch) {
    const int64_t L = p.path->lanes;
    const int64_t batch_groups = kBatchLines / L;
    const int64_t n = p.n;
    const int64_t lines = p.lines;
    bool real_only[kBatchLines];
    int64_t groups = 0;
    for (int64_t first = batch; first < lines && groups < batch_groups; first += L, ++groups) {
        const int64_t used = lines - first < L ? lines - first : L;
        double* in_re = s.in_re.get() + groups * group_stride(n, L);
        double* in_im = s.in_im.get() + groups * group_stride(n, L);
        real_only[groups] = lines_real(p.im, n, first, used, p.line_step, p.elem_step);
        gather(in_re, p.re, n, L, first, used, p.line_step, p.elem_step);
        // A real group's kernel never reads the imaginary inputs.
        if (!real_only[groups]) {
            gather(in_im, p.im, n, L, first, used, p.line_step, p.elem_step);
        }
        // Lanes past the last line are zero and their results are dropped; clearing
        // them keeps stale or uninitialised values (denormals, NaNs) out of the loop.
        if (used < L) {
            for (int64_t j = 0; j < n; ++j) {
                for (int64_t l = used; l < L; ++l) {
                    in_re[j * L + l] = 0.0;
                    in_im[j * L + l] = 0.0;
                }
            }
        }
    }
    p.path->kernel(BatchArgs{p.table, n, groups, s.in_re.get(), s.in_im.get(), s.out_re.get(), s.out_im.get(),
                             real_only, p.dir});
    const double scale = static_cast<double>(n);
    for (int64_t g = 0; g < groups; ++g) {
        const int64_t first = batch + g * L;
        const int64_t used = lines - first < L ? lines - first : L;
        scatter(p.re, s.out_re.get() + g * group_stride(n, L), n, L, first, used, p.line_step, p.elem_step,
                p.dir == -1, scale);
        scatter(p.im, s.out_im.get() + g * group_stride(n, L), n, L, first, used, p.line_step, p.elem_step,
                p.dir == -1, scale);
    }
    return groups;
}

// Reports the fraction of a transform's groups done: `before` in earlier passes and those
// of this pass by every thread so far; and asks the calling thread's stop check.
struct Tally {
    const DftProgress* progress;
    int64_t before;
    int64_t total;
    int64_t reported;  // the count last reported
    const DftStop* stop;
    bool stopped;
};

VARLOX_THREAD_LOCAL const DftStop* stop_check = nullptr;

void tally_report(Tally& tally, const Pass& pass) {
    const int64_t done = tally.before + pass.groups_done.load();
    if (tally.progress != nullptr && done != tally.reported) {
        tally.reported = done;
        tally.progress->report(tally.progress->context,
                               static_cast<double>(done) / static_cast<double>(tally.total));
    }
}

// A thread's share of a pass. Only the calling thread (index 0, given the tally) reports
// progress, so the report function is never called from two threads.
// A stop ends the pass: the next batch any thread takes lies past the last line.
void pass_work(Pass& p, Scratch& s, Tally* tally) {
    const int64_t step = kBatchLines;
    for (int64_t batch = p.next.fetch_add(step); batch < p.lines; batch = p.next.fetch_add(step)) {
        p.groups_done += transform_batch(p, s, batch);
        if (tally == nullptr) continue;
        tally_report(*tally, p);
        if (tally->stop != nullptr && tally->stop->stop(tally->stop->context)) {
            tally->stopped = true;
            p.next = p.lines;
        }
    }
}

// Transforms the lines of a pass on `threads` threads, each with its scratch.
void transform_lines(const PathSpec& path, const double* table, Scratch* scratch, int threads, double* re,
                     double* im, int64_t n, int64_t lines, int64_t line_step, int64_t elem_step, int dir,
                     Tally& tally) {
    Pass pass{&path, table, re, im, n, lines, line_step, elem_step, dir, {0}, {0}};
    run_threads(threads, [&](int index) { pass_work(pass, scratch[index], index == 0 ? &tally : nullptr); });
    // The calling thread may have finished its last batch before the others theirs.
    tally_report(tally, pass);
    tally.before += pass.groups_done.load();
}

// The caller's errors, refused before anything is touched: whether a line length is
// below 1, a direction is not +1 or -1, a path does not run here, each with its message.
bool length_refused(int64_t n) {
    if (n >= 1) return false;
    report("Error: A transform needs a length of 1 or more, not %" PRId64 "\n", n);
    return true;
}

bool direction_refused(int dir) {
    if (dir == +1 || dir == -1) return false;
    report("Error: A transform's direction is +1 or -1, not %d\n", dir);
    return true;
}

bool path_refused(DftPath path) {
    if (dft_path_supported(path)) return false;
    report("Error: This processor cannot run the transform's %s path\n", dft_path_name(path));
    return true;
}

int transform_plane(DftPath path, double* re, double* im, int32_t width, int32_t height, int dir, int threads,
                    const DftProgress* progress) {
    if (length_refused(width) || length_refused(height) || path_refused(path)) {
        return 1;
    }
    const PathSpec& info = path_spec(path);
    const int64_t w = width;
    const int64_t h = height;
    const int64_t longest = w > h ? w : h;
    threads = dft_threads_used(width, height, threads);
    // Everything a square plane needs is allocated before the first line is touched.
    std::unique_ptr<Scratch[]> scratch(new (std::nothrow) Scratch[threads]);
    if (!scratch) {
        report_alloc_failure();
        return 1;
    }
    for (int i = 0; i < threads; ++i) {
        if (!scratch_new(scratch[i], longest, kBatchLines)) {
            return 1;
        }
    }
    Buffer<double> table = angle_table(w, threads);
    if (!table) {
        return 1;
    }
    const auto groups = [&](int64_t lines) { return (lines + info.lanes - 1) / info.lanes; };
    Tally tally{progress, 0, groups(h) + groups(w), 0, stop_check, false};
    transform_lines(info, table.get(), scratch.get(), threads, re, im, w, h, w, 1, dir, tally);
    if (tally.stopped) {
        return 2;
    }
    if (w != h) {
        table.reset();
        table = angle_table(h, threads);
        if (!table) {
            return 1;
        }
    }
    transform_lines(info, table.get(), scratch.get(), threads, re, im, h, w, 1, w, dir, tally);
    return tally.stopped ? 2 : 0;
}

}  // namespace

const DftStop* dft_stop_set(const DftStop* stop) {
    const DftStop* before = stop_check;
    stop_check = stop;
    return before;
}

int dft_1d(double* re, double* im, int32_t n, int dir) {
    if (direction_refused(dir) || length_refused(n)) {
        return 1;
    }
    Buffer<double> out_re = buffer_new<double>(static_cast<uint64_t>(n));
    if (!out_re) {
        return 1;
    }
    Buffer<double> out_im = buffer_new<double>(static_cast<uint64_t>(n));
    if (!out_im) {
        return 1;
    }
    std::memset(out_re.get(), 0, sizeof(double) * static_cast<uint64_t>(n));
    std::memset(out_im.get(), 0, sizeof(double) * static_cast<uint64_t>(n));
    const double scale = dir == -1 ? static_cast<double>(n) : 1.0;
    for (int64_t k = 0; k < n; ++k) {
        for (int64_t j = 0; j < n; ++j) {
            const double theta = dft_angle(k, j, n);
            out_re[k] += std::cos(theta) * re[j] + std::sin(theta) * (dir * im[j]);
            out_im[k] += std::cos(theta) * im[j] + std::sin(theta) * (-dir * re[j]);
        }
        out_re[k] /= scale;
        out_im[k] /= scale;
    }
    std::memcpy(re, out_re.get(), sizeof(double) * static_cast<uint64_t>(n));
    std::memcpy(im, out_im.get(), sizeof(double) * static_cast<uint64_t>(n));
    return 0;
}

int dft_2d_literal(double* re, double* im, int32_t width, int32_t height, int dir) {
    if (direction_refused(dir) || length_refused(width) || length_refused(height)) {
        return 1;
    }
    const int64_t w = width;
    const int64_t h = height;
    int status = 0;
    {
        Buffer<double> row_re = buffer_new<double>(static_cast<uint64_t>(w));
        Buffer<double> row_im = row_re ? buffer_new<double>(static_cast<uint64_t>(w)) : Buffer<double>();
        if (!row_im) {
            return 1;
        }
        for (int64_t r = 0; r < h; ++r) {
            std::memcpy(row_re.get(), re + r * w, sizeof(double) * static_cast<uint64_t>(w));
            std::memcpy(row_im.get(), im + r * w, sizeof(double) * static_cast<uint64_t>(w));
            status |= dft_1d(row_re.get(), row_im.get(), width, dir);
            std::memcpy(re + r * w, row_re.get(), sizeof(double) * static_cast<uint64_t>(w));
            std::memcpy(im + r * w, row_im.get(), sizeof(double) * static_cast<uint64_t>(w));
        }
    }
    Buffer<double> col_re = buffer_new<double>(static_cast<uint64_t>(h));
    Buffer<double> col_im = col_re ? buffer_new<double>(static_cast<uint64_t>(h)) : Buffer<double>();
    if (!col_im) {
        return 1;
    }
    for (int64_t c = 0; c < w; ++c) {
        for (int64_t r = 0; r < h; ++r) {
            col_re[r] = re[r * w + c];
            col_im[r] = im[r * w + c];
        }
        status |= dft_1d(col_re.get(), col_im.get(), height, dir);
        for (int64_t r = 0; r < h; ++r) {
            re[r * w + c] = col_re[r];
            im[r * w + c] = col_im[r];
        }
    }
    return status;
}

bool dft_path_supported(DftPath path) {
    return path >= 0 && path < kDftPathCount && path_spec(path).kernel != nullptr &&
           path_spec(path).supported();
}

bool dft_path_baseline(DftPath path) {
    return path >= 0 && path < kDftPathCount && path_spec(path).baseline;
}

const char* dft_path_name(DftPath path) {
    return path >= 0 && path < kDftPathCount ? path_spec(path).name : "unknown";
}

DftPath dft_path_best() {
    static const DftPath best = [] {
        for (DftPath p : kPreference) {
            if (dft_path_supported(p)) return p;
        }
        return kDftPortable;
    }();
    return best;
}

int dft_threads_used(int32_t width, int32_t height, int threads) {
    // More threads than batches in the longer pass would have nothing to do. Every path's
    // batch is kBatchLines lines.
    const int64_t longest = width > height ? width : height;
    const int64_t batches = (longest + kBatchLines - 1) / kBatchLines;
    if (threads > batches) threads = static_cast<int>(batches);
    return threads < 1 ? 1 : threads;
}

int dft_2d_run(double* re, double* im, int32_t width, int32_t height, DftDirection direction,
               const DftRun& run) {
    const DftPath path = run.path == kDftBest ? dft_path_best() : run.path;
    const int dir = direction == DftDirection::kInverse ? -1 : +1;
    return transform_plane(path, re, im, width, height, dir, run.threads, run.progress);
}

int dft_2d(double* re, double* im, int32_t width, int32_t height, int dir) {
    if (direction_refused(dir)) {
        return 1;
    }
    const DftDirection direction = dir == -1 ? DftDirection::kInverse : DftDirection::kForward;
    return dft_2d_run(re, im, width, height, direction, DftRun{});
}
