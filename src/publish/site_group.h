#pragma once
// Site-group publishing ("post_morepost"): the list of extra sites, each with its own publish
// module, column id and flag column "postc_" + mark; the publishing targets built from it; and
// the checks of the entry dialog "发布站点设置". Pure; any thread.
#include <optional>
#include <string>
#include <vector>

namespace tarvex::publish {

struct SiteEntry {
    std::string name, mark, module, columnId, remark;
};

struct SiteGroup {
    bool enabled = false;  // "check1", the box "启用多站发布"
    std::vector<SiteEntry> sites;
};

// Reads "post_morepost"; an empty or unreadable text is an empty, disabled group. Entries are
// "name,mark,module,columnId,remark" (missing parts empty).
SiteGroup ParseSiteGroup(const std::string& text);
// The text the site list dialog returns: "" when there are no sites, else the JSON object.
std::string ComposeSiteGroup(const SiteGroup& group);

// A mark the site entry window accepts: 1 to 4 of A–Z, a–z, 0–9 and "_" (it names a column).
bool IsValidMark(const std::string& mark);

// One publishing target: entry 0 is the main site ("主站", empty mark).
struct PublishTarget {
    std::string siteName, mark, module, columnId;
    std::string flagColumn() const { return mark.empty() ? "postc" : "postc_" + mark; }
    // name "@!@" mark "@!@" module "@!@" column id
    std::string entryText() const;
};

// The main site from "PostRuleName" and "post_class_selected" ("0" when empty), then, when the
// group is enabled, every extra site in list order.
std::vector<PublishTarget> PublishTargets(const std::string& settingsJson);

// Checks a site entry before it is stored, in the dialog's order; the message to show, or
// nullopt when it may be stored. `editing` is the row being edited (-1 when adding);
// `moduleExists` tells whether a module file is there, `modulePath` names it in the message.
std::optional<std::string> CheckSiteEntry(SiteEntry& entry, const std::vector<SiteEntry>& sites, int editing,
                                          bool moduleExists, const std::string& modulePath);

}  // namespace tarvex::publish
