// The data browser over a real task database: paging, filters, the query and statement boxes,
// the cell save and the mark commands; the CSV and text exports; the spreadsheet import of an
// .xlsx written by openpyxl and of .xls fixtures.
#include "app/data/data_browser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "app/data/data_export.h"
#include "app/tasks/catalogue.h"
#include "collect/task_db.h"
#include "platform/spreadsheet.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "support/small_disk.h"

using namespace tarvex;
namespace fs = std::filesystem;

namespace {

struct Browser : ::testing::Test {
    test::SandboxWorkspace sandbox;
    test::ScriptedDialogs dialogs;
    std::int64_t id = 0;

    // A task with the fields 标题 and 内容 (and any extra), in a site group whose current site is "a".
    void makeTask(std::vector<std::string> fields = {"标题", "内容"}) {
        nlohmann::json all = nlohmann::json::array();
        for (const auto& f : fields) all.push_back(nlohmann::json{{"title", f}}.dump());
        nlohmann::json group{{"check1", "-1"}, {"MorePostAll", {"站点A,a,1"}}};
        nlohmann::json doc{{"fieldsAll", all}, {"post_morepost", group.dump()}};
        auto made = app::CreateTaskWithSettings(sandbox.workspace(), dialogs, 0, "新闻", doc.dump());
        ASSERT_TRUE(made);
        id = *made;
        // A flag column of a site that is no longer in the group.
        collect::execScript(db(), "ALTER table content ADD 'postc_old' TINYINT(1)  DEFAULT '0'");
    }
    std::string db() const { return sandbox.workspace().taskDbPath(id); }
    void addRows(int n, int getc = 1, int postc = 0) {
        std::string sql = "BEGIN;";
        for (int i = 0; i < n; ++i)
            sql += "insert into content(url,geturl,getc,postc,标题,内容) values ('http://h/" + std::to_string(i) +
                   "',1," + std::to_string(getc) + "," + std::to_string(postc) + ",'标题" + std::to_string(i) +
                   "','正文');";
        collect::execScript(db(), sql + "COMMIT;");
    }
    std::string value(const std::string& column, int rowId) {
        return collect::query(db(), "select \"" + column + "\" as v from content where id=" + std::to_string(rowId))
            .text(0, "v");
    }
    std::vector<std::string> ids(const app::DataBrowser& b) {
        std::vector<std::string> out;
        for (const auto& r : b.rows()) out.push_back(r[0]);
        return out;
    }
};

TEST_F(Browser, PagesOf20WithTheLastPageAndThePageBox) {
    makeTask();
    addRows(45);
    app::DataBrowser b(sandbox.workspace(), id, "新闻", dialogs);
    ASSERT_TRUE(b.open());
    EXPECT_EQ(b.caption(), "数据库查看器(新闻," + std::to_string(id) + ".db3)");
    EXPECT_EQ(b.countLabel(), "总数：45 页数:3");
    EXPECT_EQ(b.rows().size(), 20u);
    EXPECT_EQ(b.rows().front()[0], "1");
    b.previousPage();
    EXPECT_EQ(b.currentPage(), 1);
    b.lastPage();
    EXPECT_EQ(b.currentPage(), 3);
    EXPECT_EQ(ids(b), (std::vector<std::string>{"41", "42", "43", "44", "45"}));
    b.nextPage();
    EXPECT_EQ(b.currentPage(), 3);
    for (const char* ignored : {"4", "0", "3", "x", "-1"}) {
        EXPECT_FALSE(b.pageBoxLeft(ignored)) << ignored;
        EXPECT_EQ(b.currentPage(), 3) << ignored;
    }
    EXPECT_TRUE(b.pageBoxLeft("2"));
    EXPECT_EQ(b.rows().front()[0], "21");
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Browser, FiltersRecountAndAnEmptyFilterShowsZeroPages) {
    makeTask();
    addRows(3, 1, 0);
    addRows(2, 0, 0);
    app::DataBrowser b(sandbox.workspace(), id, "新闻", dialogs);
    ASSERT_TRUE(b.open());
    b.setFilter(1);  // 未采集
    EXPECT_EQ(b.countLabel(), "总数：2 页数:1");
    EXPECT_EQ(ids(b), (std::vector<std::string>{"4", "5"}));
    b.setFilter(4);  // 已采集已发布
    EXPECT_TRUE(b.rows().empty());
    EXPECT_EQ(b.countLabel(), "总数：0 页数:0");
    b.lastPage();
    EXPECT_TRUE(b.rows().empty());

    EXPECT_TRUE(b.query("id>3"));
    EXPECT_EQ(b.filter(), " where id>3 ");
    EXPECT_EQ(ids(b), (std::vector<std::string>{"4", "5"}));
    // A condition the database refuses is shown and changes nothing.
    EXPECT_FALSE(b.query("no_such_column=1"));
    EXPECT_EQ(b.filter(), " where id>3 ");
    EXPECT_EQ(b.rows().size(), 2u);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_NE(dialogs.messages()[0].find("no_such_column"), std::string::npos);
}

TEST_F(Browser, ShowsOnlyTheFlagColumnsOfTheCurrentSiteGroup) {
    makeTask({"标题", "内容", "人工审核"});
    app::DataBrowser b(sandbox.workspace(), id, "新闻", dialogs);
    ASSERT_TRUE(b.open());
    std::vector<std::string> captions;
    for (const auto& c : b.columns()) captions.push_back(c.caption);
    EXPECT_EQ(captions,
              (std::vector<std::string>{"ID", "已采", "已发", "网址", "标题", "内容", "人工审核", "postc_a"}));
    EXPECT_EQ(app::ShownFieldColumns(sandbox.workspace(), id, dialogs),
              (std::vector<std::string>{"标题", "内容", "人工审核", "postc_a"}));
}

TEST_F(Browser, SaveStoresWhatWasTypedSoThatItReadsBackExactlyAndMarksSetTheFlags) {
    makeTask({"标题", "内容", "人工审核"});
    addRows(2, 0, 0);
    app::DataBrowser b(sandbox.workspace(), id, "新闻", dialogs);
    ASSERT_TRUE(b.open());
    const std::string typed = "它说'好'! & 再见&&\r\nR&&D &&&";
    ASSERT_TRUE(b.saveCell(0, 4, typed));
    // Every reader turns a stored "&&" into "&": what they read is what was typed.
    EXPECT_EQ(collect::ReadBack(value("标题", 1)), typed);
    EXPECT_EQ(b.rows()[0][4], typed);
    ASSERT_TRUE(b.saveCell(1, 3, "http://h/new?a=1&b=2"));
    EXPECT_EQ(collect::ReadBack(value("url", 2)), "http://h/new?a=1&b=2");
    app::DataBrowser reopened(sandbox.workspace(), id, "新闻", dialogs);
    ASSERT_TRUE(reopened.open());
    EXPECT_EQ(reopened.rows()[0][4], typed);
    EXPECT_EQ(reopened.rows()[1][3], "http://h/new?a=1&b=2");

    ASSERT_TRUE(b.markCollectedPublished(1, 4));
    EXPECT_EQ(value("getc", 2) + value("postc", 2), "11");
    EXPECT_EQ(b.rows()[1][1] + b.rows()[1][2], "11");
    ASSERT_TRUE(b.markNotCollected(1, 5));
    EXPECT_EQ(value("getc", 2) + value("postc", 2), "00");
    ASSERT_TRUE(b.approve(0, 2));
    EXPECT_EQ(value("人工审核", 1), "1");

    // The ID column (and no cell at all) cannot be changed.
    dialogs.clear();
    EXPECT_FALSE(b.saveCell(0, 0, "9"));
    EXPECT_FALSE(b.markCollectedPublished(-1, 3));
    EXPECT_EQ(dialogs.messages(), (std::vector<std::string>{"该项不支持修改", "该项不支持修改"}));
    EXPECT_EQ(value("id", 1), "1");
}

TEST_F(Browser, ApproveNeedsTheReviewColumnAndStatementsNeedConfirmation) {
    makeTask();
    addRows(1);
    app::DataBrowser b(sandbox.workspace(), id, "新闻", dialogs);
    ASSERT_TRUE(b.open());
    EXPECT_FALSE(b.approve(0, 4));
    EXPECT_TRUE(dialogs.sawMessage("本任务未开启人工审核"));

    EXPECT_EQ(b.presetStatement(3, 4), "标题 like '%关键词%' ");
    const std::string stmt = b.presetStatement(1, std::nullopt);
    collect::execScript(db(), "update content set 标题='外国人来了' where id=1");
    dialogs.queueConfirm(false);
    EXPECT_FALSE(b.execSql(stmt));
    EXPECT_EQ(value("标题", 1), "外国人来了");
    dialogs.queueConfirm(true);
    EXPECT_TRUE(b.execSql("  " + stmt + "  "));
    EXPECT_EQ(value("标题", 1), "中国人来了");
    EXPECT_EQ(b.rows()[0][4], "中国人来了");
    const auto confirms = dialogs.shown();
    EXPECT_EQ(confirms[1].text, "确认执行SQL语句？");
    EXPECT_EQ(confirms[1].caption, "执行SQL语句");
    dialogs.queueConfirm(true);
    EXPECT_FALSE(b.execSql("update nothing set x=1"));
    EXPECT_NE(dialogs.messages().back().find("nothing"), std::string::npos);
}

TEST_F(Browser, OpeningIsRefusedForNoTaskAMissingDatabaseAndARunningTask) {
    makeTask();
    const auto ws = sandbox.workspace();
    EXPECT_EQ(app::BrowserRefusal(ws, std::nullopt, ""), "请先选择一个任务！");
    EXPECT_EQ(app::BrowserRefusal(ws, -2, ""), "请先选择一个任务！");
    EXPECT_EQ(app::BrowserRefusal(ws, 999, ""), "当前任务数据库不存在！");
    EXPECT_EQ(app::BrowserRefusal(ws, id, "正在运行"), "当前任务正在使用中,请移除任务队列后再使用！");
    EXPECT_EQ(app::BrowserRefusal(ws, id, "暂停运行"), "当前任务正在使用中,请移除任务队列后再使用！");
    for (const char* ok : {"", "等待运行", "停止运行"}) EXPECT_EQ(app::BrowserRefusal(ws, id, ok), "") << ok;
}

// ---- exports ----

TEST_F(Browser, CsvQuotesValuesDoublesQuotesAndWritesLineBreaksAsEscapes) {
    makeTask();
    collect::execScript(db(),
                        "insert into content(url,geturl,getc,postc,标题,内容) values "
                        "('http://h/a?x=1,2',1,1,0,'甲, \"乙\"' || char(13,10) || '丙','A&&B')");
    const std::string out = sandbox.path("out.csv");
    auto r = app::ExportCsv(db(), {"标题", "内容", "postc_a"}, out);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.rows, 1);
    EXPECT_EQ(test::readWholeFile(out),
              "\xEF\xBB\xBFID,已采集,已发布,网址,标题,内容,postc_a\r\n"
              "1,1,0,\"http://h/a?x=1,2\",\"甲, \"\"乙\"\"\\r\\n丙\",\"A&B\",\"0\"\r\n");
}

