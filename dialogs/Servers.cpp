#include "dialogs/Servers.h"

#include "engine/ServerList.h"
#include "i18n/Translate.h"
#include "platform/IntConv.h"
#include "shell/AppConfig.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

#include <exception>

namespace qrv::gui {

using engine::TField;
using engine::TServerList;

namespace {

constexpr int kLabelLeft = 32;
constexpr int kInputLeft = 152;
constexpr int kInputWidth = 193;
constexpr int kEditHeight = 21;

// The record keeps line breaks as CR LF; the text box shows any of CR LF, CR or LF as one.
QString ResponseToMemo(const std::string& stored) {
    QString text = QString::fromStdString(stored);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// Lines joined by CR LF, nothing added after the last one. The raw text keeps every character
// as typed (the plain-text form would turn non-breaking spaces into blanks).
std::string MemoToResponse(const QPlainTextEdit& memo) {
    QString text = memo.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    text.replace(QChar::LineSeparator, QLatin1String("\r\n"));
    return text.toStdString();
}

} // namespace

TFormServers::TFormServers(TServerList& setServer, QTimer& timerCheck, QWidget* mainForm)
    : TFixedDialog(mainForm, 383, 327), setServer_(setServer), timerCheck_(timerCheck),
      mainForm_(mainForm) {
    setObjectName(QStringLiteral("FormServers"));

    labelTitle = AddLabel("labelTitle", "", QRect(144, 8, 200, 23)); // set at each opening
    QFont titleFont(QStringLiteral("Tahoma"));
    titleFont.setPixelSize(19);
    labelTitle->setFont(titleFont);

    labelName = AddLabel("labelName", "Server name", QRect(kLabelLeft, 53, 100, 13));
    labelURL = AddLabel("labelURL", "Url", QRect(kLabelLeft, 80, 100, 13));
    labelTimeout = AddLabel("labelTimeout", "Timeout", QRect(kLabelLeft, 120, 100, 13));
    labelTimeoutEnabled =
        AddLabel("labelTimeoutEnabled", "Timeout enabled", QRect(kLabelLeft, 145, 100, 13));
    labelResponse = AddLabel("labelResponse", "Response", QRect(kLabelLeft, 187, 100, 13));
    labelResponseEnabled =
        AddLabel("labelResponseEnabled", "Response enabled", QRect(kLabelLeft, 233, 100, 13));

    editName = new QLineEdit(this);
    editName->setObjectName(QStringLiteral("editName"));
    editName->setGeometry(kInputLeft, 49, kInputWidth, kEditHeight);

    editURL = new QLineEdit(this);
    editURL->setObjectName(QStringLiteral("editURL"));
    editURL->setGeometry(kInputLeft, 76, kInputWidth, kEditHeight);

    editTimeout = new QLineEdit(this);
    editTimeout->setObjectName(QStringLiteral("editTimeout"));
    editTimeout->setGeometry(kInputLeft, 116, kInputWidth, kEditHeight);

    checkboxTimeout = new QCheckBox(this);
    checkboxTimeout->setObjectName(QStringLiteral("checkboxTimeout"));
    checkboxTimeout->setGeometry(kInputLeft, 143, 17, 17);

    memoResponse = new QPlainTextEdit(this);
    memoResponse->setObjectName(QStringLiteral("memoResponse"));
    memoResponse->setGeometry(kInputLeft, 183, kInputWidth, 42);
    memoResponse->setTabChangesFocus(true);

    checkboxResponse = new QCheckBox(this);
    checkboxResponse->setObjectName(QStringLiteral("checkboxResponse"));
    checkboxResponse->setGeometry(kInputLeft, 231, 17, 17);

    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttonCancel->setObjectName(QStringLiteral("buttonCancel"));
    buttonCancel->setGeometry(kInputLeft, 281, 75, 25);
    buttonCancel->setAutoDefault(false);

    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonOK->setObjectName(QStringLiteral("buttonOK"));
    buttonOK->setGeometry(270, 281, 75, 25);
    buttonOK->setAutoDefault(false);

    setTabOrder(editName, editURL);
    setTabOrder(editURL, editTimeout);
    setTabOrder(editTimeout, checkboxTimeout);
    setTabOrder(checkboxTimeout, checkboxResponse);
    setTabOrder(checkboxResponse, buttonCancel);
    setTabOrder(buttonCancel, buttonOK);
    setTabOrder(buttonOK, memoResponse);

    // Clicks, the space bar and programmatic changes all go through `toggled`.
    connect(checkboxTimeout, &QCheckBox::toggled, this, [this] { checkboxTimeoutClick(); });
    connect(checkboxResponse, &QCheckBox::toggled, this, [this] { checkboxResponseClick(); });
    connect(buttonOK, &QPushButton::clicked, this, [this] { buttonOKClick(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] { buttonCancelClick(); });

    TranslateWindow(this);
}

TFormServers::~TFormServers() = default;

void TFormServers::SetCaption(const std::string& text) {
    const QString caption = Tr(text);
    setWindowTitle(caption);
    labelTitle->setText(caption);
    FitLabels();
}

void TFormServers::PrepareAdd() {
    Guarded([this] {
        SetCaption("Add new server");
        editorMode_ = "add";
        editName->setText(Tr("New server name"));
        editURL->setText(QStringLiteral("http://"));
        editTimeout->setText(QStringLiteral("500"));
        checkboxTimeout->setChecked(true);
        checkboxTimeoutClick();
        memoResponse->setPlainText(QStringLiteral("OK"));
        memoResponse->setEnabled(false);
        checkboxResponse->setChecked(false);
        checkboxResponseClick();

        timerCheck_.stop();
        if (mainForm_ != nullptr) {
            mainForm_->setEnabled(false);
        }
        FocusName();
        show();
    });
}

void TFormServers::PrepareEdit() {
    Guarded([this] {
        if (mainForm_ != nullptr) {
            mainForm_->setEnabled(false);
        }
        timerCheck_.stop();

        SetCaption("Edit server");
        editorMode_ = "edit";
        editName->setText(QString::fromStdString(setServer_.AsString(TField::Name)));
        editURL->setText(QString::fromStdString(setServer_.AsString(TField::Url)));
        editTimeout->setText(setServer_.IsNull(TField::Timeout)
                                 ? QString()
                                 : QString::number(setServer_.AsInteger(TField::Timeout)));
        checkboxTimeout->setChecked(setServer_.AsBoolean(TField::TimeoutEnabled));
        checkboxTimeoutClick();
        memoResponse->setPlainText(ResponseToMemo(setServer_.AsString(TField::Response)));
        checkboxResponse->setChecked(setServer_.AsBoolean(TField::ResponseEnabled));
        checkboxResponseClick();

        FocusName();
        show();
    });
}

void TFormServers::checkboxTimeoutClick() {
    editTimeout->setEnabled(checkboxTimeout->isChecked());
}

void TFormServers::checkboxResponseClick() {
    memoResponse->setEnabled(checkboxResponse->isChecked());
}

void TFormServers::buttonOKClick() {
    Guarded([this] {
        std::string errors;
        if (editName->text().isEmpty()) {
            errors += i18n::TranslateText("Enter server name") + "\r";
        }
        const bool https = shell::AppConfig().HttpsEnabled;
        if (!shell::AcceptsAddress(editURL->text().toStdString(), https)) {
            errors += i18n::TranslateText("Enter valid URL") + "\r";
        }
        const auto timeout = platform::StrToInt(editTimeout->text().toStdString());
        if (!timeout || *timeout < 1) {
            errors += i18n::TranslateText("Enter valid timeout value") + "\r";
        }
        if (!errors.empty()) {
            ShowFormError(this, errors);
            return;
        }

        const auto setFields = [&] {
            setServer_.SetString(TField::Name, editName->text().toStdString());
            setServer_.SetString(TField::Url, editURL->text().toStdString());
            setServer_.SetInteger(TField::Timeout, *timeout);
            setServer_.SetBoolean(TField::TimeoutEnabled, checkboxTimeout->isChecked());
            setServer_.SetString(TField::Response, MemoToResponse(*memoResponse));
            setServer_.SetBoolean(TField::ResponseEnabled, checkboxResponse->isChecked());
        };
        try {
            if (editorMode_ == "edit") {
                setServer_.Edit();
                setFields();
                setServer_.Post();
            } else if (editorMode_ == "add") {
                setServer_.Append();
                setFields();
                setServer_.SetString(TField::Result, i18n::TranslateText("Waiting..."));
                setServer_.SetInteger(TField::LoadTime, -1);
                setServer_.SetString(TField::Status, "");
                setServer_.SetBoolean(TField::Active, true);
                setServer_.Post();
            }
        } catch (...) {
            // The editor stays open; a refused change must not stay pending in the list,
            // where the next edit or check run would trip over it.
            if (setServer_.State() == TServerList::TState::Edit ||
                setServer_.State() == TServerList::TState::Insert) {
                setServer_.Cancel();
            }
            throw;
        }
        Resume();
    });
}

void TFormServers::buttonCancelClick() {
    Guarded([this] { Resume(); });
}

void TFormServers::FocusName() {
    // The editor is only hidden between openings, and a hidden window keeps its focus: after a
    // click on OK the next opening would start on OK, where the first space typed presses it.
    editName->setFocus(Qt::OtherFocusReason);
    editName->selectAll();
}

void TFormServers::Resume() {
    if (mainForm_ != nullptr) {
        mainForm_->setEnabled(true);
    }
    timerCheck_.start();
    hide();
}

} // namespace qrv::gui
