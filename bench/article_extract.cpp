// "智能识别" quality and speed: the body found on each page of bench/article_refs is scored
// against a reference written by hand (word-level precision, recall and F1; a Chinese character
// is a word), the headline against the reference title (exact), and each page is timed.
//
// Usage: bench_article_extract [--runs N] [--refs DIR]
//   The references name their page under tests/data; each starts with "page:" and "title:"
//   lines, a blank line, then the article's text as a reader sees it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <time.h>

#include "engine/article_extract.h"
#include "platform/text_codec.h"

namespace fs = std::filesystem;
using namespace tarvex;
using Clock = std::chrono::steady_clock;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Reference {
    std::string name, page, title, text;
};

Reference readReference(const fs::path& file) {
    Reference r;
    r.name = file.stem().string();
    std::istringstream in(readFile(file));
    std::string line;
    while (std::getline(in, line) && !line.empty()) {
        if (line.rfind("page: ", 0) == 0) r.page = line.substr(6);
        if (line.rfind("title: ", 0) == 0) r.title = line.substr(7);
    }
    std::ostringstream rest;
    rest << in.rdbuf();
    r.text = rest.str();
    return r;
}

// The text of the body's markup: tags become spaces, the four escapes are read back.
std::string textOfHtml(const std::string& html) {
    std::string out;
    bool inTag = false;
    for (char c : html) {
        if (c == '<') inTag = true;
        if (!inTag) out += c;
        if (c == '>') {
            inTag = false;
            out += ' ';
        }
    }
    for (auto [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}}) {
        for (std::size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + 1))
            out.replace(at, std::strlen(from), to);
    }
    return out;
}

// Words: runs of ASCII letters and digits (lower case) or of other non-CJK letters, and every
// CJK character on its own.
std::map<std::string, int> words(const std::string& text) {
    std::map<std::string, int> out;
    std::string word;
    auto flush = [&] {
        if (!word.empty()) ++out[word];
        word.clear();
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        len = std::min(len, text.size() - i);
        if (len == 1) {
            if (std::isalnum(c))
                word += static_cast<char>(std::tolower(c));
            else
                flush();
        } else {
            char32_t cp = c & (0x3F >> (len - 1));
            for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            const bool cjk = (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0x3400 && cp <= 0x4DBF);
            const bool letter = (cp >= 0xC0 && cp < 0x2000) && !cjk;
            if (cjk) {
                flush();
                ++out[text.substr(i, len)];
            } else if (letter) {
                word += text.substr(i, len);
            } else {
                flush();
            }
        }
        i += len;
    }
    flush();
    return out;
}

// The processor time of this thread: on a busy machine it still counts only this page's work.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Score {
    double precision = 0, recall = 0, f1 = 0;
};

Score score(const std::string& found, const std::string& reference) {
    auto a = words(found), b = words(reference);
    long common = 0, na = 0, nb = 0;
    for (const auto& [w, n] : a) {
        na += n;
        auto it = b.find(w);
        if (it != b.end()) common += std::min(n, it->second);
    }
    for (const auto& [w, n] : b) nb += n;
    Score s;
    s.precision = na ? static_cast<double>(common) / na : 0;
    s.recall = nb ? static_cast<double>(common) / nb : 0;
    s.f1 = s.precision + s.recall > 0 ? 2 * s.precision * s.recall / (s.precision + s.recall) : 0;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 30;
    fs::path refs = fs::path(TARVEX_TEST_DATA_DIR).parent_path().parent_path() / "bench" / "article_refs";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        if (std::strcmp(argv[i], "--refs") == 0 && i + 1 < argc) refs = argv[++i];
    }
    std::vector<Reference> cases;
    for (const auto& e : fs::directory_iterator(refs))
        if (e.path().extension() == ".txt") cases.push_back(readReference(e.path()));
    std::sort(cases.begin(), cases.end(), [](const auto& x, const auto& y) { return x.name < y.name; });
    if (cases.empty()) {
        std::fprintf(stderr, "no references in %s\n", refs.c_str());
        return 1;
    }
    std::vector<std::string> pages;
    for (const auto& c : cases) {
        std::string bytes = readFile(fs::path(TARVEX_TEST_DATA_DIR) / c.page);
        pages.push_back(c.page.find("gbk") != std::string::npos ? platform::gb18030ToUtf8(bytes) : bytes);
    }

    // Timing: the pages in turn, so that no call finds its page in the per-thread cache.
    std::vector<std::vector<double>> wall(cases.size()), cpu(cases.size());
    for (int r = 0; r < runs; ++r) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const double c0 = threadCpuMs();
            auto t0 = Clock::now();
            engine::Article a = engine::ExtractArticle(pages[i]);
            auto t1 = Clock::now();
            const double c1 = threadCpuMs();
            if (a.body.size() == 1) std::printf(" ");  // keeps the call from being optimised away
            wall[i].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            cpu[i].push_back(c1 - c0);
        }
    }

    std::printf("%-16s %6s %8s %8s %7s %7s %7s %6s\n", "page", "KB", "cpu ms", "wall ms", "P", "R", "F1", "title");
    double sumP = 0, sumR = 0, sumF = 0, sumCpu = 0, sumWall = 0, sumKb = 0;
    int exactTitles = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        engine::Article a = engine::ExtractArticle(pages[i]);
        Score s = score(textOfHtml(a.body), cases[i].text);
        const bool titleOk = a.title == cases[i].title;
        const double c = median(cpu[i]), w = median(wall[i]);
        const double kb = pages[i].size() / 1024.0;
        std::printf("%-16s %6.0f %8.2f %8.2f %7.3f %7.3f %7.3f %6s\n", cases[i].name.c_str(), kb, c, w, s.precision,
                    s.recall, s.f1, titleOk ? "exact" : "WRONG");
        if (!titleOk) std::printf("  title: \"%s\" (reference \"%s\")\n", a.title.c_str(), cases[i].title.c_str());
        sumP += s.precision;
        sumR += s.recall;
        sumF += s.f1;
        sumCpu += c;
        sumWall += w;
        sumKb += kb;
        exactTitles += titleOk;
    }
    const double n = static_cast<double>(cases.size());
    std::printf("\nmean precision %.3f, recall %.3f, F1 %.3f over %zu pages\n", sumP / n, sumR / n, sumF / n,
                cases.size());
    std::printf("title exact: %d of %zu\n", exactTitles, cases.size());
    std::printf(
        "speed (medians of %d runs): %.2f ms of processor time per page, %.2f ms per 200 KB of page "
        "(goal: under 5 ms); wall clock %.2f ms per 200 KB\n",
        runs, sumCpu / n, sumCpu / sumKb * 200.0, sumWall / sumKb * 200.0);
    return 0;
}
