#pragma once
// The user guide (docs/guide, installed with the program) in a window of its own, opened by F1
// at the chapter of the window the user is in, and the About box. UI thread only.
#include <QDialog>
#include <QString>
#include <QStringList>

class QListWidget;
class QTextBrowser;

namespace tarvex::ui {

// The folder of the guide: $TARVEX_GUIDE_DIR when set, else the installed copy beside the
// executable (<prefix>/share/doc/tarvex/guide), else the source tree's docs/guide. "" when
// none holds an index.md.
QString guideFolder();

// The chapter file (e.g. "02-list-rules.md") that explains `window` as it is now: the window's
// class, and for some windows the tab that is open.
QString chapterFor(const QWidget* window);

// The guide's chapters in reading order, as file names, with their titles.
struct GuideChapter {
    const char* file;
    const char* title;
};
const std::vector<GuideChapter>& guideChapters();

class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);
    // Shows `chapter` (a file of guideChapters()); false when the guide is not installed.
    bool showChapter(const QString& chapter);
    QString currentChapter() const;
    QTextBrowser* browser() const { return m_browser; }

private:
    void fitPictures();

    QListWidget* m_chapters = nullptr;
    QTextBrowser* m_browser = nullptr;
};

// Opens the guide at the chapter for the window `from` belongs to (one guide window at a
// time; it belongs to that window so it can be used while a modal dialog is open). When the
// guide is missing, says where it was looked for. Returns the window shown, or nullptr.
HelpWindow* showGuide(QWidget* from);
// The guide window open now, nullptr when none.
HelpWindow* openGuide();

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

QString programVersion();

}  // namespace tarvex::ui
