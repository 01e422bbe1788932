// The one BMP form the program reads and writes: a 14-byte file header and a 40-byte
// information header, no palette, 24 bits per pixel, uncompressed, rows stored bottom-up,
// each row padded with zero bytes to a multiple of 4. All header fields are little-endian.
//
// The reader accepts square pictures only (varlox's input), or on request pictures of any
// width and height (varlox-view's), and reads the rows from the pixel-data offset
// the file gives (54 when the field holds less). It consults the signature, the header
// size (to name an OS/2 bitmap, whose header is 12 bytes), width, height and bytes 28-31 (bit count and the
// low half of the compression field, which together must read 24); a file shorter than its rows is refused,
// not zero-filled.
//
//   bmp_stride(width)    bytes of one stored row: width*3 rounded up to a multiple of 4
//   bmp_read(path, shape)
//                        the picture as a new Image (top-down rows), or null after one
//                        message: "Error: Could not read PATH", "Error: PATH is not a
//                        bitmap image", "Error: PATH is an OS/2 bitmap (12-byte header);
//                        only 24bit color Windows bitmaps with a 40-byte header are read",
//                        "Error: PATH is not a square image" (kBmpSquare only), "Error:
//                        PATH is not a 24bit
//                        color image" (these five without line end),
//                        "Error: PATH is truncated\n" or "Error: Memory allocation error\n"
//   bmp_read_stream(in, path, shape)
//                        the same from a binary stream at the file's start, named path in
//                        the messages; the rows are found by seeking, so a stream that
//                        cannot seek (a pipe) gets "Error: Could not read PATH"
//   bmp_write(path, img) writes img to a file created or truncated at path; 0 on
//                        success, 1 after "Error: Could not write to PATH\n" (file cannot
//                        be created, a write or the close failed, or the picture is too
//                        large for the format; then no file is created) or the
//                        allocation message. A file that was opened stays on disk after a
//                        failure
//   bmp_write_file(file, name, img)
//                        writes img into an open binary file and flushes it, leaving it
//                        open; 0, or 1 after "Error: Could not write to NAME\n" or the
//                        allocation message (name is only for messages)
#pragma once

#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>

#include "image/image.h"

// The shapes bmp_read takes: a square only, or any width and height.
enum BmpShape { kBmpSquare, kBmpAnyShape };

uint64_t bmp_stride(uint32_t width);
ImagePtr bmp_read(const std::string& path, BmpShape shape = kBmpSquare);
ImagePtr bmp_read_stream(std::istream& in, const std::string& path, BmpShape shape = kBmpSquare);
int bmp_write(const std::string& path, const Image& image);
int bmp_write_file(std::FILE* file, const std::string& name, const Image& image);
