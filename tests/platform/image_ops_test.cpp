#include "platform/image_ops.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <vips/vips8>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace tarvex::platform;
using vips::VImage;
namespace fs = std::filesystem;

namespace {

// Pixels of a decoded file, 8-bit sRGB, three or four bands.
struct Pixels {
    int width = 0, height = 0, bands = 0;
    std::vector<unsigned char> data;
    const unsigned char* at(int x, int y) const { return &data[(static_cast<size_t>(y) * width + x) * bands]; }
};

Pixels readPixels(const std::string& path) {
    VImage image = VImage::new_from_file(path.c_str()).colourspace(VIPS_INTERPRETATION_sRGB).cast(VIPS_FORMAT_UCHAR);
    Pixels p{image.width(), image.height(), image.bands(), {}};
    size_t size = 0;
    void* mem = image.write_to_memory(&size);
    p.data.assign(static_cast<unsigned char*>(mem), static_cast<unsigned char*>(mem) + size);
    g_free(mem);
    return p;
}

struct Box {
    int left = -1, top = -1, right = -1, bottom = -1;  // right and bottom exclusive
    bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "(" << b.left << "," << b.top << ")-(" << b.right << "," << b.bottom << ")";
}

// The smallest box holding every pixel whose mean of red, green and blue is below `threshold`.
// With the default, mid-grey: the marks in these tests are black on a light picture, so JPEG
// noise stays far from it.
Box darkBox(const Pixels& p, int threshold = 128) {
    Box b;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const unsigned char* px = p.at(x, y);
            if ((px[0] + px[1] + px[2]) / 3 >= threshold) continue;
            if (b.left < 0 || x < b.left) b.left = x;
            if (b.top < 0 || y < b.top) b.top = y;
            b.right = std::max(b.right, x + 1);
            b.bottom = std::max(b.bottom, y + 1);
        }
    return b;
}

VImage solid(int width, int height, std::vector<double> pixel) {
    return VImage::black(width, height)
        .new_from_image(pixel)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

class ImageOps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(VIPS_INIT("tarvex-test"), 0);
        m_dir = test::makeTempFolder("tarvex-images-");
    }
    void TearDown() override { test::removeTree(m_dir); }

    std::string path(const std::string& name) const { return m_dir + name; }
    // Writes in the format of the name's extension; options may follow in brackets ("a.jpg[Q=95]").
    std::string save(const VImage& image, const std::string& name) const {
        image.write_to_file(path(name).c_str());
        return path(name.substr(0, name.find('[')));
    }
    // An 800 × 600 light grey picture and a 100 × 50 black one.
    std::string greyJpeg(const std::string& name = "photo.jpg", int w = 800, int h = 600) const {
        return save(solid(w, h, {200, 200, 200}), name + "[Q=95]");
    }
    std::string blackMarkPng() const { return save(solid(100, 50, {0, 0, 0}), "mark.png"); }
    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string m_dir;
};

}  // namespace

TEST_F(ImageOps, Method2PlacesTheMarkByPositionAndOffsets) {
    struct Case {
        int position, offsetX, offsetY, width, height;
        Box expected;
    };
    const Case cases[] = {
        {9, 5, 20, 800, 600, {695, 530, 795, 580}},
        {0, 5, 20, 800, 600, {695, 530, 795, 580}},  // 0 reads as 9
        {12, 5, 20, 800, 600, {0, 0, 100, 50}},      // unknown position: top-left, offsets unused
        {-1, 5, 20, 800, 600, {0, 0, 100, 50}},
        {1, 5, 20, 800, 600, {5, 20, 105, 70}},
        {3, 5, 20, 800, 600, {695, 20, 795, 70}},
        {7, 5, 20, 800, 600, {5, 530, 105, 580}},
        // (803 − 100) / 2 = 351.5 → 352 and (601 − 50) / 2 = 275.5 → 276: halves go to even.
        {5, 5, 20, 803, 601, {352, 276, 452, 326}},
        // (801 − 100) / 2 = 350.5 → 350.
        {8, 5, 20, 801, 600, {350, 530, 450, 580}},
    };
    const std::string mark = blackMarkPng();
    for (const Case& c : cases) {
        SCOPED_TRACE("position " + std::to_string(c.position));
        const std::string source = greyJpeg("photo.jpg", c.width, c.height);
        PictureWatermark settings{
            .markPath = mark, .method2 = true, .position = c.position, .offsetX = c.offsetX, .offsetY = c.offsetY};
        ImageResult r = drawPictureWatermark(source, path("out.jpg"), settings);
        ASSERT_TRUE(r.ok) << r.error;
        Pixels out = readPixels(path("out.jpg"));
        EXPECT_EQ(out.width, c.width);
        EXPECT_EQ(out.height, c.height);
        EXPECT_EQ(darkBox(out), c.expected);
    }
}

