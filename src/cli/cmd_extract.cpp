// "extract": runs every field of a settings document over the pages of one content page, with
// the filters and plug-ins of a run, and prints the record a run would store as JSON (or the
// reason a run would reject it), the rule author's quickest loop. Pages come from files, or
// are fetched from --url with their pages and multi-level pages as a run fetches them.
// Attachments are not downloaded: image tags keep their source addresses.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>

#include "cli/cli_command.h"
#include "collect/content_worker.h"
#include "collect/http_fetch.h"
#include "engine/field_extract.h"
#include "engine/page_list.h"
#include "engine/post_process.h"
#include "platform/file_read.h"
#include "platform/http_client.h"
#include "platform/json_text.h"
#include "platform/utf8.h"

namespace tarvex::cli {
namespace {

// A settings file or a saved page: a regular file no larger than a fetched page may be.
std::optional<std::string> readFile(const std::string& path, std::string& error) {
    auto file = platform::readRegularFile(path, platform::kMaxBodyBytes);
    switch (file.error) {
        case platform::FileReadError::None:
            return std::move(file.bytes);
        case platform::FileReadError::NotRegular:
            error = "cannot read " + path + ": not a regular file";
            break;
        case platform::FileReadError::TooLarge:
            error = "cannot read " + path + ": larger than " + std::to_string(platform::kMaxBodyBytes / (1024 * 1024)) +
                    " MB, the most a fetched page may hold";
            break;
        case platform::FileReadError::Missing:
        case platform::FileReadError::Unreadable:
            error = "cannot read " + path + ": " + file.reason;
            break;
    }
    return std::nullopt;
}

int runExtract(CliContext& ctx) {
    std::string settingsPath = takeOption(ctx.args, "--settings");
    std::string url = takeOption(ctx.args, "--url");
    std::vector<std::string> pagePaths;
    for (std::string p = takeOption(ctx.args, "--page"); !p.empty(); p = takeOption(ctx.args, "--page"))
        pagePaths.push_back(p);
    if (settingsPath.empty() || (pagePaths.empty() && url.empty()) || !ctx.args.empty()) {
        ctx.err
            << "usage: tarvex-cli extract --settings FILE (--page FILE [--page FILE ...] [--url URL] | --url URL)\n";
        return 2;
    }
    std::string error;
    auto settingsBytes = readFile(settingsPath, error);
    if (!settingsBytes) {
        ctx.err << "extract: " << error << "\n";
        return 2;
    }
    std::string_view settingsText = platform::utf8::stripBom(*settingsBytes);
    if (!platform::JsonNestingWithinLimit(settingsText)) {
        ctx.err << "extract: " << settingsPath << ": " << platform::JsonTooDeepMessage() << "\n";
        return 2;
    }
    auto settings = platform::parseJson<engine::SettingsJson>(settingsText);
    if (settings.is_discarded() || !settings.is_object()) {
        ctx.err << "extract: " << settingsPath << " is not a JSON settings document\n";
        return 2;
    }
    auto rules = engine::ReadFieldRules(settings);
    if (rules.error) {
        ctx.err << "extract: " << *rules.error << "\n";
        return 2;
    }
    const std::string settingsJson = std::string(settingsText);
    bool allFixed = !rules.rules.empty();
    for (const auto& r : rules.rules) allFixed = allFixed && r.madeUp;

    // The post-processing chain reads the workspace's word lists and fetches "访问网页" addresses.
    engine::ChainEnv env;
    env.programFolder = ctx.workspace.empty() || ctx.workspace.back() == '/' ? ctx.workspace : ctx.workspace + "/";
    env.fetch = [](const std::string& address, const std::string& block) { return collect::HttpGet(address, block); };
    const std::string programFolder = env.programFolder;
    engine::SetChainEnv(std::move(env));

    engine::PageList pages;
    if (!pagePaths.empty()) {
        std::vector<std::string> texts;
        for (const auto& path : pagePaths) {
            auto bytes = readFile(path, error);
            if (!bytes) {
                ctx.err << "extract: " << error << "\n";
                return 2;
            }
            std::string text = engine::PageTextFromBytes(*bytes);
            texts.push_back(platform::utf8::isValid(text) ? text : platform::utf8::repair(text));
        }
        if (allFixed) texts = {"strip_get_content"};
        pages = engine::ContentPageList(texts);
    } else {
        // As a content worker does it: the first page wrapped, then its pages and levels.
        const std::string options = collect::BuildFetchOptions(settingsJson);
        std::string page = "strip_get_content";
        if (!allFixed) {
            std::string r = collect::HttpGet(url, options);
            if (r.compare(0, 5, "succ:") != 0) {
                ctx.err << "extract: " << url << ": " << r.substr(r.compare(0, 5, "fail:") == 0 ? 5 : 0) << "\n";
                return 1;
            }
            page = r.substr(5);
        }
        if (!page.empty()) page = "<tarvex>" + page + "</tarvex>";
        pages =
            collect::contentPageList(url, page, settingsJson, options,
                                     [](const std::string& a, const std::string& o) { return collect::HttpGet(a, o); });
    }

    engine::FieldValueList values;
    if (!url.empty()) values.emplace_back("url", url);
    collect::RecordSteps steps;
    steps.url = url;
    steps.programFolder = programFolder;
    auto record = collect::collectRecord(settings, pages, std::move(values), steps);
    if (!record.error.empty()) ctx.err << "extract: " << record.error << "\n";
    if (record.rejected()) {
        // What the run would show for this record; the row would stay queued (or, with
        // "下次不采集", be marked done) and store no values.
        ctx.out << record.filter << "\n";
        return 0;
    }
    engine::SettingsJson out = engine::SettingsJson::object();
    for (const auto& [title, value] : record.values) out[title] = value;
    ctx.out << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return 0;
}

const CliCommandRegistrar reg(
    {"extract", "extract --settings FILE (--page FILE [--page FILE ...] [--url URL] | --url URL)",
     "show the record a run would store for one content page (JSON), or why it would reject it", runExtract});

}  // namespace
}  // namespace tarvex::cli
