// The direct discrete Fourier transform, and the centred spectrum of a picture.
//
// A complex sequence is two parallel arrays of doubles, real and imaginary parts; a plane
// of width x height values is two such arrays in row-major order (element (r, c) at index
// r * width + c). Every transform works in place: the results replace the inputs.
//
// Forward (dir = +1):  X[k] = sum_j x[j] * e^(-2 pi i k j / n), no normalising factor.
// Inverse (dir = -1):  the kernel conjugated and the sum divided by n, so a forward
//                      transform followed by an inverse one gives the input back.
// Each term's angle is ((k * 2pi) * j) / n in double precision with 2pi =
// 6.283185307179586, and its sine and cosine come straight from the standard library:
// there is no recurrence, no symmetry and no index reduction, so every term carries the
// exact value of its own angle (the fast transform takes the values of a term whose
// angle has the very same bits, as that of an even k has that of k/2 at 2j). Sums run
// over j in ascending order.
//
// Before centring the zero frequency sits at index 0 of a line; image_spectrum moves it
// to row height/2, column width/2.
//
//   dft_1d(re, im, n, dir)          one line of n values, term by term; 0, or 1 after
//                                   "Error: Memory allocation error\n" (inputs unchanged;
//                                   also for n < 1)
//   dft_2d(re, im, w, h, dir)       every row, then every column; the results are
//                                   bit-identical to dft_1d applied to each line in that
//                                   order. Returns 0, or 1 after the allocation message:
//                                   then the plane is unchanged, except for a non-square
//                                   plane whose column table could not be allocated,
//                                   which is left transformed along its rows only
//   dft_2d_progress(re, im, w, h, dir, progress)
//                                   dft_2d, reporting the fraction done after each group
//                                   of lines through `progress` (may be null). For a
//                                   square plane every allocation precedes the first
//                                   report, so no message interrupts a progress display
//   dft_2d_run(re, im, w, h, dir, run)
//                                   dft_2d_progress on the path and the number of threads
//                                   of `run`: the lines of each pass, and the rows of the
//                                   angle table, are shared among the threads; every line
//                                   is still summed by one thread in its fixed order, so the
//                                   results are the same bits for every number of threads.
//                                   Progress is reported from the calling thread only,
//                                   counting the lines of every thread. The threads end
//                                   before it returns; a thread that cannot be started
//                                   leaves the work to the others
//   dft_threads_used(w, h, threads)  the threads dft_2d_run starts for a plane when asked
//                                   for `threads`: at least 1, at most the longer pass's
//                                   batches of 64 lines
//   dft_2d_on(path, re, im, w, h, dir)  dft_2d on a chosen vector path (for the tests and
//                                   the benchmark); a path the processor lacks returns 1
//   dft_2d_literal(re, im, w, h, dir)   dft_1d on every row, then every column: the
//                                   reference the fast transform is checked against
//   dft_path_supported(path)        whether this processor can run a path
//   dft_path_best()                 the path dft_2d takes: the first this processor can
//                                   run in the order of preference, widest vectors first
//   dft_path_baseline(path)         whether every processor of the build's architecture
//                                   can: the portable path, and SSE2 on x86-64 or Advanced
//                                   SIMD on aarch64
//   dft_path_name(path)             a short name for messages
//   swap_quadrants(re, im, w, h)    cyclic shift of both planes by (h/2, w/2): element
//                                   (y, x) moves to ((y + h/2) mod h, (x + w/2) mod w)
//   image_spectrum(image, re, im, progress, threads)
//                                   fills the planes (width*height values each, owned by
//                                   the caller) with the picture's centred spectrum; the
//                                   grey level is taken from each pixel's red byte; the
//                                   transform runs on `threads` threads (dft_2d_run).
//                                   0, or 1 when the transform failed
//   heights_spectrum(z, side, re, im, progress, threads)
//                                   the same for a square grid of heights (side*side
//                                   doubles, row-major, row 0 the top): the planes hold
//                                   their centred spectrum. For the red bytes of a grey
//                                   picture the planes are image_spectrum's, bit for bit.
//                                   0, or 1 when the transform failed
#pragma once

#include <cstdint>

#include "image/image.h"

// The x86-64 paths are chosen at run time by what the processor offers; the aarch64 path
// uses Advanced SIMD, which every aarch64 processor has. A path of another architecture
// is never supported. docs/DEVELOPING.md says how to add a path.
enum DftPath { kDftPortable, kDftSse2, kDftAvx2, kDftAvx512, kDftNeon, kDftPathCount };

// Progress of a long transform: report(context, done) with done rising to 1.
struct DftProgress {
    void (*report)(void* context, double done);
    void* context;
};

// How dft_2d_run runs a transform.
struct DftRun {
    DftPath path;                  // kDftPathCount: dft_path_best()
    int threads;                   // 1: the calling thread alone; see dft_threads_used
    const DftProgress* progress;   // may be null
};

int dft_1d(double* re, double* im, int32_t n, int dir);
int dft_2d(double* re, double* im, int32_t width, int32_t height, int dir);
int dft_2d_progress(double* re, double* im, int32_t width, int32_t height, int dir,
                    const DftProgress* progress);
int dft_2d_run(double* re, double* im, int32_t width, int32_t height, int dir, const DftRun& run);
int dft_threads_used(int32_t width, int32_t height, int threads);
int dft_2d_on(DftPath path, double* re, double* im, int32_t width, int32_t height, int dir);
int dft_2d_literal(double* re, double* im, int32_t width, int32_t height, int dir);
bool dft_path_supported(DftPath path);
DftPath dft_path_best();
bool dft_path_baseline(DftPath path);
const char* dft_path_name(DftPath path);

void swap_quadrants(double* re, double* im, int32_t width, int32_t height);
int image_spectrum(const Image& image, double* re, double* im,
                   const DftProgress* progress = nullptr, int threads = 1);
int heights_spectrum(const double* z, uint32_t side, double* re, double* im,
                     const DftProgress* progress = nullptr, int threads = 1);
