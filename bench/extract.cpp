// Field extraction throughput: 20 fields (front/back cuts, templates with parameters, raw
// regexes, repeat mode on some) over a content page of 3 pages × 200 KB of real HTML built
// from the corpus. Prints records/s and MB/s for the first record (cold: patterns compiled
// and JIT-compiled) and for the following ones (warm).
//
// Usage: bench_extract [CORPUS_DIR] [--records N] [--workload FILE]
//   --workload FILE writes the pages and the finished patterns as JSON, so that
//   bench/extract_baseline.py can do the same work with Python's re module.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "engine/field_extract.h"
#include "engine/template_lang.h"
#include "platform/utf8.h"

namespace fs = std::filesystem;
using namespace tarvex;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kPageBytes = 200 * 1024;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The pages come from the folder given on the command line, else from the repository's own
// copy of the corpus pages (tests/data/corpus/readability).
fs::path findCorpus(const char* given) {
    if (given) return given;
    return fs::path(TARVEX_TEST_DATA_DIR) / "corpus" / "readability";
}

// Page k: the corpus pages in name order, starting at a different one per page, joined until
// 200 KB and cut there at a character boundary.
std::vector<std::string> buildPages(const fs::path& corpus) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(corpus))
        if (fs::exists(e.path() / "source.html")) files.push_back(e.path() / "source.html");
    std::sort(files.begin(), files.end());
    if (files.empty()) return {};
    std::vector<std::string> pages;
    for (std::size_t k = 0; k < 3; ++k) {
        std::string page;
        for (std::size_t i = k * 7; page.size() < kPageBytes; ++i) page += readFile(files[i % files.size()]);
        std::size_t cut = kPageBytes;
        while (cut > 0 && (static_cast<unsigned char>(page[cut]) & 0xC0) == 0x80) --cut;
        page.resize(cut);
        pages.push_back(std::move(page));
    }
    return pages;
}

struct FieldSpec {
    std::string title;
    std::string kind;  // "cut" (front/back), "regex", "fixed"
    std::string a, b;  // front/back, pattern/output, or the fixed text
    bool repeat = false;
    bool mulpage = false;
};

const std::vector<FieldSpec> kFields = {
    {"title", "cut", "<title>", "</title>"},
    {"description", "cut", "<meta name=\"description\" content=\"", "\""},
    {"h1", "cut", "<h1{*}>", "</h1>"},
    {"paragraphs", "cut", "<p>", "</p>", true, true},
    {"links", "regex", "<a href=\"(.*?)\"[^>]*>(.*?)</a>", "{参数2}={参数1}", true},
    {"images", "regex", "<img {*}src=\"{参数1}\"", "{参数1}", true},
    {"og_title", "regex", "<meta property=\"og:title\" content=\"{参数1}\"", "{参数1}"},
    {"canonical", "cut", "<link rel=\"canonical\" href=\"", "\""},
    {"scripts", "regex", "<script[^>]*src=\"[^\"]+\"", "", true},
    {"classes", "regex", "class=\"{参数1}\"", "{参数1}", true},
    {"first_li", "cut", "<li>", "</li>"},
    {"list_items", "cut", "<li{*}>", "</li>", true},
    {"keywords", "cut", "<meta name=\"keywords\" content=\"", "\""},
    {"time", "regex", "<time[^>]*datetime=\"([^\"]+)\"", "{参数1}"},
    {"h2", "cut", "<h2{*}>", "</h2>", true, true},
    {"span_classes", "cut", "<span class=\"", "\"", true},
    {"missing_back", "cut", "<article", "</nosuchtag>"},
    {"page_titles", "cut", "<title>", "</title>", false, true},
    {"hosts", "regex", "https?://[a-z0-9.\\-]+", "", true},
    {"summary", "fixed", "{DD:字段=title}|{DD:字段=og_title}"},
};

nlohmann::ordered_json settingsDocument() {
    auto fields = nlohmann::ordered_json::array();
    for (const auto& f : kFields) {
        nlohmann::ordered_json r = engine::NewFieldRule(f.title);
        r["radio_1"] = f.kind == "cut" ? "-1" : "0";
        r["radio_2"] = f.kind == "regex" ? "-1" : "0";
        r["radio_3"] = f.kind == "fixed" ? "-1" : "0";
        if (f.kind == "cut") r["radio_1_content"] = {f.a, f.b};
        if (f.kind == "regex") r["radio_2_content"] = {f.a, f.b};
        if (f.kind == "fixed") {
            r["radio_3_content_Radio1"] = "-1";
            r["radio_3_content_richtext1"] = f.a;
        }
        r["check_repeat"] = f.repeat ? "-1" : "0";
        r["check_mulpage"] = f.mulpage ? "-1" : "0";
        fields.push_back(r.dump());
    }
    return {{"other_join_repeat", "\\r\\n"}, {"other_joinpage", "<!--分页符-->"}, {"fieldsAll", fields}};
}

