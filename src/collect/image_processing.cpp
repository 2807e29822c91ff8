#include "collect/image_processing.h"

#include <unistd.h>

#include <cstdio>

#include "collect/attachment_paths.h"
#include "collect/attachment_safety.h"
#include "engine/template_lang.h"
#include "engine/text_tokens.h"
#include "platform/file_read.h"
#include "platform/run_log.h"

namespace tarvex::collect {

namespace {

// A number of the tab as an int; the error names the key and the text.
std::optional<int> number(const std::string& text, const char* key, std::string& error) {
    auto n = engine::ParseInteger(engine::TrimText(text));
    if (!n || *n < -1000000 || *n > 1000000) {
        error = std::string(key) + "不是有效的整数：" + text;
        return std::nullopt;
    }
    return static_cast<int>(*n);
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

ImageSettings ImageSettings::read(const engine::FieldRuleJson& rule) {
    ImageSettings s;
    auto text = [&](const char* key, std::string& into) {
        if (rule.is_object() && rule.contains(key)) into = engine::JsonText(rule, key);
    };
    s.pictureMark = engine::JsonFlag(rule, "pic_waterpic_check");
    text("pic_water_filepath", s.markFile);
    text("pic_transparent", s.opacity);
    text("pic_quality", s.quality);
    text("pic_waterpic_origin", s.position);
    s.method2 = engine::JsonFlag(rule, "pic_waterpictype_check");
    text("pic_waterpic_x", s.offsetX);
    text("pic_waterpic_y", s.offsetY);
    s.textMark = engine::JsonFlag(rule, "pic_waterstring_check");
    text("pic_water_string", s.text);
    text("pic_water_color", s.colour);
    text("pic_water_fontsize", s.fontSize);
    s.thumbnail = engine::JsonFlag(rule, "pic_smallpic_check");
    text("pic_smallpic_width", s.thumbWidth);
    text("pic_smallpic_height", s.thumbHeight);
    text("pic_smallpic_newname", s.thumbName);
    return s;
}

std::optional<std::string> watermarkImage(const ImageSettings& s, const std::string& imagePath,
                                          const std::string& programFolder, const ImageOps& ops) {
    std::string markFile = s.markFile;
    if (!markFile.empty() && markFile[0] != '/') markFile = programFolder + markFile;
    const bool picture = s.pictureMark && !s.markFile.empty() && platform::isRegularFile(markFile);
    const bool text = !picture && s.textMark && !s.text.empty();
    if (!picture && !text) return std::nullopt;

    const std::string temp = imagePath + ".temp";
    // A ".temp" left by an earlier, interrupted run must not be taken for this mark's output.
    ::unlink(temp.c_str());
    std::string error;
    platform::ImageResult drawn;
    if (picture) {
        platform::PictureWatermark mark;
        mark.markPath = markFile;
        mark.method2 = s.method2;
        if (s.method2) {
            auto pos = number(s.position, "pic_waterpic_origin", error);
            auto x = number(s.offsetX, "pic_waterpic_x", error);
            auto y = number(s.offsetY, "pic_waterpic_y", error);
            if (!pos || !x || !y) return error;
            mark.position = *pos;
            mark.offsetX = *x;
            mark.offsetY = *y;
        } else {
            auto opacity = number(s.opacity, "pic_transparent", error);
            auto quality = number(s.quality, "pic_quality", error);
            if (!opacity || !quality) return error;
            mark.opacity = *opacity / 100.0;
            mark.quality = *quality;
            mark.centred = platform::isRegularFile(programFolder + "中间.txt");
        }
        drawn = ops.pictureMark(imagePath, temp, mark);
    } else {
        platform::TextWatermark mark;
        mark.text = s.text;
        auto size = number(s.fontSize, "pic_water_fontsize", error);
        auto quality = number(s.quality, "pic_quality", error);
        if (!size || !quality) return error;
        mark.fontSizePt = *size;
        mark.quality = *quality;
        if (!platform::parseHexColour(s.colour, mark.red, mark.green, mark.blue))
            return "pic_water_color不是有效的颜色：" + s.colour;
        drawn = ops.textMark(imagePath, temp, mark);
    }
    if (!platform::isRegularFile(temp)) return drawn.ok ? std::optional<std::string>() : drawn.error;
    if (!drawn.ok) {
        // Whatever the failed drawing left behind is not a finished image.
        ::unlink(temp.c_str());
        return drawn.error;
    }
    if (std::rename(temp.c_str(), imagePath.c_str()) != 0) {
        ::unlink(temp.c_str());
        return "水印图片无法替换原图：" + imagePath;
    }
    return std::nullopt;
}

std::optional<ThumbnailPlan> planThumbnail(const ImageSettings& s, const std::string& imagePath, std::string& error,
                                           const platform::Clock& clock, engine::RandomSource& random) {
    std::string name = engine::ReplaceAll(s.thumbName, "\r\n", "");
    ThumbnailPlan plan;
    plan.address = engine::ExpandTokens(name, imagePath, clock, random);
    // Thumbnails are always written as JPEG: the name says so, whatever the image's format.
    const std::string last = LastPathPart(plan.address);
    if (last.find_first_not_of('.') != std::string::npos) plan.address = WithJpegExtension(plan.address);
    const std::string file = CleanPathSegment(LastPathPart(plan.address));
    if (file.empty()) {
        error = "缩略图文件名无效：" + plan.address;
        return std::nullopt;
    }
    if (const std::string why = UnsafeFileName(file); !why.empty()) {
        error = "缩略图文件名不安全：" + why;
        return std::nullopt;
    }
    plan.path = folderOf(imagePath) + "/" + file;
    if (plan.path == imagePath) {
        error = "缩略图文件名与图片相同：" + plan.path;
        return std::nullopt;
    }
    return plan;
}

std::optional<std::string> makeThumbnail(const ImageSettings& s, const std::string& imagePath,
                                         const ThumbnailPlan& plan, const ImageOps& ops) {
    std::string error;
    auto width = number(s.thumbWidth, "pic_smallpic_width", error);
    auto height = number(s.thumbHeight, "pic_smallpic_height", error);
    if (!width || !height) return error;
    platform::WriteLog("获取缩略图:filename:" + imagePath + ",newname:" + plan.path, 0);
    if (!platform::isRegularFile(imagePath)) return std::string("文件不存在");
    auto made = ops.thumbnail(imagePath, plan.path, *width, *height);
    if (!made.ok) return made.error.empty() ? std::string("缩略图生成失败") : made.error;
    platform::WriteLog("缩略图生成了", 0);
    if (!platform::isRegularFile(plan.path)) return std::string("缩略图没有写出：") + plan.path;
    platform::WriteLog("获取缩略图保存成功！！！！！！", 0);
    return std::nullopt;
}

}  // namespace tarvex::collect
