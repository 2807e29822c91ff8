#include "platform/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/utf8.h"

namespace tarvex::platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::atomic<unsigned> g_matchLimit{RegexLimits{}.matchLimit};
std::atomic<unsigned> g_depthLimit{RegexLimits{}.depthLimit};
std::atomic<unsigned> g_heapLimit{RegexLimits{}.heapLimitKiB};
std::atomic<unsigned> g_timeLimitMs{RegexLimits{}.timeLimitMs};

constexpr const char* kTimeLimitMessage = "match time limit exceeded";
// Returned by a run when the operation's time budget is spent; outside PCRE2's codes.
constexpr int kTimeLimitCode = -100000;

// The state of one operation (first, all, replace, split): its wall-clock budget and the size
// of the window of start positions each pcre2_match call may try.
struct OpState {
    SteadyClock::time_point deadline;
    std::size_t window = 64;
};

// A match context and JIT stack, used by one thread at a time: the context carries the limits
// and the offset limit of the current call, so it cannot be shared between threads.
struct MatchEnv {
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* jitStack = nullptr;
    MatchEnv() {
        context = pcre2_match_context_create(nullptr);
        // A large maximum costs only address space; pages are touched as deep patterns need them.
        jitStack = pcre2_jit_stack_create(32 * 1024, 64 * 1024 * 1024, nullptr);
        if (context && jitStack) pcre2_jit_stack_assign(context, nullptr, jitStack);
    }
    ~MatchEnv() {
        if (jitStack) pcre2_jit_stack_free(jitStack);
        if (context) pcre2_match_context_free(context);
    }
    MatchEnv(const MatchEnv&) = delete;
    MatchEnv& operator=(const MatchEnv&) = delete;
};

// Environments are lent to threads and taken back when a thread ends, instead of being made
// and freed with every thread: content workers are short-lived threads, one per row, and
// freeing a JIT stack unmaps it, which flushes the address translations of every core running
// the process. The pool is never destroyed, so threads that end during exit can still return
// theirs.
class MatchEnvPool {
public:
    std::unique_ptr<MatchEnv> take() {
        {
            std::lock_guard<std::mutex> g(m_lock);
            if (!m_free.empty()) {
                auto env = std::move(m_free.back());
                m_free.pop_back();
                return env;
            }
        }
        return std::make_unique<MatchEnv>();
    }
    void give(std::unique_ptr<MatchEnv> env) {
        std::lock_guard<std::mutex> g(m_lock);
        // More than the busiest moment needs is freed after all.
        if (m_free.size() < kKept) m_free.push_back(std::move(env));
    }

private:
    static constexpr std::size_t kKept = 16;
    std::mutex m_lock;
    std::vector<std::unique_ptr<MatchEnv>> m_free;
};

MatchEnvPool& envPool() {
    static auto* pool = new MatchEnvPool;
    return *pool;
}

struct MatchEnvLease {
    std::unique_ptr<MatchEnv> env = envPool().take();
    ~MatchEnvLease() { envPool().give(std::move(env)); }
};

MatchEnv& matchEnv() {
    thread_local MatchEnvLease lease;
    return *lease.env;
}

