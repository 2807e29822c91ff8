#pragma once
// The system clipboard as the core sees it: one text. The GUI answers with QClipboard on the
// UI thread; tests and tarvex-cli use MemoryClipboard.
#include <string>

namespace tarvex::app {

class ClipboardPort {
public:
    virtual ~ClipboardPort() = default;
    // The clipboard's text; "" when it holds no text.
    virtual std::string text() = 0;
    virtual void setText(const std::string& text) = 0;
};

// A clipboard that lives in memory, for headless callers and tests.
class MemoryClipboard final : public ClipboardPort {
public:
    std::string text() override { return m_text; }
    void setText(const std::string& text) override { m_text = text; }

private:
    std::string m_text;
};

}  // namespace tarvex::app
