#pragma once
// Which folder a started program uses as its workspace, and the making of a new workspace.
// Three cases, in this order:
//   1. "--workspace DIR" given: that folder, used as it is;
//   2. a portable program: the executable's folder holds config/config.db3, so it is the
//      workspace (the layout of an unpacked program folder);
//   3. an installed program: $XDG_DATA_HOME/tarvex (default ~/.local/share/tarvex), made from
//      the installed template (<prefix>/share/tarvex/workspace) at first start.
// Pure functions over the values passed in; only `WorkspaceSourcesFromEnvironment` reads the
// process environment. Any thread.
#include <string>

namespace tarvex::app {

struct WorkspaceSources {
    std::string given;             // "--workspace" value, "" when not given
    std::string executableFolder;  // ends with "/"
    std::string xdgDataHome;       // $XDG_DATA_HOME ("" when unset)
    std::string home;              // $HOME ("" when unset)
};

enum class WorkspaceKind { Given, Portable, User };

struct WorkspaceChoice {
    WorkspaceKind kind = WorkspaceKind::Given;
    std::string folder;          // ends with "/"; "" when no folder could be chosen
    std::string templateFolder;  // for User: where the installed template would be
    std::string error;           // set when folder is "": what went wrong and what to do
};

// The environment's values for `given` and the running executable.
WorkspaceSources WorkspaceSourcesFromEnvironment(std::string given);

// Chooses the workspace folder (see the header comment). A relative $XDG_DATA_HOME is ignored,
// as the XDG base directory rules say.
WorkspaceChoice ChooseWorkspace(const WorkspaceSources& sources);

// Template folder of an installed program whose executable lies in `executableFolder`
// (<prefix>/bin/ → <prefix>/share/tarvex/workspace/).
std::string InstalledTemplateFolder(const std::string& executableFolder);

// Makes `folder` a workspace when it has no config/config.db3: copies the template's files
// (when the template exists; files already there are kept), then adds the folders "config",
// "data", "发布规则", "log" and an empty task catalogue. A folder that does not exist yet is
// assembled beside it and renamed into place, so two programs starting at once both end up
// with one complete workspace. Returns "" on success, else the error with what to do.
std::string PrepareWorkspace(const std::string& folder, const std::string& templateFolder);

// Creates the task catalogue database (tables vorn_task and qz_task) at `path`; an existing
// database keeps its rows. Throws platform::SqliteError.
void CreateCatalogueDb(const std::string& path);

}  // namespace tarvex::app