TEST(CsvGuard, FormulaLookingValuesGetAnApostropheAndNumbersStayAsTheyAre) {
    struct Case {
        std::string value, cell;
    };
    for (const auto& c : {Case{"=cmd|' /C calc'!A0", "'=cmd|' /C calc'!A0"}, Case{"+1+1", "'+1+1"},
                          Case{"@SUM(A1)", "'@SUM(A1)"}, Case{"\tx", "'\tx"}, Case{"-2+3+cmd|x", "'-2+3+cmd|x"},
                          Case{"-5", "-5"}, Case{"+3.5", "+3.5"}, Case{"-0.25", "-0.25"}, Case{"-", "'-"},
                          Case{"a=b", "a=b"}, Case{"", ""}, Case{"12", "12"}, Case{"普通文字", "普通文字"}}) {
        EXPECT_EQ(app::CsvFormulaGuard(c.value), c.cell) << c.value;
    }
}

TEST_F(Browser, CsvExportGuardsFormulasInFieldsAndAddresses) {
    makeTask();
    collect::execScript(db(),
                        "insert into content(url,geturl,getc,postc,标题,内容) values "
                        "('=HYPERLINK(\"http://x\")',1,1,0,'=cmd|'' /C calc''!A0','-5')");
    const std::string out = sandbox.path("out.csv");
    auto r = app::ExportCsv(db(), {"标题", "内容"}, out);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(test::readWholeFile(out),
              "\xEF\xBB\xBFID,已采集,已发布,网址,标题,内容\r\n"
              "1,1,0,\"'=HYPERLINK(\"\"http://x\"\")\",\"'=cmd|' /C calc'!A0\",\"-5\"\r\n");
}