TEST_F(ImageOps, Method2HonoursPngTransparencyAndDrawsJpegMarksOpaque) {
    const std::string source = greyJpeg();
    // Left half fully transparent black, right half opaque black.
    VImage halfClear = solid(100, 50, {0, 0, 0, 0}).insert(solid(50, 50, {0, 0, 0, 255}), 50, 0);
    PictureWatermark settings{.markPath = save(halfClear, "half.png"), .method2 = true, .position = 1};
    ASSERT_TRUE(drawPictureWatermark(source, path("a.jpg"), settings).ok);
    EXPECT_EQ(darkBox(readPixels(path("a.jpg"))), (Box{50, 0, 100, 50}));

    // A JPEG mark has no transparency: its white is drawn too, and the opacity is not applied.
    VImage whiteAndBlack = solid(100, 50, {255, 255, 255}).insert(solid(50, 50, {0, 0, 0}), 50, 0);
    settings.markPath = save(whiteAndBlack, "mark.jpg[Q=95]");
    settings.opacity = 0.1;
    ASSERT_TRUE(drawPictureWatermark(source, path("b.jpg"), settings).ok);
    Pixels out = readPixels(path("b.jpg"));
    EXPECT_EQ(darkBox(out), (Box{50, 0, 100, 50}));
    EXPECT_GT(out.at(20, 25)[0], 245);  // white of the mark over the grey picture
    EXPECT_LT(out.at(320, 300)[0], 210);
}

TEST_F(ImageOps, Method2WritesNothingUnlessBothFilesArePngOrJpg) {
    const std::string gif = save(solid(80, 60, {200, 200, 200}), "photo.gif");
    const std::string jpg = greyJpeg();
    const std::string mark = blackMarkPng();
    const std::string gifMark = save(solid(10, 10, {0, 0, 0}), "mark.gif");
    struct Case {
        std::string source, mark;
    };
    for (const Case& c : {Case{gif, mark}, Case{jpg, gifMark}}) {
        SCOPED_TRACE(c.source + " + " + c.mark);
        ImageResult r = drawPictureWatermark(c.source, path("out.jpg"), {.markPath = c.mark, .method2 = true});
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.empty());
        EXPECT_FALSE(fs::exists(path("out.jpg")));
    }
    // The default method takes any picture the library reads and writes JPEG.
    ImageResult r = drawPictureWatermark(gif, path("gif.jpg"), {.markPath = mark, .opacity = 1.0});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(imageKind(path("gif.jpg")), ImageKind::Jpg);
}

