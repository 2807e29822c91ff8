// "extract": runs every field of a settings document over the pages of one content page and
// prints the record as JSON, the rule author's quickest loop.
#include <ostream>

#include "cli/cli_command.h"
#include "collect/http_fetch.h"
#include "engine/field_extract.h"
#include "engine/page_list.h"
#include "engine/post_process.h"
#include "platform/file_read.h"
#include "platform/http_client.h"
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
    if (settingsPath.empty() || pagePaths.empty() || !ctx.args.empty()) {
        ctx.err << "usage: tarvex-cli extract --settings FILE --page FILE [--page FILE ...] [--url URL]\n";
        return 2;
    }
    std::string error;
    auto settingsBytes = readFile(settingsPath, error);
    if (!settingsBytes) {
        ctx.err << "extract: " << error << "\n";
        return 2;
    }
    std::string_view settingsText = platform::utf8::stripBom(*settingsBytes);
    auto settings = engine::SettingsJson::parse(settingsText.begin(), settingsText.end(), nullptr, false);
    if (settings.is_discarded() || !settings.is_object()) {
        ctx.err << "extract: " << settingsPath << " is not a JSON settings document\n";
        return 2;
    }
    std::vector<std::string> pages;
    for (const auto& path : pagePaths) {
        auto bytes = readFile(path, error);
        if (!bytes) {
            ctx.err << "extract: " << error << "\n";
            return 2;
        }
        pages.push_back(engine::PageTextFromBytes(*bytes));
    }
    // The post-processing chain reads the workspace's word lists and fetches "访问网页" addresses.
    engine::ChainEnv env;
    env.programFolder = ctx.workspace.empty() || ctx.workspace.back() == '/' ? ctx.workspace : ctx.workspace + "/";
    env.fetch = [](const std::string& address, const std::string& block) { return collect::HttpGet(address, block); };
    engine::SetChainEnv(std::move(env));
    auto outcome = engine::ExtractRecord(settings, pages, url);
    if (outcome.error) {
        ctx.err << "extract: " << *outcome.error << "\n";
        return 1;
    }
    ctx.out << outcome.record.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return 0;
}

const CliCommandRegistrar reg({"extract", "extract --settings FILE --page FILE [--page FILE ...] [--url URL]",
                               "run the settings document's fields over the pages of one content page, print JSON",
                               runExtract});

}  // namespace
}  // namespace tarvex::cli