TEST_F(Browser, ExportsToAFullDiskFailAndLeaveNoPartialFile) {
    test::SmallDisk disk(1024 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    makeTask();
    std::string sql = "BEGIN;";
    for (int i = 0; i < 30; ++i)
        sql += "insert into content(url,geturl,getc,postc,标题,内容) values ('http://h/" + std::to_string(i) +
               "',1,1,0,'标题" + std::to_string(i) + "',replace(hex(zeroblob(10000)),'0','x'));";
    collect::execScript(db(), sql + "COMMIT;");
    auto entries = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(disk.path()))
            if (e.path().filename() != ".filler") names.insert(e.path().filename().string());
        return names;
    };
    // Room for some rows, not for all of them.
    disk.fill(200 * 1024);
    // An earlier export under the same name is kept as it was.
    std::ofstream(disk.path() + "/Tarvex.csv") << "earlier";
    auto csv = app::ExportCsv(db(), {"标题", "内容"}, disk.path() + "/Tarvex.csv");
    EXPECT_FALSE(csv.ok);
    EXPECT_NE(csv.message.find("No space left on device"), std::string::npos) << csv.message;
    EXPECT_EQ(test::readWholeFile(disk.path() + "/Tarvex.csv"), "earlier");
    EXPECT_EQ(entries(), std::set<std::string>{"Tarvex.csv"});
    fs::remove(disk.path() + "/Tarvex.csv");

    for (bool folders : {false, true}) {
        SCOPED_TRACE(folders);
        app::TextExportOptions o;
        o.folderPerRow = folders;
        const std::string folder = disk.path() + "/txt/";
        auto txt = app::ExportText(db(), {"标题", "内容"}, o, folder);
        EXPECT_FALSE(txt.ok);
        EXPECT_EQ(txt.message.rfind("导出失败，无法写入文件：", 0), 0u) << txt.message;
        EXPECT_GT(txt.files, 0);
        EXPECT_LT(txt.files, 30);
        // Every file that is there is whole; the one that did not fit is not there at all.
        long long whole = 0;
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            if (!e.is_regular_file()) continue;
            EXPECT_EQ(e.path().extension(), ".txt") << e.path();
            EXPECT_EQ(fs::file_size(e.path()), e.path().stem().string().size() + 2 + 36 + 2 + 20000) << e.path();
            ++whole;
        }
        EXPECT_EQ(whole, txt.files);
        fs::remove_all(folder);
    }
}

