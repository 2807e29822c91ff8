#pragma once
// Image operations for downloaded attachments, over libvips: picture and text watermarks,
// thumbnails and the image kind of a file. Every operation reads its source and writes a new
// JPEG file; none changes its source. Safe from any thread (libvips is initialised once, on
// first use). Never throws and never asks a person: failures come back as text for the
// caller's log. Decoding is refused above kMaxImagePixels or kMaxImageFileBytes, so a
// decompression bomb or a huge download costs an error, not the process's memory. A broken
// or truncated picture is an error too, and the destination is written (renamed into place)
// only when the whole image was encoded: a failure leaves no destination, or the old one.
// Sources: JPEG, PNG, GIF (first frame), WebP, TIFF; formats libvips counts as untrusted
// (SVG, PDF, raw and scientific formats) are refused. Transparent parts of a source come out
// white; a stored EXIF orientation is kept and the pixels are not turned.
#include <cstdint>
#include <string>

namespace tarvex::platform {

inline constexpr std::uint64_t kMaxImagePixels = 100'000'000;             // width × height
inline constexpr std::uint64_t kMaxImageFileBytes = 50ull * 1024 * 1024;  // source file size

enum class ImageKind { None, Png, Jpg };

// Kind from the first two bytes: 89 50 → Png, FF D8 → Jpg, anything else (or a file of two
// bytes or less, or an unreadable one) → None.
ImageKind imageKind(const std::string& path);

struct [[nodiscard]] ImageResult {
    bool ok = false;
    std::string error;  // why it failed; "" when ok
};

struct PictureWatermark {
    std::string markPath;  // the watermark picture
    bool method2 = false;  // "方式2": placed by position and offsets, drawn opaque
    int position = 9;      // 1..9 for method 2; 0 reads as 9, any other value places at (0, 0)
    int offsetX = 0;       // method 2 offsets in pixels
    int offsetY = 0;
    double opacity = 0.7;  // default method: the mark's alpha is multiplied by this (0..1)
    int quality = 70;      // default method: JPEG quality 0..100 (method 2 uses the encoder default, 75)
    // Default method only: true puts the mark centred, 10 px below the middle (the workspace's
    // "中间.txt" switch, decided by the caller); false at the bottom-right corner.
    bool centred = false;
};

// Draws the mark onto the source and writes the result to `destPath` as JPEG. The default
// method makes pure opaque white in the mark fully transparent and scales its alpha by
// `opacity`. Method 2 writes nothing (and fails) unless source and mark are both PNG or JPG.
ImageResult drawPictureWatermark(const std::string& sourcePath, const std::string& destPath,
                                 const PictureWatermark& mark);

struct TextWatermark {
    std::string text;  // UTF-8; drawn with a bold font that holds Chinese
    int fontSizePt = 20;
    std::uint8_t red = 0, green = 0, blue = 0;  // drawn with alpha 120 (0x78)
    int quality = 70;
};

// Draws the text right-aligned in the box (left W−310, top H−(size+10)−10, 300 × (size+10)) and
// writes the result to `destPath` as JPEG. Lines wrap at the box width; ink beyond the box is
// cut off. The text is plain text (no markup). Sizes outside 1..1000 points are an error.
ImageResult drawTextWatermark(const std::string& sourcePath, const std::string& destPath, const TextWatermark& mark);

// Parses "#RRGGBB" into the three bytes; false when the text is not of that form.
bool parseHexColour(const std::string& text, std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue);

// Scales the source to exactly width × height (the aspect ratio is not kept) and writes it to
// `destPath` as JPEG, quality 80. A size below 1 × 1 or above kMaxImagePixels is an error.
ImageResult makeThumbnail(const std::string& sourcePath, const std::string& destPath, int width, int height);

}  // namespace tarvex::platform
