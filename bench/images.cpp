// Image work per downloaded picture: picture watermark (default method, bottom-right, white
// dropped, opacity 70 %, quality 70) and then a 70 × 70 thumbnail (quality 80) of the
// watermarked file, for a 4000 × 3000 JPEG. The same two steps are then done by the `vips`
// command line (Debian's libvips-tools): `vips composite2` with a mark whose white and opacity
// are already baked in, then `vips thumbnail`. Prints ms per image for both and the ratio.
//
// Usage: bench_images [--images N] [--vips PATH]   (default 10 images, `vips` from PATH)
// Medians of N rounds after one warm-up round.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <vips/vips8>

#include "platform/image_ops.h"

namespace fs = std::filesystem;
using namespace tarvex;
using Clock = std::chrono::steady_clock;
using vips::VImage;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

VImage srgb(VImage image) {
    return image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// A photo-like 4000 × 3000 picture: smooth colour gradients with fine grain, so the JPEG
// carries detail in every block as a camera picture does (about 3 MB at quality 90).
void makePhoto(const std::string& path) {
    VImage xy = VImage::xyz(4000, 3000);
    VImage x = xy[0], y = xy[1];
    VImage r = (x * (255.0 / 4000)).cast(VIPS_FORMAT_FLOAT);
    VImage g = (y * (255.0 / 3000)).cast(VIPS_FORMAT_FLOAT);
    VImage b = ((x + y) * (255.0 / 7000)).cast(VIPS_FORMAT_FLOAT);
    VImage grain = VImage::gaussnoise(4000, 3000, VImage::option()->set("sigma", 12.0)->set("mean", 0.0));
    VImage photo = r.bandjoin({g, b}) + grain;
    srgb(photo.cast(VIPS_FORMAT_UCHAR)).jpegsave(path.c_str(), VImage::option()->set("Q", 90));
}

// A 240 × 90 mark: yellow bold text on white, the white meant to disappear.
VImage makeMarkImage() {
    VImage ink = VImage::text("<b>Tarvex</b>", VImage::option()->set("dpi", 300)->set("font", "Sans 20"));
    VImage colour = ink.new_from_image({255.0, 200.0, 0.0});
    VImage white = ink.new_from_image({255.0, 255.0, 255.0});
    VImage drawn = srgb(ink.ifthenelse(colour, white, VImage::option()->set("blend", true)));
    return drawn.embed((240 - drawn.width()) / 2, (90 - drawn.height()) / 2, 240, 90,
                       VImage::option()->set("extend", VIPS_EXTEND_WHITE));
}

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

double cpuMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    int images = 10;
    std::string vipsTool = "vips";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--images" && i + 1 < argc)
            images = std::max(1, std::atoi(argv[++i]));
        else if (a == "--vips" && i + 1 < argc)
            vipsTool = argv[++i];
    }
    if (VIPS_INIT(argv[0])) {
        std::fprintf(stderr, "libvips could not start\n");
        return 1;
    }
    const fs::path dir = fs::temp_directory_path() / "tarvex-bench-images";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string photo = (dir / "photo.jpg").string();
    const std::string mark = (dir / "mark.png").string();
    const std::string cliMark = (dir / "mark-baked.png").string();
    makePhoto(photo);
    VImage markImage = makeMarkImage();
    markImage.pngsave(mark.c_str());
    // The command line gets the mark already prepared: white made transparent, alpha × 0.7.
    VImage white = (markImage == 255).bandand();
    VImage alpha = white.ifthenelse(0, 255 * 0.7).cast(VIPS_FORMAT_UCHAR);
    srgb(markImage.bandjoin(alpha)).pngsave(cliMark.c_str());
    std::printf("source: %s, %.1f MB, 4000 x 3000; mark 240 x 90; %d images\n", photo.c_str(),
                fs::file_size(photo) / 1048576.0, images);

    // Ours and the command line take turns, so both meet the same load on a shared machine;
    // CPU time (user + system) is printed beside wall time because it suffers less from it.
    const std::string x = std::to_string(4000 - 240), y = std::to_string(3000 - 90);
    std::vector<double> ours, oursCpu, oursWatermark, oursThumb, cli, cliCpu;
    for (int i = 0; i <= images; ++i) {
        // Ours: the processing order of a downloaded image (watermark into ".temp", swap, thumbnail).
        const std::string image = (dir / ("ours-" + std::to_string(i) + ".jpg")).string();
        fs::copy_file(photo, image, fs::copy_options::overwrite_existing);
        const double cpu0 = cpuMs(RUSAGE_SELF);
        auto t0 = Clock::now();
        platform::ImageResult r = platform::drawPictureWatermark(image, image + ".temp", {.markPath = mark});
        if (!r.ok) {
            std::fprintf(stderr, "watermark failed: %s\n", r.error.c_str());
            return 1;
        }
        fs::rename(image + ".temp", image);
        auto t1 = Clock::now();
        r = platform::makeThumbnail(image, (dir / ("ours-thumb-" + std::to_string(i) + ".jpg")).string(), 70, 70);
        if (!r.ok) {
            std::fprintf(stderr, "thumbnail failed: %s\n", r.error.c_str());
            return 1;
        }
        const double oursMs = msSince(t0), oursCpuMs = cpuMs(RUSAGE_SELF) - cpu0;
        const double watermarkMs = std::chrono::duration<double, std::milli>(t1 - t0).count(), thumbMs = msSince(t1);

        // The command line doing the same two steps.
        const std::string out = (dir / ("cli-" + std::to_string(i) + ".jpg")).string();
        const std::string thumb = (dir / ("cli-thumb-" + std::to_string(i) + ".jpg")).string();
        const std::string command = shellQuote(vipsTool) + " composite2 " + shellQuote(photo) + " " +
                                    shellQuote(cliMark) + " " + shellQuote(out + "[Q=70]") + " over --x " + x +
                                    " --y " + y + " && " + shellQuote(vipsTool) + " thumbnail " + shellQuote(out) +
                                    " " + shellQuote(thumb + "[Q=80]") + " 70 --height 70 --size force";
        const double childCpu0 = cpuMs(RUSAGE_CHILDREN);
        auto t2 = Clock::now();
        if (std::system(command.c_str()) != 0) {
            std::printf("the vips command line failed (is libvips-tools installed?): %s\n", command.c_str());
            return 1;
        }
        if (i == 0) continue;  // warm-up: fonts, loaders, page cache
        ours.push_back(oursMs);
        oursCpu.push_back(oursCpuMs);
        oursWatermark.push_back(watermarkMs);
        oursThumb.push_back(thumbMs);
        cli.push_back(msSince(t2));
        cliCpu.push_back(cpuMs(RUSAGE_CHILDREN) - childCpu0);
    }

    std::printf("ours: %.1f ms per image (watermark %.1f, thumbnail %.1f), CPU %.1f ms; peak RSS %ld MB\n",
                median(ours), median(oursWatermark), median(oursThumb), median(oursCpu), peakRssKb() / 1024);
    std::printf("vips command line: %.1f ms per image (two processes), CPU %.1f ms\n", median(cli), median(cliCpu));
    std::printf("ratio ours / command line: wall %.2f, CPU %.2f (goal: at most 1.2)\n", median(ours) / median(cli),
                median(oursCpu) / median(cliCpu));
    fs::remove_all(dir);
    return 0;
}