TEST_F(Browser, TextExportKeepsEveryFileInsideTheFolderWithReadableUniqueNames) {
    makeTask();
    const std::string longTitle(300 * 3, 'x');
    for (const std::string& title : std::vector<std::string>{"../../x", "普通", "普通", "a/b\\c\td", "..", longTitle}) {
        platform::SqliteConnection c(db());
        platform::SqliteStatement st(
            c, "insert into content(url,geturl,getc,postc,标题,内容) values ('u',1,1,0,?,'正文')");
        st.bind(1, title).run();
    }
    app::TextExportOptions o;
    o.nameTemplate = "{采集字段:标题}{采集字段:不存在}";
    o.contentTemplate = "{采集字段:id}|{采集字段:标题}|{采集字段:不存在}|{采集字段:内容}";
    const std::string folder = sandbox.path("data/" + std::to_string(id) + "/");
    auto r = app::ExportText(db(), {"标题", "内容"}, o, folder);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.message, "恭喜您，导出完成！");
    EXPECT_EQ(r.files, 6);
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(sandbox.folder()))
        if (e.path().extension() == ".txt") {
            EXPECT_EQ(e.path().parent_path().string() + "/", folder) << e.path();
            names.insert(e.path().filename().string());
        }
    const std::string cut = std::string(255 - 16, 'x') + ".txt";
    EXPECT_EQ(names,
              (std::set<std::string>{"_.._x.txt", "普通.txt", "普通 (2).txt", "a_b_c_d.txt", "未命名.txt", cut}));
    EXPECT_EQ(test::readWholeFile(folder + "普通 (2).txt"), "3|普通||正文");
}

