// The direct discrete Fourier transform of complex lines and planes, term by term from
// its definition: the literal transform, line by line, and the fast one, which shares
// each length's table of cosines and sines among all its lines and sums many lines at
// once in vector registers, on one of several vector paths, with the very same bits.
// The centred spectrum of a picture or of a height map is in spectrum/spectrum.h.
//
// Layout. A complex line is two parallel arrays of doubles, real and imaginary parts; a
// plane of width x height values is two such arrays in row-major order (element (r, c) at
// index r * width + c). Every transform works in place: the results replace the inputs.
//
// The mathematics, for a line x of n values, k and j in 0 .. n - 1:
//   forward:  X[k] = sum_j x[j] e^(-2 pi i k j / n), with no normalising factor;
//   inverse:  x[j] = (1 / n) sum_k X[k] e^(+2 pi i k j / n), so that the inverse of the
//             forward transform gives the line back.
// Output k is frequency k: the zero frequency sits at index 0 of a line, at row 0,
// column 0 of a plane. A plane's transform is that of every row, then of every column.
//
// The bits. Each term's angle is ((k * 2pi) * j) / n in double precision with 2pi =
// 6.283185307179586, its cosine c and sine s straight from the standard library: no
// recurrence, no symmetry and no index reduction, so every term carries the exact value of
// its own angle (the fast transform takes the values of a term whose angle has the very
// same bits, as that of an even k has that of k/2 at 2j). Output k is a running sum from
// +0 over ascending j of c * re[j] + s * im[j] (real part) and c * im[j] - s * re[j]
// (imaginary part) forward, c * re[j] - s * im[j] and c * im[j] + s * re[j] inverse, each
// product rounded, then their sum, then the addition; the inverse divides each finished
// sum by n. No multiply and add are fused (the build forbids contraction).
//
// Failures. Every transform returns 0, or 1 after one line on standard error. A failed
// allocation prints "Error: Memory allocation error\n". The caller's errors are refused
// before anything is allocated or touched: a line length (n, a width or a height) below 1
// with "Error: A transform needs a length of 1 or more, not N\n", an int direction other
// than +1 or -1 with "Error: A transform's direction is +1 or -1, not D\n", and a vector
// path this processor cannot run with "Error: This processor cannot run the transform's
// NAME path\n".
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------
// The literal transform: the definition above, one line at a time. It is the reference
// the fast transform is checked against, bit for bit; at side N a plane costs 2 N^3
// cosines and as many sines (seconds at 512, a minute at 1024).

// One line of n values, forward for dir = +1, inverse for dir = -1. On failure the line is
// unchanged.
int dft_1d(double* re, double* im, int32_t n, int dir);

// dft_1d on every row of the plane in turn, then on every column. On a failed allocation
// the plane may be left transformed in part.
int dft_2d_literal(double* re, double* im, int32_t width, int32_t height, int dir);

// ---------------------------------------------------------------------------------------
// The fast transform: the bits of dft_2d_literal, with one table of cosines and sines per
// length (16 bytes per pixel of a square plane, rebuilt on every call) and batches of 64
// lines, in groups of a vector path's lanes, through a kernel that advances the same term
// of every line of a group with one vector operation.

enum class DftDirection { kForward, kInverse };

// The vector paths. The x86-64 paths are chosen at run time by what the processor offers;
// the aarch64 path uses Advanced SIMD, which every aarch64 processor has. A path of
// another architecture is never supported. docs/DEVELOPING.md says how to add a path.
enum DftPath { kDftPortable, kDftSse2, kDftAvx2, kDftAvx512, kDftNeon, kDftPathCount };

// In DftRun::path: dft_path_best(), whichever path that is on this processor.
constexpr DftPath kDftBest = kDftPathCount;

// Progress of a long transform: report(context, done), with done rising to 1.
struct DftProgress {
    void (*report)(void* context, double done);
    void* context;
};

// How dft_2d_run runs a transform; DftRun{} is the best path on the calling thread alone.
struct DftRun {
    DftPath path = kDftBest;                // a path of its own for the tests and benchmarks
    int threads = 1;                        // 1: the calling thread alone; see dft_threads_used
    const DftProgress* progress = nullptr;  // may be null
};

// The plane's transform in `direction`, the same bits as dft_2d_literal's, on the path
// and the threads of `run`. The lines of each pass, and the rows of the angle table, are
// shared among dft_threads_used(width, height, run.threads) threads; each line is summed
// by one thread in its fixed order, so every number of threads gives the same bits. The
// threads end before it returns; one that cannot be started leaves its share to the
// others. Progress, when asked for, is reported from the calling thread only, after each
// group of lines of any thread; for a square plane every allocation precedes the first
// report, so no message interrupts a progress display. On failure the plane is
// unchanged, except for a non-square plane whose column table could not be allocated,
// which is left transformed along its rows only.
int dft_2d_run(double* re, double* im, int32_t width, int32_t height, DftDirection direction,
               const DftRun& run);

// dft_2d_run on the best path and the calling thread alone, forward for dir = +1 and
// inverse for dir = -1: the plane's transform as the literal one gives it, fast.
int dft_2d(double* re, double* im, int32_t width, int32_t height, int dir);

// A check that a long transform should stop, asked on the calling thread after each of
// its batches of lines: when stop(context) returns true, every thread of the transform
// ends after its batch and dft_2d_run returns 2, without a message, its plane left
// transformed in part. It is set per thread and holds for every transform the thread
// runs until it is cleared; the programs set none (a signal ends them), the Python
// module one that looks for Ctrl-C.
struct DftStop {
    bool (*stop)(void* context);
    void* context;
};

// Sets this thread's stop check (nullptr: none); returns the one set before.
const DftStop* dft_stop_set(const DftStop* stop);

// The threads dft_2d_run starts for a plane when asked for `threads`: at least 1, at most
// the longer pass's batches of 64 lines.
int dft_threads_used(int32_t width, int32_t height, int threads);

// Whether this processor can run `path`.
bool dft_path_supported(DftPath path);

// The path kDftBest stands for: the first that this processor runs in the order of
// preference, widest vectors first; the portable path where no other runs.
DftPath dft_path_best();

// Whether every processor of the build's architecture can run `path`: the portable path,
// and SSE2 on x86-64 or Advanced SIMD on aarch64.
bool dft_path_baseline(DftPath path);

// A short name of `path` for messages ("portable", "sse2", "avx2", "avx512", "neon"), and
// "unknown" for any other value.
const char* dft_path_name(DftPath path);