TEST_F(ImageOps, DefaultMethodCornerWhiteAndOpacity) {
    const std::string source = greyJpeg();
    // Left half pure white (disappears), right half black; one column of half-transparent
    // black at x = 10 inside the white part (kept, as it is not opaque white).
    VImage mark = solid(100, 50, {255, 255, 255, 255})
                      .insert(solid(50, 50, {0, 0, 0, 255}), 50, 0)
                      .insert(solid(20, 50, {0, 0, 0, 128}), 10, 0);
    const std::string markPath = save(mark, "mark.png");

    ASSERT_TRUE(drawPictureWatermark(source, path("full.jpg"), {.markPath = markPath, .opacity = 1.0}).ok);
    Pixels full = readPixels(path("full.jpg"));
    EXPECT_EQ(darkBox(full, 60), (Box{750, 550, 800, 600}));  // bottom-right corner, no margin
    EXPECT_NEAR(full.at(705, 575)[0], 200, 4);                // white part: the picture shows through
    EXPECT_NEAR(full.at(715, 575)[0], 100, 6);                // alpha 128 over 200
    EXPECT_LT(full.at(775, 575)[0], 8);

    ASSERT_TRUE(drawPictureWatermark(source, path("half.jpg"), {.markPath = markPath, .opacity = 0.5}).ok);
    Pixels half = readPixels(path("half.jpg"));
    EXPECT_NEAR(half.at(775, 575)[0], 100, 6);  // black at alpha 128
    EXPECT_NEAR(half.at(715, 575)[0], 150, 6);  // alpha 64
    EXPECT_NEAR(half.at(705, 575)[0], 200, 4);

    // Centred: round((800 − 100) / 2) = 350, round((600 − 50) / 2) + 10 = 285.
    ASSERT_TRUE(
        drawPictureWatermark(source, path("mid.jpg"), {.markPath = markPath, .opacity = 1.0, .centred = true}).ok);
    EXPECT_EQ(darkBox(readPixels(path("mid.jpg")), 60), (Box{400, 285, 450, 335}));
}

TEST_F(ImageOps, QualityDecidesTheJpegSize) {
    // Noise makes the encoder's quality visible in the file size.
    const std::string source = save(VImage::gaussnoise(400, 300).cast(VIPS_FORMAT_UCHAR), "noise.png");
    const std::string mark = blackMarkPng();
    ASSERT_TRUE(drawPictureWatermark(source, path("q10.jpg"), {.markPath = mark, .quality = 10}).ok);
    ASSERT_TRUE(drawPictureWatermark(source, path("q95.jpg"), {.markPath = mark, .quality = 95}).ok);
    EXPECT_GT(fs::file_size(path("q95.jpg")), 3 * fs::file_size(path("q10.jpg")));
}

TEST_F(ImageOps, TransparentSourcesBecomeWhiteAndOrientationStaysAsStored) {
    VImage rgba = solid(120, 90, {0, 0, 255, 0}).insert(solid(60, 90, {0, 0, 255, 255}), 60, 0);
    const std::string mark = save(solid(4, 4, {255, 255, 255}), "white.png");  // fully dropped
    ASSERT_TRUE(drawPictureWatermark(save(rgba, "clear.png"), path("clear.jpg"), {.markPath = mark}).ok);
    Pixels out = readPixels(path("clear.jpg"));
    EXPECT_GT(out.at(10, 10)[0], 245);
    EXPECT_GT(out.at(10, 10)[2], 245);
    EXPECT_LT(out.at(100, 10)[0], 20);

    // A camera picture stored sideways keeps its pixels and its orientation tag, so viewers
    // keep showing it the way they did.
    VImage sideways = solid(160, 90, {200, 200, 200}).copy();
    sideways.set("orientation", 6);
    const std::string camera = save(sideways, "camera.jpg");
    ASSERT_TRUE(drawPictureWatermark(camera, path("camera-out.jpg"), {.markPath = blackMarkPng()}).ok);
    VImage written = VImage::new_from_file(path("camera-out.jpg").c_str());
    EXPECT_EQ(written.width(), 160);
    EXPECT_EQ(written.height(), 90);
    EXPECT_EQ(written.get_int("orientation"), 6);
}