TEST_F(Browser, FolderModeCopiesTheRowsAttachmentsBesideItsText) {
    makeTask();
    addRows(1);
    sandbox.makeDir("pics");
    sandbox.writeFile("pics/a=1.jpg", "JPEG");
    collect::execScript(db(),
                        collect::sql::InsertDownload(1, "http://h/a.jpg", sandbox.path("pics/a=1.jpg"), "/up/a.jpg"));
    collect::execScript(db(),
                        collect::sql::InsertDownload(1, "http://h/b.jpg", sandbox.path("pics/gone.jpg"), "/up/b.jpg"));
    app::TextExportOptions o;
    o.folderPerRow = true;
    const std::string folder = sandbox.path("export/");
    auto r = app::ExportText(db(), {"标题", "内容"}, o, folder);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(test::readWholeFile(folder + "标题0/a=1.jpg"), "JPEG");
    EXPECT_FALSE(fs::exists(folder + "标题0/gone.jpg"));
    EXPECT_EQ(test::readWholeFile(folder + "标题0/标题0.txt"), "标题0\r\n" + std::string(36, '=') + "\r\n正文");
}

TEST_F(Browser, TextExportReportsBadConditionsAndEmptyResults) {
    makeTask();
    addRows(2);
    const std::string folder = sandbox.path("export/");
    app::TextExportOptions o;
    o.condition = "id>5";
    EXPECT_EQ(app::ExportText(db(), {"标题"}, o, folder).message,
              "没有查询到相关内容，请检查是否有源数据 或 附加查询语句是否有误 ！");
    o.condition = "nonsense>";
    auto bad = app::ExportText(db(), {"标题"}, o, folder);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.message.rfind("查询数据出错：", 0), 0u);
    // A condition holding a select is ignored: everything is exported.
    o.condition = "id in (select id from content where id>1)";
    EXPECT_EQ(app::ExportText(db(), {"标题"}, o, folder).files, 2);
    EXPECT_EQ(app::TestExportCondition(db(), "id>1"), "共获取到符合的数据1条");
    EXPECT_EQ(app::TestExportCondition(db(), "  "), "共获取到符合的数据2条");
    EXPECT_EQ(app::TestExportCondition(db(), "x>").rfind("测试数据出错：", 0), 0u);
}

// ---- import ----

struct Import : Browser {
    std::vector<std::vector<std::string>> rowsOf(const std::vector<std::string>& cols) {
        std::string sql = "select url";
        for (const auto& c : cols) sql += ",\"" + c + "\"";
        auto t = collect::query(db(), sql + ",geturl,getc,postc from content order by id");
        std::vector<std::vector<std::string>> out;
        for (std::size_t r = 0; r < t.rows.size(); ++r) {
            std::vector<std::string> row;
            for (const auto& v : t.rows[r]) row.push_back(collect::ReadBack(v.asText()));
            out.push_back(row);
        }
        return out;
    }
};

