#pragma once
// The list settings ("Morepage") and pagination settings ("mulpage", "More_mulpage") as form
// models: their fields with defaults, reading from and writing to their JSON text, and the
// refusals of their windows. No Qt: the windows in ui/ and tests share these rules.
#include <optional>
#include <string>
#include <vector>

namespace tarvex::app {

struct PaginationForm {
    std::string begin, end;              // Mul_begin, Mul_end
    std::string include, exclude;        // Mul_include, Mul_exclude
    long long maxPages = 0;              // Mul_max (a JSON number; 0 = no limit)
    std::string time = "0";              // Mul_time, ms
    int mode = 1;                        // 1 smart, 2 page-address matching, 3 all listed
    std::string regex;                   // Mul_regex (mode 2)
    std::string rewriteFrom, rewriteTo;  // Mul_regex_begin, Mul_regex_end

    static PaginationForm fromJson(const std::string& text);
    std::string toJson() const;
    // The window's refusal, or nullopt when the form can be stored.
    std::optional<std::string> validate() const;
};

struct ListSettingsForm {
    std::string begin, end;              // More_begin, More_end
    std::string rewriteFrom, rewriteTo;  // More_begin_regex1, More_begin_regex2
    std::string linkPattern;             // More_url_regex
    std::string include = "html";        // More_include
    std::string exclude;                 // More_exclude
    bool noReferer = false;              // More_check_referer
    std::string readTimeout = "20";      // More_readtimeout, seconds
    bool uniqueTitles = false;           // More_check_repeat_title
    int sort = 0;                        // More_sort: 0 as found, 1 reversed, 2 random
    std::string pagination;              // More_mulpage JSON text, "" when unused
    std::vector<std::string> sources;    // More_urls

    static ListSettingsForm fromJson(const std::string& text);
    std::string toJson() const;
    // Refusals of the window: list-page field names (at most 7 characters, no blank, distinct,
    // not a content field). `contentFields` are the task's field titles.
    std::optional<std::string> validate(const std::vector<std::string>& contentFields) const;
};

// Source entries the list window builds. Each returns the entry, or the refusal message.
struct SourceEntry {
    std::optional<std::string> entry;
    std::string refusal;
};
SourceEntry composeEntry(const std::string& urlTemplate, const std::string& first, const std::string& last,
                         const std::string& step);
SourceEntry importEntry(const std::string& path, const std::string& programFolder);
SourceEntry addressEntry(const std::string& address);
// Adds an entry unless the same one is already listed; true when added.
bool addSource(std::vector<std::string>& sources, const std::string& entry);

// Names referenced as "{DD:字段=name}" in a link pattern, in order, repeats included.
std::vector<std::string> listFieldNames(const std::string& linkPattern);

}  // namespace tarvex::app
