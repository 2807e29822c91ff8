#pragma once
// Regular expressions over UTF-8 text: PCRE2 (8-bit, UTF, invalid UTF tolerated) with JIT, a
// process-wide compile cache, and limits that turn runaway matching into an error value. No
// function here throws; every failure comes back with PCRE2's message text.
//
// Threads: a compiled Regex is immutable and may be shared by any number of threads; every call
// uses its own match data and the calling thread's match context.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::platform {

// Option bits of a pattern.
enum RegexFlag : unsigned {
    kRegexNone = 0u,
    kRegexDotAll = 1u,    // "." also matches CR and LF
    kRegexCaseless = 2u,  // letters match regardless of case (Unicode case folding)
};
// The two option sets rules use: extraction is dot-all and case-sensitive, search is dot-all
// and caseless.
inline constexpr unsigned kExtractionOptions = kRegexDotAll;
inline constexpr unsigned kSearchOptions = kRegexDotAll | kRegexCaseless;

class Regex;
using RegexPtr = std::shared_ptr<const Regex>;

// One match: byte offsets of every group into the subject. Holds a view of the subject, so
// the subject must outlive it; keeps its Regex alive for group names.
class RegexMatch {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Number of groups including group 0 (the whole match).
    std::size_t groupCount() const { return m_offsets.size() / 2; }
    // Whether group i took part in the match.
    bool matched(std::size_t i) const { return i < groupCount() && m_offsets[2 * i] != npos; }
    // Text of group i; "" when the group is out of range or did not take part.
    std::string_view group(std::size_t i = 0) const;
    // Text of the named group; "" when there is no such group or it did not take part.
    std::string_view named(std::string_view name) const;
    // Number of the named group, or -1.
    int groupNumber(std::string_view name) const;
    bool hasGroup(std::string_view name) const { return groupNumber(name) >= 0; }
    // Byte offsets of group i in the subject; npos when unset.
    std::size_t begin(std::size_t i = 0) const { return i < groupCount() ? m_offsets[2 * i] : npos; }
    std::size_t end(std::size_t i = 0) const { return i < groupCount() ? m_offsets[2 * i + 1] : npos; }
    // Code-point positions (what the system calls "position") of group i; npos when unset.
    // Counts from the start of the subject, so each call costs a scan of the text before it.
    std::size_t codePointBegin(std::size_t i = 0) const;
    std::size_t codePointLength(std::size_t i = 0) const;
    std::string_view subject() const { return m_subject; }

private:
    friend class Regex;
    RegexPtr m_regex;
    std::string_view m_subject;
    std::vector<std::size_t> m_offsets;
};

// Result of compiling: a pattern or the PCRE2 message (with the offset in the pattern).
struct [[nodiscard]] RegexCompiled {
    RegexPtr regex;
    std::string error;
    explicit operator bool() const { return regex != nullptr; }
};

struct [[nodiscard]] RegexFirst {
    std::optional<RegexMatch> match;  // empty when nothing matched or on error
    std::optional<std::string> error;
};

struct [[nodiscard]] RegexAll {
    std::vector<RegexMatch> matches;  // the matches found before an error, if any
    std::optional<std::string> error;
};

struct [[nodiscard]] RegexText {
    std::string text;  // on error: the subject unchanged
    std::optional<std::string> error;
};

struct [[nodiscard]] RegexPieces {
    std::vector<std::string> pieces;
    std::optional<std::string> error;
};

// How a replacement text refers to groups.
//  Template: "$n" and "\n" (n one digit) insert group n, "${name}", "${nn}", "\g<name>" and
//            "\g<nn>" a named or numbered group, "$$" and "\$" a dollar, "\\" a backslash;
//            any other character (and a "$" or "\" that starts nothing above) is literal. A
//            group that does not exist or did not take part inserts nothing.
//  Literal:  the replacement is inserted as written.
enum class ReplaceSyntax { Template, Literal };

class Regex : public std::enable_shared_from_this<Regex> {
public:
    // Compiles through the process-wide cache: the same pattern and options give the same
    // compiled object (and a refused pattern the same error) on every thread.
    static RegexCompiled compile(std::string_view pattern, unsigned options);
    // Compiles without the cache.
    static RegexCompiled compileUncached(std::string_view pattern, unsigned options);

    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    const std::string& pattern() const { return m_pattern; }
    unsigned options() const { return m_options; }
    // Capturing groups, group 0 not counted.
    std::size_t captureCount() const { return m_captureCount; }
    int groupNumber(std::string_view name) const;

    // First match at or after byte offset `start`.
    RegexFirst first(std::string_view subject, std::size_t start = 0) const;
    // Calls fn for every match in order until fn returns false. An empty match is allowed
    // unless `allowEmpty` is false; after an empty match the search moves on one character,
    // so the walk always ends. Returns the error that stopped it, if any.
    std::optional<std::string> forEach(std::string_view subject, const std::function<bool(const RegexMatch&)>& fn,
                                       bool allowEmpty = true) const;
    // Every match (at most `limit`), in order.
    RegexAll all(std::string_view subject, std::size_t limit = static_cast<std::size_t>(-1)) const;
    // Replaces every match (at most `limit`) by the replacement.
    RegexText replace(std::string_view subject, std::string_view replacement,
                      ReplaceSyntax syntax = ReplaceSyntax::Template,
                      std::size_t limit = static_cast<std::size_t>(-1)) const;
    // The pieces between the matches, empty ones included, and the rest after the last match.
    // Empty matches do not split. An empty subject gives no pieces.
    RegexPieces split(std::string_view subject) const;

    // Expands a replacement template (ReplaceSyntax::Template) for one match.
    static std::string expandReplacement(std::string_view replacement, const RegexMatch& match);

private:
    struct Private;
    Regex(std::string pattern, unsigned options);
    std::string m_pattern;
    unsigned m_options = 0;
    std::size_t m_captureCount = 0;
    std::unique_ptr<Private> m_p;
};

// Limits every match operation obeys. A catastrophic pattern ends with the error "match limit
// exceeded", "match time limit exceeded", "heap limit exceeded" or similar instead of running on.
struct RegexLimits {
    unsigned matchLimit = 10'000'000;    // backtracking steps per start position
    unsigned depthLimit = 10'000'000;    // nesting of backtracking (interpreter only)
    unsigned heapLimitKiB = 256 * 1024;  // interpreter frame memory
    unsigned timeLimitMs = 2000;         // wall-clock budget of one operation (first, all, …)
};
// The limits in force; changed mostly by tests. Safe from any thread.
RegexLimits regexLimits();
void setRegexLimits(const RegexLimits& limits);

// Convenience over Regex::compile for single calls; a refused pattern is an error result.
RegexFirst regexFirst(std::string_view pattern, unsigned options, std::string_view subject);
RegexAll regexAll(std::string_view pattern, unsigned options, std::string_view subject);
RegexText regexReplace(std::string_view pattern, unsigned options, std::string_view subject,
                       std::string_view replacement, ReplaceSyntax syntax = ReplaceSyntax::Template);
RegexPieces regexSplit(std::string_view pattern, unsigned options, std::string_view subject);

}  // namespace tarvex::platform
