#include "image/image.h"

#include <new>

void ImageFree::operator()(Image* image) const noexcept {
    if (image == nullptr) {
        return;
    }
    image->pixels.reset();
    image->~Image();
    std::free(image);
}

ImagePtr image_new(uint32_t width, uint32_t height) {
    void* record = memory_alloc(sizeof(Image));
    if (record == nullptr) {
        return ImagePtr();
    }
    ImagePtr image(new (record) Image{height, width, Buffer<uint8_t>()});
    uint64_t count = 0;
    uint64_t bytes = 0;
    if (!size_mul(width, height, &count) || !size_mul(count, 3, &bytes)) {
        report_alloc_failure();
        return ImagePtr();
    }
    image->pixels = buffer_new<uint8_t>(bytes);
    if (!image->pixels) {
        return ImagePtr();
    }
    return image;
}

void image_free(ImagePtr image) {
    image.reset();
}

void image_to_gray(Image& image) {
    const uint64_t count = static_cast<uint64_t>(image.width) * image.height;
    uint8_t* p = image.pixels.get();
    for (uint64_t i = 0; i < count; ++i, p += 3) {
        const unsigned sum = unsigned{p[0]} + p[1] + p[2];
        const auto gray = static_cast<uint8_t>(sum / 3);
        p[0] = gray;
        p[1] = gray;
        p[2] = gray;
    }
}