TEST_F(Import, AnXlsxWrittenByOpenpyxl) {
    makeTask({"标题", "内容", "数字", "时间"});
    const std::string file = sandbox.path("导入.xlsx");
    const std::string script =
        "import openpyxl, sys, datetime\n"
        "wb = openpyxl.Workbook(); ws = wb.active\n"
        "ws.append([' 标题 ', 'url', '数字', '内容', '时间'])\n"
        "ws.append(['第一条', 'http://e.com/1?a=1&b=2', 3, \"它说'好'!&\", datetime.datetime(2024, 6, 3, 8, 30, 5)])\n"
        "ws.append(['第二条', None, 2.5, '多行\\n内容', datetime.date(2024, 1, 5)])\n"
        "ws.append([None, 'http://e.com/skip', 1, 'x'])\n"
        "ws.append(['不应导入', 'http://e.com/3', 1, 'x'])\n"
        "other = wb.create_sheet('其他'); other.append(['别的表'])\n"
        "wb.save(sys.argv[1])\n";
    sandbox.writeFile("make.py", script);
    ASSERT_EQ(std::system((std::string(TARVEX_PYTHON3) + " " + sandbox.path("make.py") + " '" + file + "'").c_str()),
              0);
    auto r = app::ImportSpreadsheet(db(), {"标题", "内容", "数字", "时间", "postc_a"}, file);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.message, "从EXCEL导入完成！导入2行");
    EXPECT_EQ(r.inserted, 2);
    // Dates are numbers with a date format in the file; they arrive as the date a person sees.
    EXPECT_EQ(rowsOf({"标题", "内容", "数字", "时间", "postc_a"}),
              (std::vector<std::vector<std::string>>{
                  {"http://e.com/1?a=1&b=2", "第一条", "它说'好'!&", "3", "2024-06-03 08:30:05", "0", "1", "1", "0"},
                  {"3-6", "第二条", "多行\n内容", "2.5", "2024-01-05", "0", "1", "1", "0"}}));
}

TEST(SheetFormats, CustomFormatCodesTellDatesFromNumbers) {
    EXPECT_EQ(platform::SerialAsText(45446.354224537, "yyyy-mm-dd h:mm:ss"), "2024-06-03 08:30:05");
    EXPECT_EQ(platform::SerialAsText(45296, "yyyy\"年\"m\"月\"d\"日\""), "2024-01-05");
    EXPECT_EQ(platform::SerialAsText(0.75, "[h]:mm"), "18:00:00");
    EXPECT_EQ(platform::SerialAsText(3.5, "0.00"), "3.5");
    EXPECT_EQ(platform::SerialAsText(12, "[Red]#,##0;\"d\""), "12");
}

TEST_F(Import, XlsFixturesWithAndWithoutAUrlColumn) {
    makeTask({"标题", "内容", "数字"});
    auto with =
        app::ImportSpreadsheet(db(), {"标题", "内容", "数字"}, TARVEX_TEST_DATA_DIR "/spreadsheets/with-url.xls");
    ASSERT_TRUE(with.ok) << with.message;
    EXPECT_EQ(with.inserted, 2);
    auto without =
        app::ImportSpreadsheet(db(), {"标题", "内容", "数字"}, TARVEX_TEST_DATA_DIR "/spreadsheets/without-url.xls");
    ASSERT_TRUE(without.ok) << without.message;
    EXPECT_EQ(rowsOf({"标题", "内容", "数字"}),
              (std::vector<std::vector<std::string>>{
                  {"http://example.com/a?x=1&y=2", "第一条", "它说'好'!&再见", "3", "1", "1", "0"},
                  {"3-5", "第二条", "二", "4.5", "1", "1", "0"},
                  {"2-3", "甲", "内容甲", "", "1", "1", "0"},
                  {"3-3", "乙", "内容乙", "", "1", "1", "0"}}));
}

