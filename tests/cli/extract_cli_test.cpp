// tarvex-cli extract, run as a process on one of the extraction cases.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
};

// Runs the CLI with standard error sent to a file beside the output.
CliRun runCli(const std::string& args, std::string* err = nullptr) {
    fs::path errFile = fs::temp_directory_path() / ("extract_cli_err_" + std::to_string(::getpid()));
    std::string cmd = std::string(TARVEX_BIN_DIR) + "/tarvex-cli " + args + " 2>" + errFile.string();
    CliRun r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (err) {
        std::ifstream in(errFile);
        std::ostringstream s;
        s << in.rdbuf();
        *err = s.str();
    }
    fs::remove(errFile);
    return r;
}

std::string caseDir(const char* name) {
    return std::string(TARVEX_TEST_DATA_DIR) + "/extract/" + name;
}

}  // namespace

TEST(ExtractCli, PrintsTheRecordOfThePages) {
    std::string dir = caseDir("paged-article");
    CliRun r = runCli("extract --settings " + dir + "/settings.json --page " + dir + "/page1.html --page " + dir +
                      "/page2.html --page " + dir + "/page3.html");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    std::ifstream in(dir + "/expected.json");
    auto expected = nlohmann::ordered_json::parse(in);
    EXPECT_EQ(nlohmann::ordered_json::parse(r.out), expected);
    // Non-ASCII text is printed as it is, not as \u escapes.
    EXPECT_NE(r.out.find("分页文章"), std::string::npos);
}

TEST(ExtractCli, UnreadableOrBrokenInputsFailClearly) {
    std::string dir = caseDir("paged-article");
    std::string err;
    CliRun missing = runCli("extract --settings " + dir + "/no-such.json --page " + dir + "/page1.html", &err);
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(err.find("no-such.json"), std::string::npos) << err;
    EXPECT_EQ(missing.out, "");

    CliRun missingPage = runCli("extract --settings " + dir + "/settings.json --page " + dir + "/page9.html", &err);
    EXPECT_NE(missingPage.exitCode, 0);
    EXPECT_NE(err.find("page9.html"), std::string::npos) << err;

    CliRun notJson = runCli("extract --settings " + dir + "/page1.html --page " + dir + "/page1.html", &err);
    EXPECT_NE(notJson.exitCode, 0);
    EXPECT_NE(err.find("not a JSON"), std::string::npos) << err;

    CliRun noPages = runCli("extract --settings " + dir + "/settings.json", &err);
    EXPECT_NE(noPages.exitCode, 0);
    EXPECT_NE(err.find("usage"), std::string::npos) << err;
}

// Nesting deep enough to exhaust the stack when written out is refused with a message, in the
// document itself and in a field rule inside it.
TEST(ExtractCli, DeeplyNestedJsonIsRefusedNotCrashedOn) {
    std::string dir = caseDir("paged-article");
    const fs::path folder = fs::temp_directory_path() / ("extract_cli_deep_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    {
        std::ofstream(folder / "doc.json") << "{\"x\":" << deep << "}";
        nlohmann::ordered_json doc = {{"fieldsAll", {"{\"title\":\"t\",\"radio_1_content\":" + deep + "}"}}};
        std::ofstream(folder / "rule.json") << doc.dump();
    }
    for (const char* file : {"doc.json", "rule.json"}) {
        std::string err;
        CliRun r = runCli("extract --settings " + (folder / file).string() + " --page " + dir + "/page1.html", &err);
        EXPECT_GT(r.exitCode, 0) << file;  // an exit code, not a signal
        EXPECT_NE(err.find("JSON嵌套超过64层"), std::string::npos) << file << ": " << err;
    }
    fs::remove_all(folder);
}