std::string pcreMessage(int code) {
    PCRE2_UCHAR buf[256];
    int n = pcre2_get_error_message(code, buf, sizeof buf);
    if (n < 0) return "PCRE2 error " + std::to_string(code);
    return std::string(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

struct MatchData {
    pcre2_match_data* md;
    explicit MatchData(const pcre2_code* code) : md(pcre2_match_data_create_from_pattern(code, nullptr)) {}
    ~MatchData() {
        if (md) pcre2_match_data_free(md);
    }
    MatchData(const MatchData&) = delete;
    MatchData& operator=(const MatchData&) = delete;
};

// Next code point boundary after byte i (one byte for a stray byte).
std::size_t nextCharBoundary(std::string_view s, std::size_t i) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    return i;
}

// One piece of a parsed replacement template.
struct ReplacePiece {
    std::string literal;  // used when group < 0 and name empty
    int group = -1;
    std::string name;
};

std::vector<ReplacePiece> parseReplacement(std::string_view r) {
    std::vector<ReplacePiece> out;
    std::string lit;
    auto flush = [&] {
        if (!lit.empty()) out.push_back({std::move(lit), -1, {}});
        lit.clear();
    };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto reference = [&](std::string_view ref) {
        flush();
        bool numeric = !ref.empty();
        for (char c : ref) numeric = numeric && isDigit(c);
        if (numeric) {
            int n = 0;
            for (char c : ref) n = std::min(n * 10 + (c - '0'), 1'000'000);
            out.push_back({{}, n, {}});
        } else {
            out.push_back({{}, -1, std::string(ref)});
        }
    };
    for (std::size_t i = 0; i < r.size(); ++i) {
        char c = r[i];
        char next = i + 1 < r.size() ? r[i + 1] : '\0';
        if (c == '$') {
            if (next == '$') {
                lit += '$';
                ++i;
            } else if (isDigit(next)) {
                reference(r.substr(i + 1, 1));
                ++i;
            } else if (next == '{') {
                std::size_t close = r.find('}', i + 2);
                if (close == std::string_view::npos || close == i + 2) {
                    lit += c;
                } else {
                    reference(r.substr(i + 2, close - i - 2));
                    i = close;
                }
            } else {
                lit += c;
            }
        } else if (c == '\\') {
            if (next == '\\' || next == '$') {
                lit += next;
                ++i;
            } else if (isDigit(next)) {
                reference(r.substr(i + 1, 1));
                ++i;
            } else if (next == 'g' && i + 2 < r.size() && r[i + 2] == '<') {
                std::size_t close = r.find('>', i + 3);
                if (close == std::string_view::npos || close == i + 3) {
                    lit += c;
                } else {
                    reference(r.substr(i + 3, close - i - 3));
                    i = close;
                }
            } else {
                lit += c;
            }
        } else {
            lit += c;
        }
    }
    flush();
    return out;
}

void appendReplacement(std::string& out, const std::vector<ReplacePiece>& pieces, const RegexMatch& m) {
    for (const auto& p : pieces) {
        if (p.group >= 0)
            out += m.group(static_cast<std::size_t>(p.group));
        else if (!p.name.empty())
            out += m.named(p.name);
        else
            out += p.literal;
    }
}

struct CacheState {
    std::mutex lock;
    std::unordered_map<std::string, RegexCompiled> entries;
};

CacheState& cache() {
    static CacheState state;
    return state;
}

constexpr std::size_t kCacheMax = 4096;

uint32_t compileFlags(unsigned options) {
    uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_USE_OFFSET_LIMIT;
    if (options & kRegexDotAll) flags |= PCRE2_DOTALL;
    if (options & kRegexCaseless) flags |= PCRE2_CASELESS;
    return flags;
}

pcre2_code* compileText(std::string_view text, unsigned options, int& err, PCRE2_SIZE& at) {
    pcre2_compile_context* cctx = pcre2_compile_context_create(nullptr);
    if (cctx) pcre2_set_newline(cctx, PCRE2_NEWLINE_ANYCRLF);
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), compileFlags(options), &err, &at, cctx);
    if (cctx) pcre2_compile_context_free(cctx);
    if (code) pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    return code;
}

}  // namespace

struct Regex::Private {
    pcre2_code* code = nullptr;

    ~Private() {
        if (code) pcre2_code_free(code);
    }

    // Finds the next match at or after `start`. PCRE2's match limit counts backtracking per
    // start position, so a pattern that is merely quadratic (a tempered "(?:(?!</a>).)*" from
    // each of 70,000 "<a>" of a 2 MB page) never trips it. The start positions are therefore
    // tried in windows (the offset limit; the match itself may run past the window), and the
    // operation's time budget is checked between windows. The window grows while calls are
    // quick, so a plain search needs a dozen calls, and each call keeps the JIT's own
    // within-call optimisations. A JIT stack overflow is reported, not retried in the
    // interpreter, which takes seconds and hundreds of megabytes to give up on such patterns.
    int run(std::string_view subject, std::size_t start, uint32_t matchOptions, pcre2_match_data* md,
            OpState& state) const {
        MatchEnv& env = matchEnv();
        pcre2_match_context* ctx = env.context;
        if (ctx) {
            pcre2_set_match_limit(ctx, g_matchLimit.load(std::memory_order_relaxed));
            pcre2_set_depth_limit(ctx, g_depthLimit.load(std::memory_order_relaxed));
            pcre2_set_heap_limit(ctx, g_heapLimit.load(std::memory_order_relaxed));
        }
        auto subj = reinterpret_cast<PCRE2_SPTR>(subject.data());
        const std::size_t size = subject.size();
        std::size_t pos = start;
        for (;;) {
            std::size_t limit = size - pos > state.window ? pos + state.window : size;
            while (limit < size && (static_cast<unsigned char>(subject[limit]) & 0xC0) == 0x80) ++limit;
            if (ctx) pcre2_set_offset_limit(ctx, limit);
            auto before = SteadyClock::now();
            int rc = pcre2_match(code, subj, size, pos, matchOptions, md, ctx);
            auto after = SteadyClock::now();
            auto took = after - before;
            if (took < std::chrono::milliseconds(100))
                state.window = std::min<std::size_t>(state.window * 2, std::size_t{1} << 40);
            else if (took > std::chrono::milliseconds(300) && state.window > 1)
                state.window /= 2;
            // Without a context the first call already covered every start position.
            if (rc != PCRE2_ERROR_NOMATCH || limit >= size || !ctx) return rc;
            if (after >= state.deadline) return kTimeLimitCode;
            // The offset limit is inclusive: the next window starts after it.
            pos = nextCharBoundary(subject, limit);
            matchOptions &= ~static_cast<uint32_t>(PCRE2_NOTEMPTY_ATSTART);
        }
    }
};

