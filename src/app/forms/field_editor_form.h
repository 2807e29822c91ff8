#pragma once
// app/forms: the form models behind the editor windows (no Qt: ui/forms binds them), and the
// background work those windows wait on. Uses app/tasks, app/workspace and the core layers.
//
// The field editor "字段设置" as values: one member per control, read from a field rule's JSON
// text (or a new field's defaults), checked and written back as the rule object with its keys in
// the order extraction and the other readers know. Also what the window offers from the task's
// settings text (multi-level pages, field references), its token menus, "测试" and "预览".
// No Qt; the window in ui/ shows a FieldEditorForm and gives one back. UI thread.
#include <optional>
#include <string>
#include <vector>

#include "app/forms/post_rule_form.h"
#include "engine/random_source.h"
#include "platform/ports.h"

namespace tarvex::app {

// How the field is cut out: "前后采集", "正则采集", "自定义字符串", "智能识别".
enum class FieldMethod { FrontBack = 1, Regex = 2, MadeUp = 3, Smart = 4 };
// The choices of "智能识别", as "radio_4_content" stores them.
inline constexpr const char* kSmartParts[] = {"正文", "标题", "发布时间", "作者"};
// What "自定义字符串" makes: nothing chosen, "固定字符串", "随机字符串", "随机数".
enum class MadeUpKind { None = 0, FixedText = 1, RandomLine = 2, RandomNumber = 3 };

// The prefix choices of the attachment page, by index ("-1" is a typed prefix).
inline constexpr const char* kPrefixChoices[] = {"请选择", "yyyy-mm-dd", "yyyymmdd", "不设置附件前缀"};
inline constexpr const char* kDefaultFileName = "/d/file/{dd:日期yyyymmdd}/{dd:MD5}.gif";
inline constexpr const char* kDefaultThumbnailName = "/d/file/{dd:日期yyyymmdd}/min_{dd:MD5}.gif";

struct FieldEditorForm {
    std::string name;        // "字段名称"
    bool notEmpty = false;   // "不能为空"
    bool everyPage = false;  // "分页循环匹配"
    bool fromLevel = false;  // "多级页面获取"
    std::string level;       // the chosen multi-level page, "" when none
    bool repeat = false;     // "单页重复提取"
    FieldMethod method = FieldMethod::FrontBack;
    std::string front, back;      // "前边字符:", "后边字符:"
    std::string pattern, output;  // "正则规则", "合成结果"
    MadeUpKind madeUp = MadeUpKind::None;
    std::string madeUpText;                    // fixed text or the lines of the random line
    std::string minText = "0", maxText = "0";  // "最小值：", "最大值："
    std::string smartPart = "正文";            // what "智能识别" takes, one of kSmartParts
    PostRuleList rules;                        // "内容处理"

    // Attachment page.
    bool downloadImages = false;              // "开启图片自动识别并下载"
    bool downloadAttachment = false;          // "附件下载"
    std::string fileName = kDefaultFileName;  // "新文件全名:"
    int prefixChoice = 0;                     // index of kPrefixChoices, -1 for a typed prefix
    std::string prefixText;                   // the typed prefix
    bool sendReferer = false;                 // "防盗链"
    bool blankInPath = false;                 // "图片路径包含空格"
    std::string sampleAddress = "http://www.example.com/uploads/allimg/photo.jpg";  // "测试规则"

    // "水印和缩略图" tab.
    bool pictureMark = false;  // "图片水印"
    std::string markFile;      // watermark picture
    std::string transparency = "70", quality = "70";
    bool methodTwo = false;  // "方式2"
    std::string position = "9", offsetX = "0", offsetY = "0";
    bool textMark = false;  // "文字水印"
    std::string markText, color = "#000000", fontSize = "20";
    bool thumbnail = false;  // "提取首张图片为缩略图"
    std::string thumbWidth = "70", thumbHeight = "70";
    std::string thumbName = kDefaultThumbnailName;

    // "筛选过滤" page.
    bool filterOn = false;     // "开启过滤功能"
    bool filterEmpty = false;  // "内容不能为空"
    bool filterMin = false;
    std::string minLength = "100";  // "文字长度不能小于"
    bool filterMax = false;
    std::string maxLength = "10000";  // "文字长度不能大于"
    bool filterInclude = false;
    std::string includeWords;  // "内容必须包含"
    bool filterExclude = false;
    std::string excludeWords;  // "内容不得包含"
    bool filterImages = false;
    std::string maxImages = "6";  // "图片最大张数"
    bool neverAgain = false;      // "附加操作：下次不再采集"

    // The form of a rule text; "" gives a new field. Absent keys take the new-field defaults
    // (the watermark offsets of an existing rule "5"); a multi-level page not among `levels`
    // reads as none chosen. nullopt when the text is not a JSON object.
    static std::optional<FieldEditorForm> fromJson(const std::string& ruleJson,
                                                   const std::vector<std::string>& levels = {});
    // The field rule's JSON text: keys in the editor's order, flags "-1"/"0", name without
    // spaces and commas, cut texts trimmed, line breaks of templates as CR LF, "file_save_diy"
    // only for a typed prefix, the watermark offsets only when not empty.
    std::string toJson() const;
};

// The name box: spaces (also U+3000) removed and the text trimmed, at every change.
std::string NameBoxText(const std::string& typed);

// What the window reads from the task's settings text.
std::vector<std::string> MultiLevelPageTitles(const std::string& settingsJson);  // "MorePageAll" titles
std::vector<std::string> TaskFieldNames(const std::string& settingsJson);        // "fieldsAll" titles
std::vector<std::string> ListPageFieldNames(const std::string& settingsJson);    // distinct, in order

// The right-click menus: of the file-name boxes, and of the fixed-text box (its tokens, then a
// field reference per field of the task and per list-page field).
const std::vector<std::string>& FileNameTokens();
std::vector<std::string> FixedTextTokens(const std::string& settingsJson);

// "保存": the save checks with the task's other fields (`editingIndex` is the edited field's
// place in "fieldsAll", -1 for a new field); the rule's JSON text, or the refusal to show.
struct FieldSaveResult {
    std::optional<std::string> json;
    std::string refusal;
};
FieldSaveResult SaveField(const FieldEditorForm& form, const std::string& settingsJson, int editingIndex);

// "测试" of the made-up page: "测试结果：" + the value, trimmed (or the refusal of the inputs).
std::string TestMadeUp(const FieldEditorForm& form, const platform::Clock& clock = platform::SystemClock::instance(),
                       engine::RandomSource& random = engine::DefaultRandom());
// "预览" of the attachment page: "新文件名如下：" + CR + the name template applied to the sample
// address.
std::string PreviewFileName(const std::string& nameTemplate, const std::string& sampleAddress,
                            const platform::Clock& clock = platform::SystemClock::instance(),
                            engine::RandomSource& random = engine::DefaultRandom());

}  // namespace tarvex::app
