#pragma once
// A temporary program folder laid out like an installation: config/config.db3 with the
// catalogue tables, data/, 发布规则/, and optionally log/. Removed when it goes out of scope.
#include <cstdint>
#include <string>

#include "app/workspace/workspace.h"

namespace tarvex::test {

class SandboxWorkspace {
public:
    struct Options {
        bool withLog = false;
        bool withConfig = true;
    };
    SandboxWorkspace() : SandboxWorkspace(Options{}) {}
    explicit SandboxWorkspace(Options options);
    ~SandboxWorkspace();
    SandboxWorkspace(const SandboxWorkspace&) = delete;
    SandboxWorkspace& operator=(const SandboxWorkspace&) = delete;

    const std::string& folder() const { return m_folder; }  // ends with "/"
    app::Workspace workspace() const { return app::Workspace::at(m_folder); }
    std::string path(const std::string& rel) const { return m_folder + rel; }

    void writeFile(const std::string& rel, const std::string& content) const;
    std::string readFile(const std::string& rel) const;
    void makeDir(const std::string& rel) const;

private:
    std::string m_folder;
};

// Adds a direct-mode task to the workspace's catalogue, with its database: 3000 addresses
// inserted in batches 150 ms apart, slow enough to pause, stop or close the program while it
// runs. Returns its id.
std::int64_t addSlowDirectTask(const SandboxWorkspace& ws, const std::string& name);

// Creates the catalogue database with the tables vorn_task and qz_task.
void createConfigDb(const std::string& path);

// Reads a whole file; "" when missing.
std::string readWholeFile(const std::string& path);
// A fresh empty temporary folder, ending with "/".
std::string makeTempFolder(const std::string& prefix = "tarvex-test-");
void removeTree(const std::string& path);

}  // namespace tarvex::test
