#pragma once
// The visual editor "Tarvex采集编辑器": the page "Plugin/kindeditor/index2.html" with one text
// area per collected field (the field "内容" in the rich editor), shown in Qt WebEngine. When
// the window closes the values are read back from the page. UI thread only.
#include <QDialog>
#include <optional>
#include <string>

#include "app/single_page/single_page.h"

class QWebEngineView;

namespace tarvex::ui {

class VisualEditorDialog : public QDialog {
    Q_OBJECT
public:
    // `values`: the values the page was written with, in field order.
    VisualEditorDialog(const std::string& pagePath, app::FieldValues values, QWidget* parent = nullptr);

    QWebEngineView* webView() const { return m_web; }
    bool isLoaded() const { return m_loaded; }
    // The values read back when the window closed; nullopt when the page could not answer (the
    // values are then kept as they were).
    const std::optional<app::FieldValues>& result() const { return m_result; }
    // Reads the page's values now (waits for the page, at most a few seconds).
    std::optional<app::FieldValues> readValues();

    void done(int r) override;

private:
    QWebEngineView* m_web;
    app::FieldValues m_values;
    std::optional<app::FieldValues> m_result;
    bool m_loaded = false;
    bool m_read = false;
};

}  // namespace tarvex::ui
