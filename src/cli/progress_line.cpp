#include "cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>

namespace tarvex::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

int terminalColumns() {
    winsize ws{};
    if (::ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

// The head of a UTF-8 text that fits `columns` terminal cells (East Asian characters take two),
// so the line never wraps and "clear the line" clears all of it.
std::string fitColumns(const std::string& text, int columns) {
    int used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const int cells = lead >= 0xE1 ? 2 : 1;  // U+1000 and above: CJK and other wide scripts
        if (used + cells > columns) break;
        used += cells;
        i += len;
    }
    return text.substr(0, std::min(i, text.size()));
}
}  // namespace

ProgressLine::ProgressLine(std::ostream& err, bool terminal) : m_err(err), m_terminal(terminal) {}

ProgressLine::~ProgressLine() {
    clear();
}

bool ProgressLine::stderrIsTerminal() {
    return ::isatty(2) == 1;
}

void ProgressLine::setRange(long long first, long long total) {
    if (first == m_first && total == m_total) return;
    m_first = first;
    m_total = total;
    m_current = first;
    m_tenthShown = -1;
}

void ProgressLine::update(long long current, const std::string& label) {
    m_current = current;
    m_label = label;
    draw(false);
}

void ProgressLine::setLabel(const std::string& label) {
    m_label = label;
    draw(false);
}

void ProgressLine::printLine(std::ostream& out, const std::string& line) {
    clear();
    out << line << std::endl;
    draw(true);
}

void ProgressLine::finish() {
    clear();
}

void ProgressLine::clear() {
    if (m_terminal && m_drawn) m_err << "\r\033[K" << std::flush;
    m_drawn = false;
}

void ProgressLine::draw(bool force) {
    const long long span = m_total - m_first;
    const long long done = std::clamp(m_current - m_first, 0LL, std::max(span, 0LL));
    if (!m_terminal) {
        // A plain line each time another tenth is reached; nothing while the size is unknown.
        if (span <= 0) return;
        const int tenth = static_cast<int>(done * 10 / span);
        if (tenth <= m_tenthShown || done == 0) return;
        m_tenthShown = tenth;
        m_err << m_current << "/" << m_total << (m_label.empty() ? "" : " ") << m_label << std::endl;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const bool last = span > 0 && done == span;
    if (!force && !last && m_drawn && now - m_lastDraw < kRedrawInterval) return;
    m_lastDraw = now;
    std::string line;
    if (span > 0) {
        const int filled = static_cast<int>(done * kBarWidth / span);
        line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] " + std::to_string(m_current) + "/" +
               std::to_string(m_total);
    } else {
        line = std::to_string(m_current);
    }
    if (!m_label.empty()) line += " " + m_label;
    m_err << "\r\033[K" << fitColumns(line, terminalColumns() - 1) << std::flush;
    m_drawn = true;
}

}  // namespace tarvex::cli
