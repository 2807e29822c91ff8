#include "ui/forms/upload_settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/forms/background_work.h"
#include "engine/field_rule.h"
#include "publish/ftp_upload.h"
#include "ui/qt/qt_text.h"

namespace tarvex::ui {

namespace {
int number(const std::string& text, int fallback) {
    auto v = engine::ParseInteger(text);
    return v ? static_cast<int>(*v) : fallback;
}
}  // namespace

UploadSettingsDialog::UploadSettingsDialog(const std::string& json, std::string programFolder,
                                           platform::Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_programFolder(std::move(programFolder)), m_dialogs(dialogs) {
    setWindowTitle("附件上传-高级设置");
    setObjectName("UploadSettingsDialog");

    m_web = new QGroupBox("Web发布");
    m_web->setObjectName("web_check");
    m_web->setCheckable(true);
    m_withArticle = new QRadioButton("发布文章同时上传附件");
    m_singleFirst = new QRadioButton("先上传附件(单独)再发布文章");
    m_batchFirst = new QRadioButton("先上传附件(批量)再发布文章");
    auto* choice = new QButtonGroup(this);
    for (auto* r : {m_withArticle, m_singleFirst, m_batchFirst}) choice->addButton(r);
    m_pieces = new QCheckBox("启用分片上传,分片大小:");
    m_pieces->setObjectName("web_checkpart");
    m_pieceSize = new QSpinBox;
    m_pieceSize->setRange(1, 1024 * 1024);
    m_pieceSize->setSuffix(" KB");
    m_webUrl = new QLineEdit;
    m_webUrl->setPlaceholderText("http://");
    auto* pieceRow = new QHBoxLayout;
    pieceRow->addWidget(m_pieces);
    pieceRow->addWidget(m_pieceSize);
    pieceRow->addStretch(1);
    auto* webLay = new QVBoxLayout(m_web);
    webLay->addWidget(m_withArticle);
    webLay->addWidget(m_singleFirst);
    webLay->addLayout(pieceRow);
    webLay->addWidget(m_batchFirst);
    auto* urlRow = new QHBoxLayout;
    urlRow->addWidget(new QLabel("远程接口网址:"));
    urlRow->addWidget(m_webUrl, 1);
    webLay->addLayout(urlRow);
    auto* hint = new QLabel("(此处接口网址留空即为使用发布接口网址)");
    hint->setEnabled(false);
    webLay->addWidget(hint);
    webLay->addStretch(1);
    // Pieces only apply to one-by-one uploads.
    auto pieceState = [this] {
        m_pieces->setEnabled(m_singleFirst->isChecked());
        m_pieceSize->setEnabled(m_singleFirst->isChecked() && m_pieces->isChecked());
    };
    connect(m_singleFirst, &QRadioButton::toggled, this, pieceState);
    connect(m_pieces, &QCheckBox::toggled, this, pieceState);

    m_ftp = new QGroupBox("FTP发布");
    m_ftp->setObjectName("ftp_check");
    m_ftp->setCheckable(true);
    m_ftpIp = new QLineEdit;
    m_ftpPort = new QSpinBox;
    m_ftpPort->setRange(1, 65535);
    m_ftpUser = new QLineEdit;
    m_ftpPass = new QLineEdit;
    m_ftpPass->setEchoMode(QLineEdit::Password);
    m_ftpDir = new QLineEdit;
    m_passive = new QCheckBox("被动模式");
    m_testConnection = new QPushButton("测试连接");
    m_testUpload = new QPushButton("测试上传附件");
    m_log = new QPlainTextEdit;
    m_log->setReadOnly(true);
    m_log->setMinimumHeight(90);
    auto* ftpForm = new QFormLayout;
    ftpForm->addRow("FTP地址:", m_ftpIp);
    ftpForm->addRow("FTP端口:", m_ftpPort);
    ftpForm->addRow("用户名:", m_ftpUser);
    ftpForm->addRow("密码:", m_ftpPass);
    ftpForm->addRow("相对目录:", m_ftpDir);
    ftpForm->addRow("", m_passive);
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(m_testConnection);
    testRow->addWidget(m_testUpload);
    testRow->addStretch(1);
    auto* ftpLay = new QVBoxLayout(m_ftp);
    ftpLay->addLayout(ftpForm);
    ftpLay->addLayout(testRow);
    ftpLay->addWidget(new QLabel("FTP测试日志:"));
    ftpLay->addWidget(m_log, 1);

    m_clear = new QCheckBox("清空");
    m_clear->setToolTip("保存时清空本任务的附件上传设置");
    auto* saveButton = new QPushButton("保存设置");
    saveButton->setObjectName("save");
    saveButton->setDefault(true);
    auto* back = new QPushButton("返回");
    back->setObjectName("back");
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_clear);
    bottom->addStretch(1);
    bottom->addWidget(saveButton);
    bottom->addWidget(back);

    auto* groups = new QHBoxLayout;
    groups->addWidget(m_web, 1);
    groups->addWidget(m_ftp, 1);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(groups, 1);
    lay->addLayout(bottom);
    resize(780, 420);

    connect(saveButton, &QPushButton::clicked, this, &UploadSettingsDialog::save);
    connect(back, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_testConnection, &QPushButton::clicked, this, &UploadSettingsDialog::testConnection);
    connect(m_testUpload, &QPushButton::clicked, this, &UploadSettingsDialog::testUpload);

    setSettings(publish::ReadUploadSettings(json, publish::UploadDialogDefaults()));
}

void UploadSettingsDialog::setSettings(const publish::UploadSettings& v) {
    const publish::UploadSettings defaults = publish::UploadDialogDefaults();
    m_web->setChecked(v.webCheck);
    // One choice of three; a stored text with none or several ticked shows the first that is.
    (v.webCheck3 ? m_batchFirst : v.webCheck2 ? m_singleFirst : m_withArticle)->setChecked(true);
    m_pieces->setChecked(v.webCheckPart);
    m_pieceSize->setValue(std::max(1, number(v.webPartSize, number(defaults.webPartSize, 1))));
    m_webUrl->setText(qstr(v.webUrl));
    m_ftp->setChecked(v.ftpCheck);
    m_ftpIp->setText(qstr(v.ftpIp));
    m_ftpPort->setValue(std::clamp(number(v.ftpPort, 21), 1, 65535));
    m_ftpUser->setText(qstr(v.ftpUser));
    m_ftpPass->setText(qstr(v.ftpPass));
    m_ftpDir->setText(qstr(v.ftpDir));
    m_passive->setChecked(v.ftpPassive);
}

publish::UploadSettings UploadSettingsDialog::settings() const {
    publish::UploadSettings v;
    v.webCheck = m_web->isChecked();
    v.webCheck1 = m_withArticle->isChecked();
    v.webCheck2 = m_singleFirst->isChecked();
    v.webCheck3 = m_batchFirst->isChecked();
    v.webCheckPart = m_pieces->isChecked();
    v.webPartSize = std::to_string(m_pieceSize->value());
    v.webUrl = stdstr(m_webUrl->text());
    v.ftpCheck = m_ftp->isChecked();
    v.ftpIp = stdstr(m_ftpIp->text());
    v.ftpPort = std::to_string(m_ftpPort->value());
    v.ftpUser = stdstr(m_ftpUser->text());
    v.ftpPass = stdstr(m_ftpPass->text());
    v.ftpDir = stdstr(m_ftpDir->text());
    v.ftpPassive = m_passive->isChecked();
    return v;
}

void UploadSettingsDialog::save() {
    const publish::UploadSettings v = settings();
    if (m_clear->isChecked()) {
        m_json.clear();
        accept();
        return;
    }
    if (auto refusal = publish::UploadSettingsRefusal(v)) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return;
    }
    m_json = publish::ComposeUploadSettings(v);
    accept();
}

void UploadSettingsDialog::setTesting(bool on) {
    m_testConnection->setEnabled(!on);
    m_testUpload->setEnabled(!on);
    setCursor(on ? Qt::BusyCursor : Qt::ArrowCursor);
}

void UploadSettingsDialog::testConnection() {
    const publish::UploadSettings v = settings();
    std::string result;
    setTesting(true);
    app::RunResponsive(
        [&](const std::atomic<bool>& cancel) {
            result = publish::FtpTestConnection(v, [&cancel] { return cancel.load(); });
        },
        [] { QCoreApplication::processEvents(); });
    setTesting(false);
    m_dialogs.message(result, platform::kAppTitle);
}

void UploadSettingsDialog::testUpload() {
    const publish::UploadSettings v = settings();
    publish::FtpTestResult result;
    setTesting(true);
    m_log->clear();
    app::RunResponsive(
        [&](const std::atomic<bool>& cancel) {
            result = publish::FtpTestUpload(v, m_programFolder, [&cancel] { return cancel.load(); });
        },
        [] { QCoreApplication::processEvents(); });
    setTesting(false);
    m_log->setPlainText(qstr(result.log));
    m_dialogs.message(result.message, platform::kAppTitle);
}

}  // namespace tarvex::ui
