#include "collect/content_summary.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "collect/attachment_paths.h"
#include "platform/json_text.h"

namespace tarvex::collect {

namespace {

int percent(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0
                      : static_cast<int>(std::lround(100.0 * static_cast<double>(part) / static_cast<double>(whole)));
}

double share(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

const std::size_t* emptyCountOf(const FieldCounts& counts, const std::string& title) {
    for (const auto& [t, n] : counts.empty)
        if (t == title) return &n;
    return nullptr;
}

}  // namespace

void ContentTally::stored(const std::vector<std::pair<std::string, std::string>>& values) {
    std::lock_guard<std::mutex> g(m_lock);
    ++m_fields.stored;
    for (const auto& [title, value] : values) {
        auto it =
            std::find_if(m_fields.empty.begin(), m_fields.empty.end(), [&](const auto& e) { return e.first == title; });
        if (it == m_fields.empty.end()) {
            m_fields.empty.emplace_back(title, 0);
            it = std::prev(m_fields.empty.end());
        }
        if (value.find_first_not_of(" \t\r\n") == std::string::npos) ++it->second;
    }
}

void ContentTally::rejected(const std::string& reason) {
    std::lock_guard<std::mutex> g(m_lock);
    ++m_rejected;
    ++m_reasons[reason];
}

FieldCounts ContentTally::fields() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_fields;
}

std::size_t ContentTally::rejectedCount() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_rejected;
}

std::vector<std::pair<std::string, std::size_t>> ContentTally::reasons() const {
    std::lock_guard<std::mutex> g(m_lock);
    std::vector<std::pair<std::string, std::size_t>> out(m_reasons.begin(), m_reasons.end());
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return out;
}

std::vector<std::string> BrokenFields(const FieldCounts& now, const std::optional<FieldCounts>& previous) {
    std::vector<std::string> out;
    if (!previous || previous->stored < kMinRowsToCompare || now.stored < kMinRowsToCompare) return out;
    for (const auto& [title, empty] : now.empty) {
        const std::size_t* before = emptyCountOf(*previous, title);
        if (!before) continue;
        if (share(*before, previous->stored) <= kUsuallyFilled && share(empty, now.stored) >= kMostlyEmpty)
            out.push_back(title);
    }
    return out;
}

std::vector<std::string> MostlyEmptyFields(const FieldCounts& now) {
    std::vector<std::string> out;
    if (now.stored == 0) return out;
    for (const auto& [title, empty] : now.empty)
        if (share(empty, now.stored) >= kRunMostlyEmpty) out.push_back(title);
    return out;
}

std::string MostlyEmptyLine(const std::string& title, std::size_t empty, std::size_t stored) {
    if (empty >= stored) return "字段[" + title + "]在本次采集中全部为空，规则可能已失效";
    // Rounded down, so a field that had a value somewhere never reads as 100 %.
    const auto shown = static_cast<int>(100.0 * static_cast<double>(empty) / static_cast<double>(stored));
    return "字段[" + title + "]在本次采集中" + std::to_string(shown) + "%为空，规则可能已失效";
}

std::vector<std::string> SummaryLines(const ContentTally& tally, const std::optional<FieldCounts>& previous) {
    const FieldCounts now = tally.fields();
    std::vector<std::string> lines;
    lines.push_back("内容采集小结：入库" + std::to_string(now.stored) + "条，未入库" +
                    std::to_string(tally.rejectedCount()) + "条");
    auto reasons = tally.reasons();
    if (!reasons.empty()) {
        std::string line = "未入库原因：";
        for (std::size_t i = 0; i < reasons.size(); ++i) {
            if (i) line += "；";
            line += reasons[i].first + " " + std::to_string(reasons[i].second) + "条";
        }
        lines.push_back(line);
    }
    if (now.stored > 0 && !now.empty.empty()) {
        const auto broken = BrokenFields(now, previous);
        std::string line = "字段为空比例：";
        for (std::size_t i = 0; i < now.empty.size(); ++i) {
            const auto& [title, empty] = now.empty[i];
            if (i) line += "，";
            line += title + " " + std::to_string(percent(empty, now.stored)) + "%";
            if (std::find(broken.begin(), broken.end(), title) != broken.end())
                line += "（上次" + std::to_string(percent(*emptyCountOf(*previous, title), previous->stored)) +
                        "%，规则可能已失效）";
        }
        lines.push_back(line);
        for (const auto& title : MostlyEmptyFields(now))
            lines.push_back(MostlyEmptyLine(title, *emptyCountOf(now, title), now.stored));
    }
    return lines;
}

std::string FieldStatsPath(const std::string& programFolder, std::int64_t taskId) {
    return AttachmentFolder({}, programFolder, taskId) + "field_stats.json";
}

std::optional<FieldCounts> LoadFieldCounts(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    auto doc = platform::parseJson<nlohmann::json>(text.str());
    if (!doc.is_object() || !doc.contains("stored") || !doc["stored"].is_number_unsigned() || !doc.contains("fields") ||
        !doc["fields"].is_array())
        return std::nullopt;
    FieldCounts counts;
    counts.stored = doc["stored"].get<std::size_t>();
    for (const auto& f : doc["fields"]) {
        if (!f.is_object() || !f.contains("title") || !f["title"].is_string() || !f.contains("empty") ||
            !f["empty"].is_number_unsigned())
            return std::nullopt;
        counts.empty.emplace_back(f["title"].get<std::string>(), f["empty"].get<std::size_t>());
    }
    return counts;
}

bool SaveFieldCounts(const std::string& path, const FieldCounts& counts) {
    nlohmann::json doc{{"stored", counts.stored}, {"fields", nlohmann::json::array()}};
    for (const auto& [title, empty] : counts.empty) doc["fields"].push_back({{"title", title}, {"empty", empty}});
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && !MakeFolders(path.substr(0, slash))) return false;
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        if (!out.flush()) {
            ::unlink(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> FinishContentSummary(const ContentTally& tally, const std::string& statsPath) {
    auto lines = SummaryLines(tally, LoadFieldCounts(statsPath));
    const FieldCounts now = tally.fields();
    if (now.stored >= kMinRowsToCompare) SaveFieldCounts(statsPath, now);
    return lines;
}

}  // namespace tarvex::collect
