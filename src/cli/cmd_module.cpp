// "module list|show|save|test": the publish modules of the workspace ("发布规则/<name>.p"). "save"
// enciphers a plain module text (the lines "posturl=…", "charset=1|0", then one field per line)
// exactly as the module editor does, so servers and scripts can install a module; "test" sends
// the module editor's test publication.
#include <fstream>
#include <ostream>
#include <sstream>

#include "app/workspace/workspace.h"
#include "cli/cli_command.h"
#include "publish/module_test.h"
#include "publish/publish_module.h"

namespace tarvex::cli {
namespace {

int usage(CliContext& ctx) {
    ctx.err << "usage: tarvex-cli module list | module show NAME | module save NAME FILE | module test NAME\n";
    return 2;
}

// A module name becomes a file name: no folder separators, nothing hidden.
bool validName(const std::string& name) {
    return !name.empty() && name.find_first_of("/\\") == std::string::npos && name[0] != '.';
}

// The module named by the second argument; the error printed when there is none.
std::optional<publish::PublishModule> loadNamed(CliContext& ctx, const std::string& folder) {
    std::string error;
    auto module = validName(ctx.args[1]) ? publish::LoadModule(folder, ctx.args[1], &error) : std::nullopt;
    if (!module) ctx.err << "tarvex-cli: " << (error.empty() ? publish::MissingModuleText(ctx.args[1]) : error) << "\n";
    return module;
}

int runModule(CliContext& ctx) {
    if (ctx.args.empty()) return usage(ctx);
    const std::string folder = app::Workspace::at(ctx.workspace).publishFolder;
    const std::string verb = ctx.args[0];
    if (verb == "list" && ctx.args.size() == 1) {
        for (const auto& name : publish::ListModules(folder)) ctx.out << name << "\n";
        return 0;
    }
    if (verb == "show" && ctx.args.size() == 2) {
        auto module = loadNamed(ctx, folder);
        if (!module) return 1;
        ctx.out << module->text();
        return 0;
    }
    if (verb == "save" && ctx.args.size() == 3) {
        const std::string& name = ctx.args[1];
        if (!validName(name)) {
            ctx.err << "tarvex-cli: not a module name: \"" << name << "\"\n";
            return 2;
        }
        std::ifstream in(ctx.args[2], std::ios::binary);
        if (!in) {
            ctx.err << "tarvex-cli: cannot read " << ctx.args[2] << "\n";
            return 1;
        }
        std::ostringstream text;
        text << in.rdbuf();
        publish::PublishModule plain{publish::SplitModuleText(text.str())};
        if (plain.lines.size() < 2 || plain.address().rfind("http", 0) != 0) {
            ctx.err << "tarvex-cli: a module begins with \"posturl=http…\" and \"charset=1\" or \"charset=0\"\n";
            return 1;
        }
        if (!publish::SaveModule(publish::ModulePath(folder, name), plain.address(), plain.utf8(), plain.fields())) {
            ctx.err << "tarvex-cli: cannot write " << publish::ModulePath(folder, name) << "\n";
            return 1;
        }
        return 0;
    }
    if (verb == "test" && ctx.args.size() == 2) {
        auto module = loadNamed(ctx, folder);
        if (!module) return 1;
        // As the module editor's "测试发布": every line with a name, as written.
        std::vector<std::pair<std::string, std::string>> fields;
        for (const auto& field : module->fields())
            if (!field.first.empty()) fields.push_back(field);
        const auto result = publish::TestPublish(module->address(), module->utf8(), fields);
        std::string message = result.message;
        for (auto& c : message)
            if (c == '\r') c = '\n';
        (result.succeeded ? ctx.out : ctx.err) << message << "\n";
        return result.succeeded ? 0 : 1;
    }
    return usage(ctx);
}

const CliCommandRegistrar reg({"module", "module list | module show NAME | module save NAME FILE | module test NAME",
                               "list, print, install or test-publish the publish modules of the workspace", runModule});
}  // namespace
}  // namespace tarvex::cli
