// The demo as a person runs it in the window: the two tasks of demo/workspace, pointed at the
// demo site (demo/site, served on loopback) and a publish receiver, started from the run list's
// buttons; both end with their articles collected and published. With TARVEX_SCREENSHOT_DIR
// set, the window after the run is saved as demo-after-run.png (docs/ keeps one for the README).
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "main_window_fixture.h"
#include "platform/sqlite_db.h"
#include "publish/publish_module.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

struct DemoUi : test::MainWindowTest {
    std::string folder = test::makeTempFolder("tarvex-demo-ui-");
    test::LocalHttpServer site{std::string(TARVEX_SOURCE_DIR) + "/demo/site"};
    test::PublishReceiver target;

    void SetUp() override {
        test::qtApp();
        fs::copy(std::string(TARVEX_SOURCE_DIR) + "/demo/workspace", folder, fs::copy_options::recursive);
        const auto ws = app::Workspace::at(folder);
        // What scripts/demo does: the tasks' list pages on this site, the demo module to this target.
        const std::regex origin(R"(http://127\.0\.0\.1:\d+)");
        for (const auto& row : app::ReadTaskRows(ws)) {
            auto doc = nlohmann::ordered_json::parse(app::ReadStoredRules(row.rules).value());
            doc["Morepage"] = std::regex_replace(doc["Morepage"].get<std::string>(), origin, site.url(""));
            app::StoreTaskRules(ws, row.id, doc.dump());
        }
        ASSERT_TRUE(publish::SaveModule(publish::ModulePath(ws.publishFolder, "演示发布"), target.url(), true,
                                        {{"title", "{采集字段:标题}"},
                                         {"content", "{采集字段:内容}"},
                                         {"category", "{dd:栏目id}"},
                                         {"thumb", "{dd:自动缩略图}"},
                                         {"source", "{dd:网址}"}}));
        ASSERT_NO_FATAL_FAILURE(openWindow(folder, {}, {1100, 720}));
    }

    void TearDown() override {
        closeWindow();
        session.reset();
        test::removeTree(folder);
    }

    long long count(std::int64_t taskId, const std::string& where) {
        platform::SqliteConnection db(app::Workspace::at(folder).taskDbPath(taskId));
        return std::stoll(platform::queryAll(db, "select count(*) as n from content where " + where).text(0, "n"));
    }
};

}  // namespace

TEST_F(DemoUi, BothDemoTasksCollectAndPublishFromTheRunList) {
    const auto rows = app::ReadTaskRows(app::Workspace::at(folder));
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows) {
        window->taskTree()->setCurrentItem(window->taskItem(row.id));
        ASSERT_TRUE(window->addSelectedTaskToRunList());
    }
    test::processEvents();
    for (int r = 0; r < 2; ++r) {
        window->runListWidget()->selectRow(r);
        test::processEvents();
        ASSERT_TRUE(window->startButton()->isEnabled());
        window->startButton()->click();
    }
    auto state = [&](int r) { return window->runList()->topLevelItem(r)->text(2); };
    ASSERT_TRUE(test::waitFor(
        [&] {
            test::processEvents(20);
            return state(0) == "停止运行" && state(1) == "停止运行";
        },
        120s))
        << state(0).toStdString() << " / " << state(1).toStdString();

    // The news list: five articles over several pages with their pictures, one advertisement
    // rejected for good. The blog: six posts over two list pages.
    const std::int64_t news = rows[0].id, blog = rows[1].id;
    EXPECT_EQ(count(news, "getc=1 and 标题<>''"), 5);
    EXPECT_EQ(count(news, "postc=1 and 标题<>''"), 5);
    EXPECT_EQ(count(news, "getc=1 and ifnull(标题,'')=''"), 1);
    EXPECT_EQ(count(news, "内容 like '%<!--分页符-->%'"), 5);
    EXPECT_EQ(count(blog, "getc=1 and postc=1 and 作者<>'' and 标签<>''"), 6);

    const auto posts = target.posts("AddInfo");
    ASSERT_EQ(posts.size(), 11u);
    std::size_t withPicture = 0;
    for (const auto& p : posts)
        if (p.field("content").find("<img src=\"/wp-content/uploads/tarvex/") != std::string::npos &&
            !p.field("thumb").empty())
            ++withPicture;
    EXPECT_EQ(withPicture, 11u);

    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) {
        window->pageTabs()->setCurrentIndex(0);
        window->taskTree()->setCurrentItem(window->taskItem(news));
        test::processEvents(200);
        EXPECT_TRUE(window->grab().save(QString(dir) + "/demo-after-run.png"));
    }
}
