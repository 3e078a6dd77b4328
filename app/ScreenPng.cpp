#include "app/ScreenPng.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

namespace fm::app {

namespace {

struct PngErrors {
    char message[256] = {};
    int systemError = 0;  // errno when libpng gave up, e.g. on a failed write
};

// libpng reports a fatal error here and must not return: back to the setjmp in the writer.
void onError(png_structp png, png_const_charp message) {
    auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
    errors->systemError = errno;
    std::snprintf(errors->message, sizeof errors->message, "%s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Only plain C state lives between setjmp and a longjmp, so nothing is left undestroyed.
bool encode(const QImage& image, std::FILE* file, PngErrors* errors) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, errors, onError, onWarning);
    if (png == nullptr) {
        std::snprintf(errors->message, sizeof errors->message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        if (errors->message[0] == '\0') {
            std::snprintf(errors->message, sizeof errors->message, "out of memory");
        }
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                 static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        png_set_pHYs(png, info, static_cast<png_uint_32>(image.dotsPerMeterX()),
                     static_cast<png_uint_32>(image.dotsPerMeterY()), PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    // An RGB32 pixel is one 32-bit 0xffRRGGBB word: in memory B, G, R, 0xff here, or
    // 0xff, R, G, B on a big-endian machine.
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    } else {
        png_set_filler(png, 0, PNG_FILLER_BEFORE);
    }
    for (int y = 0; y < image.height(); ++y) {
        png_write_row(png, image.constScanLine(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool writeScreenPng(const QImage& image, std::FILE* file, std::string* why) {
    if (image.format() != QImage::Format_RGB32 || image.isNull()) {
        *why = "not an opaque 32-bit picture";
        return false;
    }
    PngErrors errors;
    if (!encode(image, file, &errors)) {
        // A write that failed says why in errno (a full disk), better than libpng's words.
        *why = std::ferror(file) != 0 && errors.systemError != 0 ? std::strerror(errors.systemError)
                                                                 : errors.message;
        return false;
    }
    if (std::fflush(file) != 0 || std::ferror(file) != 0) {
        *why = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace fm::app