Regex::Regex(std::string pattern, unsigned options)
    : m_pattern(std::move(pattern)), m_options(options), m_p(std::make_unique<Private>()) {}

Regex::~Regex() = default;

RegexCompiled Regex::compileUncached(std::string_view pattern, unsigned options) {
    int err = 0;
    PCRE2_SIZE at = 0;
    pcre2_code* code = compileText(pattern, options, err, at);
    if (!code) {
        std::size_t offset = utf8::length(pattern.substr(0, std::min<std::size_t>(at, pattern.size())));
        return {nullptr, pcreMessage(err) + " at offset " + std::to_string(offset)};
    }
    std::shared_ptr<Regex> re(new Regex(std::string(pattern), options));
    re->m_p->code = code;
    uint32_t captures = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
    re->m_captureCount = captures;
    return {std::move(re), {}};
}

RegexCompiled Regex::compile(std::string_view pattern, unsigned options) {
    std::string key;
    key.reserve(pattern.size() + 1);
    key.push_back(static_cast<char>('0' + (options & 7u)));
    key.append(pattern);
    CacheState& c = cache();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        auto it = c.entries.find(key);
        if (it != c.entries.end()) return it->second;
    }
    // Compiled outside the lock: two threads may compile the same text once each, and the
    // first to insert wins.
    RegexCompiled compiled = compileUncached(pattern, options);
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.entries.size() >= kCacheMax) c.entries.clear();
    auto [it, inserted] = c.entries.emplace(std::move(key), compiled);
    return it->second;
}

int Regex::groupNumber(std::string_view name) const {
    if (name.empty()) return -1;
    std::string n(name);
    int num = pcre2_substring_number_from_name(m_p->code, reinterpret_cast<PCRE2_SPTR>(n.c_str()));
    return num > 0 ? num : -1;
}

namespace {

OpState startOp() {
    OpState state;
    state.deadline = SteadyClock::now() + std::chrono::milliseconds(g_timeLimitMs.load(std::memory_order_relaxed));
    return state;
}

std::string matchError(int rc) {
    return rc == kTimeLimitCode ? kTimeLimitMessage : pcreMessage(rc);
}

}  // namespace

RegexFirst Regex::first(std::string_view subject, std::size_t start) const {
    RegexFirst out;
    if (start > subject.size()) return out;
    MatchData data(m_p->code);
    if (!data.md) {
        out.error = "out of memory";
        return out;
    }
    OpState state = startOp();
    int rc = m_p->run(subject, start, 0, data.md, state);
    if (rc == PCRE2_ERROR_NOMATCH) return out;
    if (rc < 0) {
        out.error = matchError(rc);
        return out;
    }
    RegexMatch m;
    m.m_regex = shared_from_this();
    m.m_subject = subject;
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.md);
    m.m_offsets.assign(ov, ov + 2 * (m_captureCount + 1));
    out.match = std::move(m);
    return out;
}

std::optional<std::string> Regex::forEach(std::string_view subject, const std::function<bool(const RegexMatch&)>& fn,
                                          bool allowEmpty) const {
    MatchData data(m_p->code);
    if (!data.md) return std::string("out of memory");
    OpState state = startOp();
    RegexMatch m;
    m.m_regex = shared_from_this();
    m.m_subject = subject;
    const std::size_t slots = 2 * (m_captureCount + 1);
    uint32_t base = allowEmpty ? 0 : PCRE2_NOTEMPTY;
    uint32_t extra = 0;
    std::size_t pos = 0;
    while (pos <= subject.size()) {
        int rc = m_p->run(subject, pos, base | extra, data.md, state);
        if (rc == PCRE2_ERROR_NOMATCH) break;
        if (rc < 0) return matchError(rc);
        PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.md);
        m.m_offsets.assign(ov, ov + slots);
        if (!fn(m)) break;
        std::size_t s = ov[0], e = ov[1];
        if (e <= s) {
            // After an empty match, look again from the same place for a non-empty match
            // there or any match further on, so the walk always moves forward.
            if (extra && e <= pos) {
                pos = nextCharBoundary(subject, pos);
                extra = 0;
                continue;
            }
            extra = PCRE2_NOTEMPTY_ATSTART;
            pos = std::max(e, pos);
        } else {
            extra = 0;
            pos = e;
        }
    }
    return std::nullopt;
}

