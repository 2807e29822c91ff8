#pragma once
// The progress of long command-line work. On a terminal: one line on standard error, redrawn in
// place ("[#########          ] 120/400 导出"), at most about ten times a second, and cleared
// before other output is printed. When standard error is not a terminal (a pipe, a log file,
// journald): plain lines, one at each further tenth of the way, so logs stay readable.
// Not thread-safe: callers on several threads hold their own lock around every call.
#include <chrono>
#include <iosfwd>
#include <string>

namespace tarvex::cli {

class ProgressLine {
public:
    // `terminal`: whether `err` writes to a terminal (isatty of its descriptor).
    ProgressLine(std::ostream& err, bool terminal);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Work from `first` to `total` (total <= first: the size is not known). Setting the same
    // range again changes nothing.
    void setRange(long long first, long long total);
    // Reached `current`; `label` says what is being done (shown after the figures).
    void update(long long current, const std::string& label);
    // Keeps the figures, changes the text.
    void setLabel(const std::string& label);
    // Prints a line of other output without tearing the progress line.
    void printLine(std::ostream& out, const std::string& line);
    // Clears the progress line (a terminal) before the final output.
    void finish();

    // Whether standard error (descriptor 2) is a terminal.
    static bool stderrIsTerminal();

private:
    void draw(bool force);
    void clear();

    std::ostream& m_err;
    bool m_terminal;
    bool m_drawn = false;
    long long m_first = 0, m_total = 0, m_current = 0;
    int m_tenthShown = -1;
    std::string m_label;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace tarvex::cli
