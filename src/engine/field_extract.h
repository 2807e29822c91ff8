#pragma once
// Field extraction: cutting one field's value out of a content page's page list by its field
// rule (between a front and a back text, by a regular expression, or made up without the
// page), page by page and match by match, then handing it to the post-processing chain; and
// the whole record of a settings document over the pages of one content page.
//
// Pure apart from logging; several content workers may extract at once, each with its own
// page list and field-value list. A regular expression the engine refuses, or one that runs
// out of its limits, ends the extraction with the engine's message.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/field_rule.h"
#include "engine/page_list.h"
#include "engine/random_source.h"
#include "engine/text_tokens.h"
#include "platform/ports.h"

namespace tarvex::engine {

using SettingsJson = nlohmann::ordered_json;

// The clock and random source behind made-up values and text tokens.
struct ExtractEnv {
    const platform::Clock* clock = &platform::SystemClock::instance();
    RandomSource* random = &DefaultRandom();
};

// The task's two joiners, with the two-character sequences "\r" and "\n" as CR and LF.
struct Joiners {
    std::string repeat;  // "other_join_repeat"
    std::string page;    // "other_joinpage"
};
Joiners ReadJoiners(const SettingsJson& settings);

struct [[nodiscard]] FieldOutcome {
    std::string value;
    std::optional<std::string> error;  // the regex engine's message; the value is then empty
};

// The page texts field rules work on, split at "[dd:分页符]" and with their line breaks
// restored, worked out once per page list entry and shared by all fields of a record.
// Not thread-safe: one per record and worker.
class PageSource {
public:
    explicit PageSource(const PageList& pages) : m_pages(pages) {}
    const PageList& list() const { return m_pages; }

    struct Entry {
        std::string whole;               // a level's text after "<dd:分隔符>" (not kept for entry 0)
        std::vector<std::string> pages;  // its pages; none for an empty text
    };
    // Entry 0 (the content page); an empty entry when the list is empty.
    const Entry& top();
    // The multi-level page of that name: its text after "<dd:分隔符>" (empty when missing).
    const Entry& level(const std::string& name);

private:
    const PageList& m_pages;
    std::optional<Entry> m_top;
    std::vector<std::pair<std::string, Entry>> m_levels;
};

// One field from one page text (line-break markers allowed). Logs as "GetFieldResult2|…".
FieldOutcome extractFieldFromPage(const std::string& name, const FieldRule& rule, std::string_view page,
                                  const FieldValueList& values, const PageList& pages, const ExtractEnv& env = {});
// One field over the page list: the content page or a multi-level page, its first page or
// every page, the separators replaced by the joiners. Logs as "GetFieldResult|…".
FieldOutcome extractField(const std::string& name, const FieldRule& rule, const Joiners& joiners,
                          const FieldValueList& values, PageSource& pages, const ExtractEnv& env = {});

// The same over texts, as the system's other parts call them: an error gives an empty value
// (and is logged); a rule or settings text that is not a JSON object reads as empty.
std::string extractFieldFromPage(const std::string& name, std::string_view ruleJson, std::string_view page,
                                 const FieldValueList& values, const PageList& pages);
std::string extractField(const std::string& name, std::string_view ruleJson, std::string_view settingsJson,
                         const FieldValueList& values, const PageList& pages);

// The field rules of a settings document's "fieldsAll", in order. An element that is not a
// field rule object gives an error naming its position.
struct [[nodiscard]] FieldRules {
    std::vector<FieldRule> rules;
    std::optional<std::string> error;
};
FieldRules ReadFieldRules(const SettingsJson& settings);

// True when every field is made up without the page ("radio_3"), also for no fields.
bool AllFixedStrings(std::string_view settingsJson);
// The same for field rules already read, so a caller holding the document does not parse it again.
bool AllFixedStrings(const FieldRules& rules);
// "," + the title and a "," of every field that downloads images or attachments; "," for none.
std::string DownloadFieldNames(std::string_view settingsJson);

// One record: every field of the settings document over the pages of one content page (in
// order; the first is wrapped in "<tarvex>" … "</tarvex>" as the content worker does), field
// name -> value with line breaks restored. `url` is the page address, known to the fields as
// the value "url". Stops at the first field whose extraction fails.
struct [[nodiscard]] RecordOutcome {
    nlohmann::ordered_json record = nlohmann::ordered_json::object();
    std::optional<std::string> error;
};
RecordOutcome ExtractRecord(const SettingsJson& settings, const std::vector<std::string>& pages, std::string_view url,
                            const ExtractEnv& env = {});
// The same from the settings document's JSON text; a text that is not a JSON object is an error.
RecordOutcome ExtractRecordFromText(std::string_view settingsJson, const std::vector<std::string>& pages,
                                    std::string_view url, const ExtractEnv& env = {});

}  // namespace tarvex::engine
