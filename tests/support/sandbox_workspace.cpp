#include "support/sandbox_workspace.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "app/workspace/user_workspace.h"
#include "collect/task_db.h"
#include "platform/ports.h"
#include "platform/sqlite_db.h"

namespace fs = std::filesystem;

namespace tarvex::test {

std::string makeTempFolder(const std::string& prefix) {
    std::string tmpl = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    return tmpl + "/";
}

void removeTree(const std::string& path) {
    std::error_code ec;
    // Give write permission back first so read-only folders made by a test can be removed.
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

std::int64_t addSlowDirectTask(const SandboxWorkspace& ws, const std::string& name) {
    std::vector<std::string> urls;
    for (int i = 0; i < 3000; ++i) urls.push_back("http://127.0.0.1:9/p/" + std::to_string(i));
    nlohmann::json doc{
        {"Morepage", nlohmann::json{{"More_urls", urls}}.dump()}, {"other_time1", "150"}, {"other_time2", "0"}};
    auto w = ws.workspace();
    std::int64_t id = app::InsertTaskRow(w, 0, name, app::StoreRules(doc.dump()));
    platform::SilentDialogs quiet;
    if (!collect::CreateTaskDb(w.taskDbPath(id), quiet)) throw std::runtime_error("task database not created");
    collect::CreateContentTables(w.taskDbPath(id), doc.dump());
    return id;
}

void createConfigDb(const std::string& path) {
    app::CreateCatalogueDb(path);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

SandboxWorkspace::SandboxWorkspace(Options options) : m_folder(makeTempFolder()) {
    makeDir("config");
    makeDir("data");
    makeDir("发布规则");
    if (options.withLog) makeDir("log");
    if (options.withConfig) createConfigDb(path("config/config.db3"));
}

SandboxWorkspace::~SandboxWorkspace() {
    removeTree(m_folder);
}

void SandboxWorkspace::writeFile(const std::string& rel, const std::string& content) const {
    fs::create_directories(fs::path(path(rel)).parent_path());
    std::ofstream out(path(rel), std::ios::binary | std::ios::trunc);
    out << content;
}

std::string SandboxWorkspace::readFile(const std::string& rel) const {
    return readWholeFile(path(rel));
}

void SandboxWorkspace::makeDir(const std::string& rel) const {
    fs::create_directories(path(rel));
}

}  // namespace tarvex::test
