#include "app/workspace/user_workspace.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include "app/workspace/workspace.h"
#include "platform/sqlite_db.h"

namespace fs = std::filesystem;

namespace tarvex::app {
namespace {

std::string withSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string envOr(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Fills `dir` (created when missing) with the template and the parts every workspace needs.
void fillWorkspace(const fs::path& dir, const std::string& templateFolder) {
    fs::create_directories(dir);
    std::error_code ec;
    if (!templateFolder.empty() && fs::is_directory(templateFolder, ec))
        fs::copy(templateFolder, dir, fs::copy_options::recursive | fs::copy_options::skip_existing);
    for (const char* sub : {"config", "data", "发布规则"}) fs::create_directories(dir / fs::u8path(sub));
    const fs::path config = dir / "config" / "config.db3";
    if (!fs::exists(config)) CreateCatalogueDb(config.string());
}

std::string cannotCreate(const std::string& folder, const std::string& reason) {
    return "cannot create the workspace " + folder + ": " + reason +
           ". Make its parent folder writable, set XDG_DATA_HOME to a writable folder, or pass --workspace DIR.";
}

}  // namespace

WorkspaceSources WorkspaceSourcesFromEnvironment(std::string given) {
    WorkspaceSources s;
    s.given = std::move(given);
    s.executableFolder = executableFolder();
    s.xdgDataHome = envOr("XDG_DATA_HOME");
    s.home = envOr("HOME");
    return s;
}

std::string InstalledTemplateFolder(const std::string& executableFolder) {
    return withSlash(executableFolder) + "../share/tarvex/workspace/";
}

WorkspaceChoice ChooseWorkspace(const WorkspaceSources& s) {
    WorkspaceChoice c;
    if (!s.given.empty()) {
        c.kind = WorkspaceKind::Given;
        // Paths under the workspace are stored (attachments' local files): a relative folder
        // would tie them to the directory the program happened to start in.
        std::error_code ec;
        const fs::path absolute = fs::absolute(fs::u8path(s.given), ec);
        c.folder = withSlash(ec ? s.given : absolute.lexically_normal().string());
        return c;
    }
    if (pathExists(withSlash(s.executableFolder) + "config/config.db3")) {
        c.kind = WorkspaceKind::Portable;
        c.folder = withSlash(s.executableFolder);
        return c;
    }
    c.kind = WorkspaceKind::User;
    c.templateFolder = InstalledTemplateFolder(s.executableFolder);
    if (!s.xdgDataHome.empty() && s.xdgDataHome.front() == '/')
        c.folder = withSlash(s.xdgDataHome) + "tarvex/";
    else if (!s.home.empty() && s.home.front() == '/')
        c.folder = withSlash(s.home) + ".local/share/tarvex/";
    else
        c.error = "no workspace: neither XDG_DATA_HOME nor HOME names a folder. Set HOME, or pass --workspace DIR.";
    return c;
}

std::string PrepareWorkspace(const std::string& folder, const std::string& templateFolder) {
    fs::path dir = fs::u8path(folder);
    if (dir.has_filename() == false) dir = dir.parent_path();
    if (pathExists((dir / "config" / "config.db3").string())) return {};
    try {
        std::error_code ec;
        if (fs::exists(dir, ec)) {
            if (!fs::is_directory(dir, ec)) return cannotCreate(folder, "a file of that name is in the way");
            fillWorkspace(dir, templateFolder);
            return {};
        }
        fs::create_directories(dir.parent_path());
        // Assembled under a private name and renamed into place: a second program starting at
        // the same moment never sees half a workspace.
        std::random_device rd;
        const fs::path staging =
            dir.parent_path() / (".tarvex-new-" + std::to_string(::getpid()) + "-" + std::to_string(rd() % 1000000));
        try {
            fillWorkspace(staging, templateFolder);
        } catch (...) {
            fs::remove_all(staging, ec);
            throw;
        }
        fs::rename(staging, dir, ec);
        if (ec) {
            fs::remove_all(staging);
            if (!pathExists((dir / "config" / "config.db3").string())) return cannotCreate(folder, ec.message());
        }
        return {};
    } catch (const fs::filesystem_error& e) {
        return cannotCreate(folder, e.code().message());
    } catch (const std::exception& e) {
        return cannotCreate(folder, e.what());
    }
}

void CreateCatalogueDb(const std::string& path) {
    platform::SqliteConnection db(path);
    db.exec(
        "CREATE TABLE IF NOT EXISTS vorn_task(id INTEGER PRIMARY KEY AUTOINCREMENT, fuid INTEGER, name TEXT, "
        "description TEXT, rules TEXT);"
        "CREATE TABLE IF NOT EXISTS qz_task(ID INTEGER PRIMARY KEY AUTOINCREMENT, isbase INTEGER, taskid INTEGER, "
        "name TEXT, idfather INTEGER, basenotes TEXT, rules TEXT);");
}

}  // namespace tarvex::app
