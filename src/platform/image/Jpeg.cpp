#include "platform/image/Jpeg.h"

#include <algorithm>
#include <memory>
#include <turbojpeg.h>

namespace velnote::platform {

namespace {

struct HandleCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct BufferFree {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

[[noreturn]] void fail(void* handle, const char* what) {
    throw ImageError(std::string(what) + ": " + tjGetErrorStr2(handle));
}

Handle open(tjhandle handle) {
    if (handle == nullptr)
        throw ImageError(std::string("cannot start the JPEG codec: ") + tjGetErrorStr2(nullptr));
    return Handle(handle);
}

} // namespace

RgbImage decodeJpeg(std::string_view bytes) {
    if (bytes.empty())
        throw ImageError("empty image data");
    const Handle handle = open(tjInitDecompress());
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), data, bytes.size(), &width, &height, &subsampling, &colorspace) !=
        0)
        fail(handle.get(), "not a readable JPEG");
    if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxDecodedJpegPixels)
        throw ImageError("JPEG too large to decode: " + std::to_string(width) + "x" + std::to_string(height));
    RgbImage image{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    // Progressive files with endless scans are a known way to make decoding take forever.
    const int flags = TJFLAG_LIMITSCANS;
    if (tjDecompress2(handle.get(), data, bytes.size(), image.pixels.data(), width, 0, height, TJPF_RGB,
                      flags) != 0 &&
        tjGetErrorCode(handle.get()) != TJERR_WARNING)
        fail(handle.get(), "cannot decode JPEG");
    return image;
}

std::string encodeJpeg(const RgbImage& image, int quality) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3)
        throw ImageError("cannot encode an empty or malformed bitmap");
    const Handle handle = open(tjInitCompress());
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(handle.get(), image.pixels.data(), image.width, 0, image.height, TJPF_RGB,
                                   &buffer, &size, TJSAMP_420, std::clamp(quality, 1, 100), 0);
    const std::unique_ptr<unsigned char, BufferFree> owned(buffer);
    if (result != 0)
        fail(handle.get(), "cannot encode JPEG");
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

} // namespace velnote::platform
