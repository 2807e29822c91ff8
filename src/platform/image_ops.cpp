#include "platform/image_ops.h"

#include <fcntl.h>
#include <unistd.h>
#include <vips/vips8>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "platform/markup.h"
#include "platform/utf8.h"

namespace tarvex::platform {

namespace fs = std::filesystem;
using vips::VError;
using vips::VImage;

namespace {

// Families tried in order for every character: "Arial" (or what fontconfig offers for it) for
// Latin text, then a face that holds Chinese, so a mixed text never shows empty boxes.
constexpr const char* kTextFontFamilies = "Arial,WenQuanYi Micro Hei";
// Font sizes are points on a 96 dpi canvas, the resolution of a new desktop bitmap.
constexpr int kTextDpi = 96;
constexpr int kTextAlpha = 0x78;
constexpr int kMethod2Quality = 75;  // the usual JPEG encoder default
constexpr int kThumbnailQuality = 80;
constexpr int kMaxFontSizePt = 1000;

// libvips starts once per process. Its operation cache is switched off: images are rewritten
// under the same name (the ".temp" swap, then a thumbnail of the result), and a load cached by
// file name would hand back the old pixels; a long-running program has no use for the memory it
// would hold either. Loaders libvips marks as untrusted (SVG, PDF, raw formats, …) are blocked,
// because the files come from arbitrary web pages.
const std::string& vipsStartError() {
    static std::once_flag once;
    static std::string error;
    std::call_once(once, [] {
        if (VIPS_INIT("tarvex")) {
            const char* text = vips_error_buffer();
            error = std::string("libvips could not start: ") + (text ? text : "");
            vips_error_clear();
            return;
        }
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        vips_cache_set_max_files(0);
        vips_block_untrusted_set(TRUE);
        // Decoder complaints ("error in tile …") also reach the caller as the failure's text;
        // printed as well they would only clutter the terminal of the command-line tool.
        g_log_set_handler(
            "VIPS", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
    return error;
}

// Thrown by our own checks; carries the text for the caller as it is.
struct ImageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// libvips leaves its messages in one process-wide buffer, a line each; they come back as one
// line and the buffer is emptied so the next failure does not repeat them.
std::string vipsMessage(const VError& e) {
    std::string text = e.what();
    vips_error_clear();
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && out.find(line) == std::string::npos) out += (out.empty() ? "" : "; ") + line;
        start = end + 1;
    }
    return out.empty() ? "image library error" : out;
}

template <typename Body>
ImageResult guarded(Body&& body) {
    if (const std::string& error = vipsStartError(); !error.empty()) return {false, error};
    try {
        body();
        return {true, ""};
    } catch (const ImageError& e) {
        return {false, e.what()};
    } catch (const VError& e) {
        return {false, vipsMessage(e)};
    } catch (const std::bad_alloc&) {
        return {false, "out of memory while processing the image"};
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

// Opens an image lazily (only its header is read here) after the size checks, so a huge file
// or a decompression bomb is refused before any pixel is decoded. Decoding streams top to
// bottom and stops with an error at a truncated or corrupt file instead of inventing pixels.
VImage openChecked(const std::string& path, const char* what) {
    std::error_code ec;
    auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) throw ImageError(std::string(what) + " does not exist: " + path);
    if (!fs::is_regular_file(status)) throw ImageError(std::string(what) + " is not a file: " + path);
    auto bytes = fs::file_size(path, ec);
    if (ec) throw ImageError(std::string(what) + " cannot be read: " + path);
    if (bytes > kMaxImageFileBytes)
        throw ImageError(std::string(what) + " is larger than " + std::to_string(kMaxImageFileBytes / (1024 * 1024)) +
                         " MB (" + std::to_string(bytes) + " bytes): " + path);
    VImage image = VImage::new_from_file(
        path.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
    auto pixels = static_cast<std::uint64_t>(image.width()) * static_cast<std::uint64_t>(image.height());
    if (pixels > kMaxImagePixels)
        throw ImageError(std::string(what) + " has too many pixels (" + std::to_string(image.width()) + " x " +
                         std::to_string(image.height()) + ", limit " + std::to_string(kMaxImagePixels) + "): " + path);
    return image;
}

VImage toSrgb8(VImage image) {
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR) {
        bool fromCmyk = image.guess_interpretation() == VIPS_INTERPRETATION_CMYK;
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
        if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
        // The pixels are sRGB now; a CMYK profile left on them would mislead every viewer.
        if (fromCmyk && image.get_typeof(VIPS_META_ICC_NAME) != 0) {
            image = image.copy();
            image.remove(VIPS_META_ICC_NAME);
        }
    }
    return image;
}

// The picture to draw on: sRGB, 8 bits, three bands. Transparent parts of a source become
// white, the background the picture had on its web page.
VImage opaqueCanvas(VImage image) {
    image = toSrgb8(image);
    if (image.has_alpha())
        image = image.flatten(VImage::option()->set("background", std::vector<double>{255, 255, 255}));
    if (image.bands() > 3) image = image.extract_band(0, VImage::option()->set("n", 3));
    if (image.bands() != 3) throw ImageError("unsupported image layout (" + std::to_string(image.bands()) + " bands)");
    return image;
}

// A mark to draw: sRGB, 8 bits, colour plus alpha (opaque when it had none).
VImage markWithAlpha(VImage image) {
    image = toSrgb8(image);
    if (!image.has_alpha()) image = image.bandjoin_const({255});
    if (image.bands() > 4) image = image.extract_band(0, VImage::option()->set("n", 4));
    if (image.bands() != 4)
        throw ImageError("unsupported watermark layout (" + std::to_string(image.bands()) + " bands)");
    return image;
}

// Draws `overlay` (colour + alpha) over `base` with its top-left corner at (x, y); whatever
// falls outside the base is cut off. Only the covered rectangle is blended.
VImage drawOver(VImage base, VImage overlay, long long x, long long y) {
    const long long left = std::max<long long>(x, 0);
    const long long top = std::max<long long>(y, 0);
    const long long right = std::min<long long>(x + overlay.width(), base.width());
    const long long bottom = std::min<long long>(y + overlay.height(), base.height());
    if (right <= left || bottom <= top) return base;
    const int w = static_cast<int>(right - left);
    const int h = static_cast<int>(bottom - top);
    VImage part = overlay.crop(static_cast<int>(left - x), static_cast<int>(top - y), w, h);
    VImage under = base.crop(static_cast<int>(left), static_cast<int>(top), w, h);
    VImage blended = under.composite2(part, VIPS_BLEND_MODE_OVER);
    blended = blended.extract_band(0, VImage::option()->set("n", 3)).cast(VIPS_FORMAT_UCHAR);
    return base.insert(blended, static_cast<int>(left), static_cast<int>(top));
}

int clampQuality(int quality) {
    return std::clamp(quality, 1, 100);
}

// round(d / 2) with halves going to the even neighbour.
long long halfRoundedEven(long long d) {
    long long q = d >= 0 ? d / 2 : -((-d + 1) / 2);  // floor(d / 2)
    if (d % 2 != 0 && q % 2 != 0) ++q;
    return q;
}

// Encodes into a new file beside the destination and renames it over the destination only
// when the whole image was written, so a failure (a truncated source shows up only while
// decoding) never leaves a partial destination.
void saveJpeg(const VImage& image, const std::string& destPath, int quality) {
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = destPath + ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw ImageError("cannot create " + destPath + ": " + std::strerror(errno));
    ::close(fd);
    try {
        image.jpegsave(temp.c_str(), VImage::option()->set("Q", clampQuality(quality)));
    } catch (...) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw;
    }
    std::error_code ec;
    fs::rename(temp, destPath, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw ImageError("cannot write " + destPath + ": " + ec.message());
    }
}

struct Placement {
    long long x = 0;
    long long y = 0;
};

Placement method2Placement(int position, long long sourceW, long long sourceH, long long markW, long long markH,
                           long long offsetX, long long offsetY) {
    if (position == 0) position = 9;
    if (position < 1 || position > 9) return {0, 0};
    const int column = (position - 1) % 3;
    const int row = (position - 1) / 3;
    Placement p;
    p.x = column == 0 ? offsetX : column == 1 ? halfRoundedEven(sourceW - markW) : sourceW - markW - offsetX;
    p.y = row == 0 ? offsetY : row == 1 ? halfRoundedEven(sourceH - markH) : sourceH - markH - offsetY;
    return p;
}

bool hasInk(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return !(c == ' ' || c == '\t' || c == '\r' || c == '\n'); });
}

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

ImageResult drawPictureWatermark(const std::string& sourcePath, const std::string& destPath,
                                 const PictureWatermark& mark) {
    if (mark.method2) {
        // Checked before anything is decoded: with either file of another kind nothing is written.
        for (const std::string* file : {&sourcePath, &mark.markPath}) {
            std::error_code ec;
            if (!fs::exists(*file, ec)) return {false, "file does not exist: " + *file};
        }
        if (imageKind(sourcePath) == ImageKind::None)
            return {false, "method 2 draws only on PNG or JPG images: " + sourcePath};
        if (imageKind(mark.markPath) == ImageKind::None)
            return {false, "method 2 draws only PNG or JPG watermarks: " + mark.markPath};
    }
    return guarded([&] {
        VImage canvas = opaqueCanvas(openChecked(sourcePath, "image"));
        VImage overlay = markWithAlpha(openChecked(mark.markPath, "watermark picture"));
        const long long W = canvas.width(), H = canvas.height(), w = overlay.width(), h = overlay.height();
        if (mark.method2) {
            Placement at = method2Placement(mark.position, W, H, w, h, mark.offsetX, mark.offsetY);
            saveJpeg(drawOver(canvas, overlay, at.x, at.y), destPath, kMethod2Quality);
            return;
        }
        // Pure opaque white is the mark's background: it disappears. Every other pixel keeps
        // its alpha scaled by the opacity.
        const double opacity = mark.opacity >= 0 ? std::min(mark.opacity, 1.0) : 0.0;
        VImage colour = overlay.extract_band(0, VImage::option()->set("n", 3));
        VImage alpha = overlay.extract_band(3);
        VImage white = (colour == 255).bandand() & (alpha == 255);
        VImage scaled = (alpha * opacity + 0.5).cast(VIPS_FORMAT_UCHAR);
        VImage newAlpha = white.ifthenelse(VImage::black(overlay.width(), overlay.height()), scaled);
        overlay = colour.bandjoin(newAlpha.cast(VIPS_FORMAT_UCHAR))
                      .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        Placement at =
            mark.centred ? Placement{halfRoundedEven(W - w), halfRoundedEven(H - h) + 10} : Placement{W - w, H - h};
        saveJpeg(drawOver(canvas, overlay, at.x, at.y), destPath, mark.quality);
    });
}

ImageResult drawTextWatermark(const std::string& sourcePath, const std::string& destPath, const TextWatermark& mark) {
    if (mark.fontSizePt < 1 || mark.fontSizePt > kMaxFontSizePt)
        return {false, "font size must be 1 to " + std::to_string(kMaxFontSizePt) + " points, not " +
                           std::to_string(mark.fontSizePt)};
    return guarded([&] {
        VImage canvas = opaqueCanvas(openChecked(sourcePath, "image"));
        if (hasInk(mark.text)) {
            const long long W = canvas.width(), H = canvas.height();
            const int boxWidth = 300;
            const int boxHeight = mark.fontSizePt + 10;
            const long long boxLeft = W - 310;
            const long long boxTop = H - boxHeight - 10;
            // Lines wrap at the box width and sit against its right edge; ink beyond the box
            // (a long word, more lines than fit) is cut off at the box.
            std::string font = std::string(kTextFontFamilies) + " Bold " + std::to_string(mark.fontSizePt);
            // The text is plain text, not markup; a broken byte is drawn as U+FFFD, not refused.
            const std::string text = escapeMarkup(utf8::repair(mark.text));
            VImage ink = VImage::text(text.c_str(), VImage::option()
                                                        ->set("font", font.c_str())
                                                        ->set("dpi", kTextDpi)
                                                        ->set("width", boxWidth)
                                                        ->set("align", VIPS_ALIGN_HIGH)
                                                        ->set("wrap", VIPS_TEXT_WRAP_WORD_CHAR));
            if (ink.width() > boxWidth) ink = ink.crop(ink.width() - boxWidth, 0, boxWidth, ink.height());
            if (ink.height() > boxHeight) ink = ink.crop(0, 0, ink.width(), boxHeight);
            VImage alpha = ((ink * kTextAlpha + 127) / 255).cast(VIPS_FORMAT_UCHAR);
            VImage colour = alpha.new_from_image({double(mark.red), double(mark.green), double(mark.blue)});
            VImage overlay =
                colour.bandjoin(alpha).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
            canvas = drawOver(canvas, overlay, boxLeft + boxWidth - ink.width(), boxTop);
        }
        saveJpeg(canvas, destPath, mark.quality);
    });
}

bool parseHexColour(const std::string& text, std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue) {
    if (text.size() != 7 || text[0] != '#') return false;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    int bytes[3];
    for (int i = 0; i < 3; ++i) {
        int hi = digit(text[1 + 2 * i]), lo = digit(text[2 + 2 * i]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = hi * 16 + lo;
    }
    red = static_cast<std::uint8_t>(bytes[0]);
    green = static_cast<std::uint8_t>(bytes[1]);
    blue = static_cast<std::uint8_t>(bytes[2]);
    return true;
}

ImageResult makeThumbnail(const std::string& sourcePath, const std::string& destPath, int width, int height) {
    if (width < 1 || height < 1 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxImagePixels)
        return {false, "thumbnail size must be at least 1 x 1 and at most " + std::to_string(kMaxImagePixels) +
                           " pixels, not " + std::to_string(width) + " x " + std::to_string(height)};
    return guarded([&] {
        openChecked(sourcePath, "image");  // the size checks, before the thumbnailer decodes anything
        // The thumbnailer shrinks while decoding where the format allows (a JPEG decodes at 1/8
        // size), which is most of its speed. The stored orientation is kept as it is.
        VImage small = VImage::thumbnail(sourcePath.c_str(), width,
                                         VImage::option()
                                             ->set("height", height)
                                             ->set("size", VIPS_SIZE_FORCE)
                                             ->set("no_rotate", true)
                                             ->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
        small = opaqueCanvas(small);
        if (small.width() != width || small.height() != height)
            small = small.resize(double(width) / small.width(),
                                 VImage::option()->set("vscale", double(height) / small.height()));
        saveJpeg(small, destPath, kThumbnailQuality);
    });
}

}  // namespace tarvex::platform