RegexAll Regex::all(std::string_view subject, std::size_t limit) const {
    RegexAll out;
    if (limit == 0) return out;
    out.error = forEach(subject, [&](const RegexMatch& m) {
        out.matches.push_back(m);
        return out.matches.size() < limit;
    });
    return out;
}

RegexText Regex::replace(std::string_view subject, std::string_view replacement, ReplaceSyntax syntax,
                         std::size_t limit) const {
    RegexText out;
    std::vector<ReplacePiece> pieces;
    if (syntax == ReplaceSyntax::Template)
        pieces = parseReplacement(replacement);
    else
        pieces.push_back({std::string(replacement), -1, {}});
    std::string text;
    text.reserve(subject.size());
    std::size_t copied = 0;
    std::size_t count = 0;
    if (limit == 0) {
        out.text = std::string(subject);
        return out;
    }
    auto err = forEach(subject, [&](const RegexMatch& m) {
        text.append(subject.substr(copied, m.begin() - copied));
        appendReplacement(text, pieces, m);
        copied = m.end();
        return ++count < limit;
    });
    if (err) {
        out.text = std::string(subject);
        out.error = std::move(err);
        return out;
    }
    text.append(subject.substr(copied));
    out.text = std::move(text);
    return out;
}

RegexPieces Regex::split(std::string_view subject) const {
    RegexPieces out;
    if (subject.empty()) return out;
    std::size_t from = 0;
    auto err = forEach(
        subject,
        [&](const RegexMatch& m) {
            out.pieces.emplace_back(subject.substr(from, m.begin() - from));
            from = m.end();
            return true;
        },
        false);
    if (err) {
        out.pieces.clear();
        out.error = std::move(err);
        return out;
    }
    out.pieces.emplace_back(subject.substr(from));
    return out;
}

std::string Regex::expandReplacement(std::string_view replacement, const RegexMatch& match) {
    std::string out;
    appendReplacement(out, parseReplacement(replacement), match);
    return out;
}

std::string_view RegexMatch::group(std::size_t i) const {
    if (!matched(i)) return {};
    std::size_t b = m_offsets[2 * i], e = m_offsets[2 * i + 1];
    if (e < b) return {};
    return m_subject.substr(b, e - b);
}

int RegexMatch::groupNumber(std::string_view name) const {
    return m_regex ? m_regex->groupNumber(name) : -1;
}

std::string_view RegexMatch::named(std::string_view name) const {
    int n = groupNumber(name);
    return n < 0 ? std::string_view{} : group(static_cast<std::size_t>(n));
}

std::size_t RegexMatch::codePointBegin(std::size_t i) const {
    if (!matched(i)) return npos;
    return utf8::length(m_subject.substr(0, m_offsets[2 * i]));
}

std::size_t RegexMatch::codePointLength(std::size_t i) const {
    if (!matched(i)) return npos;
    return utf8::length(group(i));
}

RegexLimits regexLimits() {
    return {g_matchLimit.load(), g_depthLimit.load(), g_heapLimit.load(), g_timeLimitMs.load()};
}

void setRegexLimits(const RegexLimits& limits) {
    g_matchLimit = limits.matchLimit;
    g_depthLimit = limits.depthLimit;
    g_heapLimit = limits.heapLimitKiB;
    g_timeLimitMs = limits.timeLimitMs;
}

RegexFirst regexFirst(std::string_view pattern, unsigned options, std::string_view subject) {
    auto c = Regex::compile(pattern, options);
    if (!c) return {std::nullopt, c.error};
    return c.regex->first(subject);
}

RegexAll regexAll(std::string_view pattern, unsigned options, std::string_view subject) {
    auto c = Regex::compile(pattern, options);
    if (!c) return {{}, c.error};
    return c.regex->all(subject);
}

RegexText regexReplace(std::string_view pattern, unsigned options, std::string_view subject,
                       std::string_view replacement, ReplaceSyntax syntax) {
    auto c = Regex::compile(pattern, options);
    if (!c) return {std::string(subject), c.error};
    return c.regex->replace(subject, replacement, syntax);
}

RegexPieces regexSplit(std::string_view pattern, unsigned options, std::string_view subject) {
    auto c = Regex::compile(pattern, options);
    if (!c) return {{}, c.error};
    return c.regex->split(subject);
}

}  // namespace tarvex::platform
