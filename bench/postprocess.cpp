// Post-processing throughput: a 1 MB value with 10k matches through the "替换" rule (template,
// parameter and pure-regex forms) and "正则提取"; then keyword tags of 1000 articles against a
// 100k-word dictionary loaded from a SQLite file. Prints items/s and, as a baseline, the same
// work done the plain way (a std::string find/replace pass; a list-order "contains" walk).
// Usage: bench_postprocess [articles] [words]   (defaults 1000 and 100000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/keyword_dictionary.h"
#include "engine/post_process.h"
#include "platform/sqlite_db.h"
#include "platform/utf8.h"

using namespace tarvex;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string fieldRule(const engine::RuleJson& strip) {
    engine::RuleJson r = engine::RuleJson::object();
    r["title"] = "f";
    r["txt_strips"] = {strip.dump()};
    return r.dump();
}

// Runs one chain `rounds` times over the value; returns seconds per run.
double timeChain(const std::string& value, const engine::RuleJson& strip, int rounds, std::size_t& outSize) {
    const std::string rule = fieldRule(strip);
    engine::ChainEnv env;
    auto t = Clock::now();
    for (int i = 0; i < rounds; ++i) outSize = engine::applyPostRules(value, rule, {}, {}, env).size();
    return secondsSince(t) / rounds;
}

std::string randomHan(std::mt19937& rng, int n) {
    // A 3000-character slice of the common CJK block keeps words overlapping as in real text.
    std::uniform_int_distribution<int> pick(0x4E00, 0x4E00 + 2999);
    std::string s;
    for (int i = 0; i < n; ++i) platform::utf8::append(s, static_cast<char32_t>(pick(rng)));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const int articles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int wordCount = argc > 2 ? std::atoi(argv[2]) : 100000;
    std::mt19937 rng(20190109);

    // ---- 1 MB value, 10k matches ------------------------------------------------------------
    std::string value;
    const int matches = 10000;
    for (int i = 0; value.size() < 1'000'000 || i < matches; ++i) {
        if (i < matches)
            value += "<p>段落" + std::to_string(i) + "<img src=/pic/" + std::to_string(i) + ".jpg></p>";
        else
            value += "<p>" + randomHan(rng, 20) + "</p>";
    }
    std::printf("value: %.2f MB, %d <img> tags\n", value.size() / 1e6, matches);

    const int rounds = 5;
    struct ChainCase {
        const char* name;
        engine::RuleJson strip;
    } cases[] = {
        {"替换 template <img{*}>", {{"type", "替换"}, {"rep1", "<img{*}>"}, {"rep2", "[图$1]"}}},
        {"替换 parameter <img src={参数1}>",
         {{"type", "替换"}, {"rep1", "<img src={参数1}>"}, {"rep2", "<img class=x src={参数1}>"}}},
        {"替换 pure regex <img[^>]*>", {{"type", "替换"}, {"rep1", "<img[^>]*>"}, {"rep2", ""}, {"check2", "-1"}}},
        {"正则提取 repeat <img src=(.*?)>",
         {{"type", "正则提取"},
          {"rep1", "<img src=(.*?)>"},
          {"rep2", "{参数1}"},
          {"repeat_check", "-1"},
          {"rep_join_string", ","}}},
    };
    // Baseline: one plain find/replace pass of a literal over the same value.
    auto tb = Clock::now();
    std::size_t baseSize = 0;
    for (int r = 0; r < rounds; ++r) {
        std::string out;
        out.reserve(value.size());
        std::size_t copied = 0;
        for (std::size_t p = value.find("<img"); p != std::string::npos; p = value.find("<img", p + 4)) {
            out.append(value, copied, p - copied);
            out += "<IMG";
            copied = p + 4;
        }
        out.append(value, copied, std::string::npos);
        baseSize = out.size();
    }
    const double baseSecs = secondsSince(tb) / rounds;
    std::printf("%-36s %10.0f matches/s  %7.2f MB/s  (baseline, %zu bytes)\n", "plain find/replace \"<img\"",
                matches / baseSecs, value.size() / 1e6 / baseSecs, baseSize);
    for (const auto& c : cases) {
        std::size_t outSize = 0;
        double secs = timeChain(value, c.strip, rounds, outSize);
        std::printf("%-36s %10.0f matches/s  %7.2f MB/s  %5.1fx baseline time  (%zu bytes out)\n", c.name,
                    matches / secs, value.size() / 1e6 / secs, secs / baseSecs, outSize);
    }

    // ---- keyword tags -----------------------------------------------------------------------
    std::vector<std::string> words;
    words.reserve(wordCount);
    std::uniform_int_distribution<int> len(2, 4);
    for (int i = 0; i < wordCount; ++i) words.push_back(randomHan(rng, len(rng)));
    std::vector<std::string> texts;
    std::uniform_int_distribution<int> anyWord(0, wordCount - 1);
    for (int a = 0; a < articles; ++a) {
        std::string t;
        for (int k = 0; k < 40; ++k) t += randomHan(rng, 40) + words[anyWord(rng)];
        texts.push_back(std::move(t));
    }

    auto dir = std::filesystem::temp_directory_path() / "tarvex-bench-postprocess";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "Plugin" / "dict");
    {
        platform::SqliteConnection db((dir / "Plugin" / "dict" / "dict.jdb").string());
        db.exec("create table dict (keys text)");
        platform::SqliteTransaction tx(db);
        platform::SqliteStatement insert(db, "insert into dict (keys) values (?)");
        for (const auto& w : words) {
            insert.bind(1, w).run();
            insert.reset();
        }
        tx.commit();
    }
    engine::KeywordDictionary dictionary;
    auto tl = Clock::now();
    if (dictionary.ensureLoaded(dir.string() + "/") != engine::DictionaryLoad::Loaded) {
        std::fprintf(stderr, "dictionary did not load\n");
        return 1;
    }
    const double loadSecs = secondsSince(tl);
    std::printf("dictionary: %d words read and indexed in %.2f s\n", wordCount, loadSecs);

    const std::string rule = fieldRule({{"type", "关键词分词"}, {"rep1", ","}, {"rep2", "5"}});
    engine::ChainEnv env;
    env.programFolder = dir.string() + "/";
    env.dictionary = &dictionary;
    std::size_t tagBytes = 0;
    auto tk = Clock::now();
    for (const auto& t : texts) tagBytes += engine::applyPostRules(t, rule, {}, {}, env).size();
    const double tagSecs = secondsSince(tk);
    std::printf("%-36s %10.0f articles/s  (%d articles of %.1f KB, %zu tag bytes)\n", "关键词分词 via the chain",
                articles / tagSecs, articles, texts[0].size() / 1e3, tagBytes);

    // Baseline: the list-order "contains" walk over every keyword, on a sample of articles.
    const int sample = std::max(1, std::min(articles, 20));
    auto tn = Clock::now();
    std::size_t naiveHits = 0;
    for (int a = 0; a < sample; ++a) {
        int taken = 0;
        for (const auto& w : words) {
            if (texts[a].find(w) != std::string::npos) ++naiveHits, ++taken;
            if (taken >= 5) break;
        }
    }
    const double naiveSecs = secondsSince(tn) / sample;
    std::printf("%-36s %10.1f articles/s  (baseline on %d articles; the index is %.0fx faster)\n",
                "list-order contains walk", 1.0 / naiveSecs, sample, naiveSecs / (tagSecs / articles));
    std::filesystem::remove_all(dir);
    std::printf("(baseline found %zu tags)\n", naiveHits);
    return 0;
}
