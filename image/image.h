// The in-memory picture: the input once it is read, and later the canvas on which every
// spectrum picture is drawn before it is written.
//
// Layout of `pixels`: rows from the top of the picture down (row 0 is the top row), each
// row `width` pixels from left to right, each pixel three bytes in the order blue, green,
// red, no padding between rows. Pixel (row r, column c) starts at byte (r * width + c) * 3.
//
//   image_new(width, height)  a new Image with an uninitialised buffer of width*height*3
//                             bytes, or null after printing "Error: Memory allocation
//                             error\n" (also for a zero width or height)
//   image_free(image)         releases the buffer, then the record; null does nothing
//   image_to_gray(image)      replaces each pixel by the integer mean of its three bytes
#pragma once

#include <cstdint>
#include <memory>

#include "system/size.h"

struct Image {
    uint32_t height;
    uint32_t width;
    Buffer<uint8_t> pixels;
};

struct ImageFree {
    void operator()(Image* image) const noexcept;
};

// An owned Image; null means "no image".
using ImagePtr = std::unique_ptr<Image, ImageFree>;

ImagePtr image_new(uint32_t width, uint32_t height);
void image_free(ImagePtr image);
void image_to_gray(Image& image);