TEST_F(ImageOps, TextMarkIsDrawnInItsBoxOnly) {
    const std::string source = save(solid(800, 600, {255, 255, 255}), "white.png");
    struct Case {
        std::string text;
        int size;
    };
    // Plain text with markup characters and broken UTF-8 are drawn as well.
    for (const Case& c :
         {Case{"采集水印测试", 20}, Case{"Tarvex <b>&amp; 图片", 20}, Case{"水印\xFF\xFE", 20}, Case{"大字", 48}}) {
        SCOPED_TRACE(c.text);
        TextWatermark mark{.text = c.text, .fontSizePt = c.size, .red = 255, .green = 0, .blue = 0, .quality = 100};
        ImageResult r = drawTextWatermark(source, path("text.jpg"), mark);
        ASSERT_TRUE(r.ok) << r.error;
        Pixels out = readPixels(path("text.jpg"));
        // Box: left 800 − 310, top 600 − (size + 10) − 10, 300 × (size + 10).
        const int left = 490, top = 600 - (c.size + 10) - 10, right = 790, bottom = 590;
        int inked = 0, strayOutside = 0, lowestGreen = 255;
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x) {
                const unsigned char* px = out.at(x, y);
                bool changed = px[1] < 230;
                bool inside = x >= left && x < right && y >= top && y < bottom;
                if (!inside && changed) ++strayOutside;
                if (inside && changed) ++inked;
                if (inside) lowestGreen = std::min<int>(lowestGreen, px[1]);
            }
        EXPECT_GT(inked, 50);
        EXPECT_EQ(strayOutside, 0);
        // Pure red at alpha 120 over white: 255 × (1 − 120/255) = 135 in green and blue.
        EXPECT_NEAR(lowestGreen, 135, 10);
    }
}

TEST_F(ImageOps, TextMarkUsesAFaceThatHoldsChinese) {
    // "一" is a single horizontal stroke: drawn with a Chinese face its ink is a flat bar, while
    // a missing glyph would come out as a tall box.
    const std::string source = save(solid(800, 600, {255, 255, 255}), "white.png");
    TextWatermark mark{.text = "一", .fontSizePt = 40, .quality = 100};
    ASSERT_TRUE(drawTextWatermark(source, path("one.jpg"), mark).ok);
    // Black at alpha 120 over white comes out at 135.
    Box b = darkBox(readPixels(path("one.jpg")), 200);
    ASSERT_GE(b.left, 0) << "no ink";
    EXPECT_GT(b.right - b.left, 3 * (b.bottom - b.top)) << b;
    EXPECT_EQ(b.right, 790) << "right-aligned in the box";
}

