#include "platform/image_ops.h"

#include <fstream>

// Placeholder until the libvips operations land: every drawing operation fails with a clear
// error, so callers log it and keep the downloaded image unchanged.
namespace tarvex::platform {

namespace {
ImageResult notAvailable() { return {false, "image operations are not part of this build"}; }
}  // namespace

ImageKind imageKind(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[3] = {0, 0, 0};
    in.read(reinterpret_cast<char*>(head), 3);
    if (in.gcount() < 3) return ImageKind::None;
    if (head[0] == 0x89 && head[1] == 0x50) return ImageKind::Png;
    if (head[0] == 0xFF && head[1] == 0xD8) return ImageKind::Jpg;
    return ImageKind::None;
}

ImageResult drawPictureWatermark(const std::string&, const std::string&, const PictureWatermark&) {
    return notAvailable();
}
ImageResult drawTextWatermark(const std::string&, const std::string&, const TextWatermark&) { return notAvailable(); }
bool parseHexColour(const std::string&, std::uint8_t&, std::uint8_t&, std::uint8_t&) { return false; }
ImageResult makeThumbnail(const std::string&, const std::string&, int, int) { return notAvailable(); }

}  // namespace tarvex::platform
