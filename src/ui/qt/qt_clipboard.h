#pragma once
// The clipboard port over QClipboard. UI thread only.
#include "app/clipboard_port.h"

namespace tarvex::ui {

class QtClipboard final : public app::ClipboardPort {
public:
    std::string text() override;
    void setText(const std::string& text) override;
};

}  // namespace tarvex::ui