TEST_F(ImageOps, ThumbnailHasExactlyTheAskedSize) {
    struct Case {
        std::string source;
        int width, height;
    };
    const Case cases[] = {
        {greyJpeg("wide.jpg", 800, 600), 70, 70},
        {greyJpeg("small.jpg", 100, 50), 200, 30},  // grows and squeezes
        {save(solid(64, 48, {10, 200, 10}), "anim.gif"), 33, 17},
        {save(solid(90, 90, {10, 10, 200, 100}), "alpha.png"), 45, 45},
        {save(solid(90, 60, {10, 10, 200}), "photo.webp"), 30, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        ImageResult r = makeThumbnail(c.source, path("thumb.jpg"), c.width, c.height);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(imageKind(path("thumb.jpg")), ImageKind::Jpg);
        Pixels out = readPixels(path("thumb.jpg"));
        EXPECT_EQ(out.width, c.width);
        EXPECT_EQ(out.height, c.height);
        EXPECT_EQ(out.bands, 3);
    }
    EXPECT_FALSE(makeThumbnail(cases[0].source, path("none.jpg"), 0, 70).ok);
    EXPECT_FALSE(makeThumbnail(cases[0].source, path("none.jpg"), 70, -5).ok);
    EXPECT_FALSE(fs::exists(path("none.jpg")));
}

TEST_F(ImageOps, AFileRewrittenUnderTheSameNameIsReadAgain) {
    // The caller watermarks into ".temp", renames it over the image and then makes the
    // thumbnail of that same name: every read must see the file as it is now.
    const std::string image = save(solid(200, 100, {255, 255, 255}), "pic.jpg");
    const std::string mark = blackMarkPng();
    ASSERT_TRUE(drawPictureWatermark(image, path("first.jpg"), {.markPath = mark, .method2 = true}).ok);
    ASSERT_TRUE(makeThumbnail(image, path("thumb.jpg"), 20, 10).ok);
    save(solid(300, 150, {0, 0, 0}), "pic.jpg");
    ASSERT_TRUE(drawPictureWatermark(image, path("second.jpg"), {.markPath = mark, .method2 = true}).ok);
    Pixels second = readPixels(path("second.jpg"));
    EXPECT_EQ(second.width, 300);
    EXPECT_LT(second.at(150, 120)[0], 20);
    ASSERT_TRUE(makeThumbnail(image, path("thumb.jpg"), 20, 10).ok);
    EXPECT_LT(readPixels(path("thumb.jpg")).at(2, 2)[0], 20);
}

namespace {

void appendChunk(std::string& png, const char* type, const std::string& data) {
    auto be32 = [&](std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) png += static_cast<char>((v >> s) & 0xFF);
    };
    be32(static_cast<std::uint32_t>(data.size()));
    std::string body = std::string(type) + data;
    png += body;
    be32(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

// A PNG of a few hundred bytes whose header promises 30000 × 30000 pixels.
std::string decompressionBomb() {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    for (std::uint32_t v : {30000u, 30000u})
        for (int s = 24; s >= 0; s -= 8) ihdr += static_cast<char>((v >> s) & 0xFF);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    appendChunk(png, "IHDR", ihdr);
    std::string raw(30001 * 4, '\0');
    std::string packed(compressBound(raw.size()), '\0');
    uLongf packedSize = packed.size();
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
             raw.size());
    packed.resize(packedSize);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", "");
    return png;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path) {
    return test::readWholeFile(path);
}

}  // namespace

TEST_F(ImageOps, BadPicturesFailCleanlyAndLeaveTheDestinationAlone) {
    VImage noisy = VImage::gaussnoise(640, 480)
                       .cast(VIPS_FORMAT_UCHAR)
                       .bandjoin({VImage::gaussnoise(640, 480).cast(VIPS_FORMAT_UCHAR),
                                  VImage::gaussnoise(640, 480).cast(VIPS_FORMAT_UCHAR)});
    const std::string goodJpeg = readBytes(save(noisy, "good.jpg"));
    const std::string goodPng = readBytes(save(noisy, "good.png"));
    writeBytes(path("truncated.jpg"), goodJpeg.substr(0, goodJpeg.size() / 2));
    writeBytes(path("truncated.png"), goodPng.substr(0, goodPng.size() / 2));
    writeBytes(path("garbage.jpg"), "\xFF\xD8 this is not a picture at all");
    writeBytes(path("bomb.png"), decompressionBomb());
    // Drawings are not decoded: their renderer is too large a door for files from the web.
    writeBytes(path("drawing.svg"),
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"50\" height=\"50\"><rect width=\"50\" "
               "height=\"50\"/></svg>");
    {
        // A file over the size limit; sparse, so it costs no disk.
        std::ofstream(path("huge.jpg"), std::ios::binary) << goodJpeg;
        fs::resize_file(path("huge.jpg"), kMaxImageFileBytes + 1);
    }
    const std::string mark = blackMarkPng();

    struct Input {
        const char* name;
        const char* expectInError;  // a word the error must carry; "" for any
    };
    const Input inputs[] = {
        {"missing.jpg", "does not exist"}, {"truncated.jpg", ""},       {"truncated.png", ""}, {"garbage.jpg", ""},
        {"bomb.png", "too many pixels"},   {"huge.jpg", "larger than"}, {"drawing.svg", ""},
    };
    using Operation = std::function<ImageResult(const std::string&, const std::string&)>;
    const std::pair<const char*, Operation> operations[] = {
        {"picture", [&](auto& s, auto& d) { return drawPictureWatermark(s, d, {.markPath = mark}); }},
        {"picture method 2",
         [&](auto& s, auto& d) { return drawPictureWatermark(s, d, {.markPath = mark, .method2 = true}); }},
        {"text", [&](auto& s, auto& d) { return drawTextWatermark(s, d, {.text = "水印"}); }},
        {"thumbnail", [&](auto& s, auto& d) { return makeThumbnail(s, d, 70, 70); }},
    };
    for (const auto& [opName, op] : operations) {
        for (const Input& in : inputs) {
            SCOPED_TRACE(std::string(opName) + " of " + in.name);
            writeBytes(path("dest.jpg"), "earlier content");
            ImageResult r = op(path(in.name), path("dest.jpg"));
            EXPECT_FALSE(r.ok);
            EXPECT_FALSE(r.error.empty());
            EXPECT_NE(r.error.find(in.expectInError), std::string::npos) << r.error;
            EXPECT_EQ(readBytes(path("dest.jpg")), "earlier content");
        }
    }
    // A broken watermark picture is an error too, and the bad sources are left as they were.
    for (const char* badMark : {"truncated.png", "bomb.png", "missing.png"}) {
        SCOPED_TRACE(badMark);
        ImageResult r = drawPictureWatermark(path("good.jpg"), path("dest.jpg"), {.markPath = path(badMark)});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(readBytes(path("dest.jpg")), "earlier content");
    }
    EXPECT_EQ(readBytes(path("truncated.jpg")), goodJpeg.substr(0, goodJpeg.size() / 2));
    // No temporary file is left behind.
    for (const std::string& name : folderEntries()) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST_F(ImageOps, WorksFromSeveralThreadsAtOnce) {
    const std::string source = greyJpeg();
    const std::string mark = blackMarkPng();
    std::vector<std::thread> threads;
    std::vector<ImageResult> results(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            std::string dest = path("t" + std::to_string(i) + ".jpg");
            results[i] = i % 2 ? makeThumbnail(source, dest, 50 + i, 40)
                               : drawPictureWatermark(source, dest, {.markPath = mark, .method2 = true, .position = 1});
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(results[i].ok) << i << ": " << results[i].error;
        Pixels out = readPixels(path("t" + std::to_string(i) + ".jpg"));
        if (i % 2) {
            EXPECT_EQ(out.width, 50 + i);
        } else {
            EXPECT_EQ(darkBox(out), (Box{0, 0, 100, 50}));
        }
    }
}

TEST(ImageOpsText, ParseHexColour) {
    struct Case {
        const char* text;
        bool ok;
        int r, g, b;
    };
    const Case cases[] = {
        {"#FF0000", true, 255, 0, 0}, {"#00ff7F", true, 0, 255, 127}, {"#000000", true, 0, 0, 0},
        {"FF0000", false, 0, 0, 0},   {"#FFF", false, 0, 0, 0},       {"#GG0000", false, 0, 0, 0},
        {"", false, 0, 0, 0},         {"#FF00001", false, 0, 0, 0},   {" #FF0000", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint8_t r = 1, g = 1, b = 1;
        ASSERT_EQ(parseHexColour(c.text, r, g, b), c.ok);
        if (c.ok) {
            EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{c.r, c.g, c.b}));
        }
    }
}

TEST(ImageOpsText, KindFromTheFirstBytes) {
    const std::string dir = test::makeTempFolder("tarvex-kind-");
    struct Case {
        std::string bytes;
        ImageKind kind;
    };
    const Case cases[] = {
        {std::string("\x89PNG\r\n", 6), ImageKind::Png},
        {std::string("\xFF\xD8\xFF\xE0", 4), ImageKind::Jpg},
        {"GIF89a", ImageKind::None},
        {std::string("\xFF\xD8", 2), ImageKind::None},
        {"", ImageKind::None},
    };
    for (const Case& c : cases) {
        writeBytes(dir + "f", c.bytes);
        EXPECT_EQ(imageKind(dir + "f"), c.kind) << c.bytes.size() << " bytes";
    }
    EXPECT_EQ(imageKind(dir + "missing"), ImageKind::None);
    test::removeTree(dir);
}