TEST_F(Import, RepeatingAnImportSkipsTheAddressesAlreadyInAndKeepsValuesExact) {
    makeTask({"标题", "内容"});
    const std::string file = sandbox.path("重复.xlsx");
    const std::string script =
        "import openpyxl, sys\n"
        "wb = openpyxl.Workbook(); ws = wb.active\n"
        "ws.append(['标题', 'url', '内容'])\n"
        "ws.append(['R&&D', 'http://e.com/1?a=1&&b=2', 'A && B & C'])\n"
        "ws.append(['第二条', 'http://e.com/2', 'x'])\n"
        "ws.append(['第三条', 'http://e.com/2', 'the same address again'])\n"
        "ws.append(['无网址', None, 'y'])\n"
        "wb.save(sys.argv[1])\n";
    sandbox.writeFile("make.py", script);
    ASSERT_EQ(std::system((std::string(TARVEX_PYTHON3) + " " + sandbox.path("make.py") + " '" + file + "'").c_str()),
              0);
    auto first = app::ImportSpreadsheet(db(), {"标题", "内容"}, file);
    ASSERT_TRUE(first.ok) << first.message;
    EXPECT_EQ(first.inserted, 3);
    EXPECT_EQ(first.skipped, 1);
    EXPECT_EQ(first.message, "从EXCEL导入完成！导入3行，跳过数据库中已有网址的1行");
    const std::vector<std::vector<std::string>> expected = {
        {"http://e.com/1?a=1&&b=2", "R&&D", "A && B & C", "1", "1", "0"},
        {"http://e.com/2", "第二条", "x", "1", "1", "0"},
        {"5-4", "无网址", "y", "1", "1", "0"}};
    EXPECT_EQ(rowsOf({"标题", "内容"}), expected);
    app::DataBrowser b(sandbox.workspace(), id, "新闻", dialogs);
    ASSERT_TRUE(b.open());
    EXPECT_EQ(b.rows()[0][3], "http://e.com/1?a=1&&b=2");
    EXPECT_EQ(b.rows()[0][4], "R&&D");

    // Again (or after an import cut short): the addresses already in are not doubled.
    auto again = app::ImportSpreadsheet(db(), {"标题", "内容"}, file);
    ASSERT_TRUE(again.ok) << again.message;
    EXPECT_EQ(again.inserted, 1);  // the row without an address has nothing to be matched by
    EXPECT_EQ(again.skipped, 3);
    EXPECT_EQ(app::CountRows(db(), " where url like 'http%'"), 2);
}

TEST_F(Import, RowsPastTheLimitAreReported) {
    makeTask({"标题"});
    const std::string file = sandbox.path("大.xlsx");
    const std::string script =
        "import openpyxl, sys\n"
        "wb = openpyxl.Workbook(write_only=True); ws = wb.create_sheet()\n"
        "ws.append(['标题'])\n"
        "for i in range(100002): ws.append(['t%d' % i])\n"
        "wb.save(sys.argv[1])\n";
    sandbox.writeFile("make.py", script);
    ASSERT_EQ(std::system((std::string(TARVEX_PYTHON3) + " " + sandbox.path("make.py") + " '" + file + "'").c_str()),
              0);
    auto r = app::ImportSpreadsheet(db(), {"标题"}, file);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.inserted, 99999);  // rows 2 to 100000
    EXPECT_EQ(r.overLimit, 3);
    EXPECT_EQ(r.message, "从EXCEL导入完成！导入99999行，第100000行以后的3行超出10万行的上限，未导入");
}

TEST_F(Import, UnreadableFilesAreRefusedAndNothingIsInserted) {
    makeTask();
    sandbox.writeFile("not.xlsx", "just text");
    sandbox.writeFile("broken.xlsx", std::string("PK\x03\x04", 4) + "garbage");
    for (const std::string& f : {sandbox.path("missing.xlsx"), sandbox.path("not.xlsx"), sandbox.path("broken.xlsx")}) {
        auto r = app::ImportSpreadsheet(db(), {"标题"}, f);
        EXPECT_FALSE(r.ok) << f;
        EXPECT_EQ(r.message.rfind("无法读取表格文件：", 0), 0u) << r.message;
    }
    EXPECT_EQ(app::CountRows(db(), ""), 0);
}

}  // namespace