// The same work described for the Python baseline: pages and finished patterns.
void writeWorkload(const std::string& path, const std::vector<std::string>& pages, const nlohmann::ordered_json& record,
                   const nlohmann::ordered_json& settings) {
    nlohmann::ordered_json w;
    w["settings"] = settings;
    w["pages"] = pages;
    w["url"] = "http://bench.local/1";
    w["record"] = record;
    auto fields = nlohmann::ordered_json::array();
    for (const auto& f : kFields) {
        nlohmann::ordered_json j = {{"title", f.title}, {"repeat", f.repeat}, {"mulpage", f.mulpage}};
        if (f.kind == "cut") {
            bool direct = f.a.find("{*}") == std::string::npos && f.b.find("{*}") == std::string::npos;
            j["kind"] = direct ? "direct" : "regex";
            if (direct) {
                j["front"] = f.a;
                j["back"] = f.b;
            } else {
                j["pattern"] = engine::CutPattern(f.a, f.b);
                j["fill"] = "content";
            }
        } else if (f.kind == "regex") {
            j["kind"] = "regex";
            if (f.b.empty()) {
                j["pattern"] = f.a;
                j["fill"] = "whole";
            } else if (engine::FillsByNumber(f.a, f.b)) {
                j["pattern"] = engine::RawPattern(f.a);
                j["fill"] = "number";
            } else {
                j["pattern"] = engine::ParameterPattern(f.a);
                j["fill"] = "name";
            }
            j["output"] = f.b;
        } else {
            j["kind"] = "fixed";
            j["text"] = f.a;
        }
        fields.push_back(j);
    }
    w["fields"] = fields;
    w["repeat_joiner"] = "\r\n";
    w["page_joiner"] = "<!--分页符-->";
    std::ofstream(path, std::ios::binary) << w.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

int main(int argc, char** argv) {
    const char* corpusArg = nullptr;
    std::string workload;
    int records = 200;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--records" && i + 1 < argc)
            records = std::max(2, std::atoi(argv[++i]));
        else if (a == "--workload" && i + 1 < argc)
            workload = argv[++i];
        else
            corpusArg = argv[i];
    }
    fs::path corpus = findCorpus(corpusArg);
    auto pages = buildPages(corpus);
    if (pages.empty()) {
        std::cerr << "bench_extract: no corpus pages under " << corpus << "\n";
        return 2;
    }
    auto settings = settingsDocument();
    double mb = 0;
    for (const auto& p : pages) mb += static_cast<double>(p.size()) / (1024.0 * 1024.0);

    auto t0 = Clock::now();
    auto first = engine::ExtractRecord(settings, pages, "http://bench.local/1");
    double cold = std::chrono::duration<double>(Clock::now() - t0).count();
    if (first.error) {
        std::cerr << "bench_extract: " << *first.error << "\n";
        return 1;
    }
    if (!workload.empty()) writeWorkload(workload, pages, first.record, settings);
    std::size_t filled = 0, chars = 0;
    for (auto it = first.record.begin(); it != first.record.end(); ++it) {
        const auto& v = it->get_ref<const std::string&>();
        filled += v.empty() ? 0 : 1;
        chars += v.size();
    }

    auto t1 = Clock::now();
    for (int i = 1; i < records; ++i) {
        auto r = engine::ExtractRecord(settings, pages, "http://bench.local/1");
        if (r.error || r.record.size() != first.record.size()) return 1;
    }
    double warm = std::chrono::duration<double>(Clock::now() - t1).count() / (records - 1);

    std::printf("extract: %zu fields x %zu pages x %zu KB (%.2f MB per record), %zu fields non-empty, %zu bytes out\n",
                kFields.size(), pages.size(), kPageBytes / 1024, mb, filled, chars);
    std::printf("cold (first record): %8.2f ms  %8.1f records/s  %8.1f MB/s\n", cold * 1e3, 1.0 / cold, mb / cold);
    std::printf("warm (%d records):   %8.2f ms  %8.1f records/s  %8.1f MB/s\n", records - 1, warm * 1e3, 1.0 / warm,
                mb / warm);
    return 0;
}
