#pragma once
// "附件上传-高级设置": the task's upload settings ("other_UploadSet") — web upload (with the
// article, one by one first, as a batch first; pieces; its own address) or FTP (server, sign-in,
// base folder, passive mode) — with the two FTP test buttons, which run on a thread of their
// own while the window stays responsive. UI thread only.
#include <QDialog>

#include "platform/ports.h"
#include "publish/upload_settings.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace tarvex::ui {

class UploadSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // `json`: the task's current upload settings text ("" for the defaults). `programFolder`
    // holds the FTP test file. `dialogs` shows refusals and results and must outlive the window.
    UploadSettingsDialog(const std::string& json, std::string programFolder, platform::Dialogs& dialogs,
                         QWidget* parent = nullptr);

    // After "保存设置": the text to store; "" when "清空" was ticked.
    std::string json() const { return m_json; }
    publish::UploadSettings settings() const;
    void setSettings(const publish::UploadSettings& s);

    QGroupBox* webGroup() const { return m_web; }
    QGroupBox* ftpGroup() const { return m_ftp; }
    QCheckBox* clearBox() const { return m_clear; }
    QPlainTextEdit* testLog() const { return m_log; }

public slots:
    void save();
    void testConnection();
    void testUpload();

private:
    void setTesting(bool on);

    std::string m_programFolder;
    platform::Dialogs& m_dialogs;
    std::string m_json;

    QGroupBox* m_web;
    QRadioButton* m_withArticle;
    QRadioButton* m_singleFirst;
    QRadioButton* m_batchFirst;
    QCheckBox* m_pieces;
    QSpinBox* m_pieceSize;
    QLineEdit* m_webUrl;
    QGroupBox* m_ftp;
    QLineEdit* m_ftpIp;
    QSpinBox* m_ftpPort;
    QLineEdit* m_ftpUser;
    QLineEdit* m_ftpPass;
    QLineEdit* m_ftpDir;
    QCheckBox* m_passive;
    QPushButton* m_testConnection;
    QPushButton* m_testUpload;
    QPlainTextEdit* m_log;
    QCheckBox* m_clear;
};

}  // namespace tarvex::ui
