#pragma once
// The task settings for the loopback site tests/data/sites/articles-with-attachments: a list
// page, five articles with pages, images, a download page with a mirror page (two levels) and
// a comment page made from the article's address. Shared by the worker, runner and CLI tests.
#include <cstdint>
#include <string>

#include "support/sandbox_workspace.h"

namespace tarvex::test {

// The site's folder under tests/data.
std::string articleSiteFolder();

struct ArticleSiteOptions {
    std::string listUrl;        // the list page's address on the test server
    std::string workers = "3";  // "gettnum"
    std::string pause = "0";    // "other_time2"
    std::string fieldExtras;    // JSON object text merged into the 正文 field rule
};

// The settings document (JSON text) of a task collecting the site: fields 标题, 正文 (images,
// every page, rejects "广告" for good), 作者, 附件 (direct attachment from the download page),
// 镜像 (from the mirror page), 评论 (from the comment page) and 来源 (fixed text naming the
// list title).
std::string articleSiteSettings(const ArticleSiteOptions& options);

// Adds a task to the workspace's catalogue with its settings and creates its database, as
// saving a new task does; returns its id.
std::int64_t addCollectTask(const SandboxWorkspace& ws, const std::string& name, const std::string& settings);

}  // namespace tarvex::test
