#pragma once
// The source pane of the rule windows: the page of a test address fetched the way the task
// fetches (the window hands in the fetch), shown as text with line numbers and a search box;
// the text selected in it can be taken as a rule's front or back text, and the places the rule
// being typed matches are highlighted with their count. What matches is worked out by the core
// (app/rule_preview.h); this widget only shows it. UI thread only.
#include <QPlainTextEdit>
#include <QWidget>
#include <functional>
#include <string>

#include "app/forms/rule_preview.h"
#include "app/forms/rule_test.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvex::ui {

// A read-only text view with line numbers in a margin.
class NumberedTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit NumberedTextView(QWidget* parent = nullptr);
    int numberAreaWidth() const;
    void paintNumbers(QPaintEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* m_numbers;
};

class SourcePane : public QWidget {
    Q_OBJECT
public:
    using Fetch = std::function<app::TestPage(const std::string& url)>;
    explicit SourcePane(QWidget* parent = nullptr);

    void setFetch(Fetch fetch) { m_fetch = std::move(fetch); }
    void setAddress(const std::string& url);
    std::string address() const;

    // The page as fetched (for the core's tests) and as shown (LF line ends; what the
    // highlight ranges count in). Empty before a page was loaded.
    const std::string& rawPage() const { return m_raw; }
    const std::string& shownText() const { return m_shown; }
    // The address the shown page came from.
    const std::string& loadedAddress() const { return m_loaded; }
    // Shows a page without fetching (the window may already hold one).
    void showPage(const std::string& address, const std::string& page);

    // Highlights the ranges (and a surrounding area in a lighter colour) and shows the summary.
    void showPreview(const app::RulePreview& preview);
    // The selection with line breaks as CR LF, as rule texts store them.
    std::string selectedRuleText() const;

    NumberedTextView* view() const { return m_view; }
    QLineEdit* addressEdit() const { return m_address; }
    QLineEdit* searchEdit() const { return m_search; }
    QLabel* countLabel() const { return m_count; }
    QPushButton* frontButton() const { return m_front; }
    QPushButton* backButton() const { return m_back; }

public slots:
    // Fetches the address box's page; a failure is shown in the pane's status line.
    void load();
    // Selects the next place of the search text (wrapping round); false when there is none.
    bool findNext();

signals:
    void pageLoaded();
    // The selected text for "设为前边字符" / "设为后边字符".
    void frontChosen(const std::string& text);
    void backChosen(const std::string& text);

private:
    Fetch m_fetch;
    std::string m_raw, m_shown, m_loaded;
    NumberedTextView* m_view;
    QLineEdit* m_address;
    QLineEdit* m_search;
    QLabel* m_status;
    QLabel* m_count;
    QPushButton* m_front;
    QPushButton* m_back;
};

}  // namespace tarvex::ui
