#pragma once
// What happens to an image after it is downloaded for a record: a picture or text watermark
// written to "<image>.temp" and swapped in, and a thumbnail of the record's first image. The
// settings are keys of the field rule of the field holding the images (the field editor's
// "水印和缩略图" tab). The drawing itself is the platform's (image_ops.h); the functions used
// are injectable so the order can be followed without real pixels. Any thread; no lock held.
#include <functional>
#include <optional>
#include <string>

#include "engine/field_rule.h"
#include "engine/random_source.h"
#include "platform/image_ops.h"
#include "platform/ports.h"

namespace tarvex::collect {

// The keys of the "水印和缩略图" tab as stored (texts; flags "-1"/"0"), with the editor's defaults
// for keys a rule lacks.
struct ImageSettings {
    bool pictureMark = false;        // "pic_waterpic_check"
    std::string markFile;            // "pic_water_filepath"
    std::string opacity = "70";      // "pic_transparent": percent
    std::string quality = "70";      // "pic_quality": JPEG quality
    std::string position = "9";      // "pic_waterpic_origin": 1..9 for method 2
    bool method2 = false;            // "pic_waterpictype_check"
    std::string offsetX = "0";       // "pic_waterpic_x"
    std::string offsetY = "0";       // "pic_waterpic_y"
    bool textMark = false;           // "pic_waterstring_check"
    std::string text;                // "pic_water_string"
    std::string colour = "#000000";  // "pic_water_color"
    std::string fontSize = "20";     // "pic_water_fontsize"
    bool thumbnail = false;          // "pic_smallpic_check"
    std::string thumbWidth = "70";   // "pic_smallpic_width"
    std::string thumbHeight = "70";  // "pic_smallpic_height"
    std::string thumbName;           // "pic_smallpic_newname": template of the thumbnail's address

    static ImageSettings read(const engine::FieldRuleJson& rule);
};

// The image operations used; the platform's by default.
struct ImageOps {
    std::function<platform::ImageResult(const std::string&, const std::string&, const platform::PictureWatermark&)>
        pictureMark = platform::drawPictureWatermark;
    std::function<platform::ImageResult(const std::string&, const std::string&, const platform::TextWatermark&)>
        textMark = platform::drawTextWatermark;
    std::function<platform::ImageResult(const std::string&, const std::string&, int, int)> thumbnail =
        platform::makeThumbnail;
};

// Watermarks the image at `imagePath` in place, when the settings ask for one: the picture
// mark when it is on and its file exists ("中间.txt" in the program folder centres it),
// otherwise the text mark when it is on and has text. The mark is drawn into
// `imagePath` + ".temp", which then replaces the image. Returns the error to log, or nullopt
// (also when no mark applies). A failed mark leaves the image as it was.
std::optional<std::string> watermarkImage(const ImageSettings& settings, const std::string& imagePath,
                                          const std::string& programFolder, const ImageOps& ops = {});

// A thumbnail to make for a record's first image.
struct ThumbnailPlan {
    std::string address;  // the published address ("pic_smallpic_newname" with its tokens filled in)
    std::string path;     // the image's folder + "/" + the address's last part
};
// Where the thumbnail of `imagePath` goes; nullopt with `error` set when the name gives no
// usable file name in the image's folder.
std::optional<ThumbnailPlan> planThumbnail(const ImageSettings& settings, const std::string& imagePath,
                                           std::string& error, const platform::Clock& clock,
                                           engine::RandomSource& random);
// Makes the thumbnail at the plan's path from the (possibly watermarked) image. The error to
// log, or nullopt on success.
std::optional<std::string> makeThumbnail(const ImageSettings& settings, const std::string& imagePath,
                                         const ThumbnailPlan& plan, const ImageOps& ops = {});

}  // namespace tarvex::collect
