#include "PngWriter.h"

#include "OutputFile.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include <unistd.h>

namespace vxqir::sim {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

/// Owns libpng's write and info structures.
class PngWriteStruct {
public:
    PngWriteStruct()
        : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr))
        , info_(png_ ? png_create_info_struct(png_) : nullptr)
    { }
    ~PngWriteStruct() { png_destroy_write_struct(&png_, info_ ? &info_ : nullptr); }
    PngWriteStruct(const PngWriteStruct&) = delete;
    PngWriteStruct& operator=(const PngWriteStruct&) = delete;

    bool valid() const { return png_ != nullptr && info_ != nullptr; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_;
    png_infop info_;
};

// libpng reports errors by longjmp; this function holds no object with a
// destructor between setjmp and the calls that may jump.
bool writeRows(png_structp png, png_infop info, FILE* file, const PixelLayout& layout, uint16_t width, uint16_t height,
               const uint8_t* pixels, size_t rowBytes)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, static_cast<int>(layout.bitDepth), layout.pngColorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (layout.bitDepth == 16)
        png_set_swap(png); // our samples are little-endian, PNG's big-endian
    for (uint16_t y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(pixels + y * rowBytes));
    png_write_end(png, nullptr);
    return true;
}

} // namespace

std::string writePng(const std::filesystem::path& path, PixelFormat format, uint16_t width, uint16_t height,
                     std::span<const uint8_t> pixels)
{
    const PixelLayout& layout = pixelLayout(format);
    const size_t rowBytes = bytesPerLine(format, width);
    if (width == 0 || height == 0)
        return path.string() + ": a picture needs a width and a height above 0";
    if (pixels.size() != rowBytes * height)
        return path.string() + ": " + std::to_string(pixels.size()) + " bytes do not make " + std::to_string(height) +
            " lines of " + std::to_string(width) + " " + std::string(layout.name) + " pixels";

    // The picture appears under its name only when complete; a failed
    // write leaves no half picture.
    std::optional<qir::tools::OutputFile> output;
    try {
        output.emplace(path.string(), "picture");
    } catch (const qir::tools::OutputFileError& e) {
        return e.what();
    }
    const int fd = ::dup(output->fd());
    std::unique_ptr<FILE, FileCloser> file(fd < 0 ? nullptr : ::fdopen(fd, "wb"));
    if (!file) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return path.string() + ": cannot create: " + std::strerror(error);
    }
    PngWriteStruct png;
    if (!png.valid())
        return path.string() + ": libpng could not start a picture";
    if (!writeRows(png.png(), png.info(), file.get(), layout, width, height, pixels.data(), rowBytes))
        return path.string() + ": libpng failed while writing";
    if (std::fclose(file.release()) != 0)
        return path.string() + ": cannot write: " + std::strerror(errno);
    try {
        output->commit();
    } catch (const qir::tools::OutputFileError& e) {
        return e.what();
    }
    return {};
}

} // namespace vxqir::sim
