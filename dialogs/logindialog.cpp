#include "logindialog.h"

#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/displaytext.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

LoginDialog::LoginDialog(AuthManager *authManager, ApiClient *apiClient, QWidget *parent)
    : QDialog(parent), authManager(authManager), apiClient(apiClient)
{
    setWindowTitle(tr("TapTempest - 登录"));
    setFixedSize(380, 320);
    setupUi();
    connect(apiClient, &ApiClient::networkError, this, &LoginDialog::onNetworkError);
}

void LoginDialog::setupUi()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);

    auto *welcome = new QLabel(tr("欢迎使用 TapTempest"), this);
    // Colours come from the theme: each theme has its readable shade.
    welcome->setObjectName("welcomeLabel");
    welcome->setStyleSheet("font-size: 20px; font-weight: bold;");
    welcome->setAlignment(Qt::AlignCenter);
    layout->addWidget(welcome);

    auto *hint = new QLabel(tr("请使用 CoinVale 账号登录"), this);
    hint->setObjectName("hintLabel");
    hint->setStyleSheet("font-size: 13px;");
    hint->setAlignment(Qt::AlignCenter);
    layout->addWidget(hint);

    auto *group = new QGroupBox(this);
    group->setStyleSheet("QGroupBox { border: 1px solid #30363d; border-radius: 8px; "
                         "margin-top: 0; padding: 12px; }");
    auto *form = new QFormLayout(group);
    form->setSpacing(10);
    form->setContentsMargins(8, 8, 8, 8);

    usernameEdit = new QLineEdit(group);
    usernameEdit->setObjectName("usernameEdit");
    usernameEdit->setPlaceholderText(tr("请输入用户名"));
    usernameEdit->setMinimumHeight(30);
    usernameEdit->setAccessibleName(tr("用户名"));
    form->addRow(tr("用户名:"), usernameEdit);

    passwordEdit = new QLineEdit(group);
    passwordEdit->setObjectName("passwordEdit");
    passwordEdit->setPlaceholderText(tr("请输入密码"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setMinimumHeight(30);
    passwordEdit->setAccessibleName(tr("密码"));
    form->addRow(tr("密码:"), passwordEdit);
    layout->addWidget(group);

    errorLabel = new QLabel(this);
    errorLabel->setObjectName("errorLabel");
    errorLabel->setAlignment(Qt::AlignCenter);
    errorLabel->setTextFormat(Qt::PlainText);
    errorLabel->setStyleSheet("font-size: 13px;");
    errorLabel->hide();
    layout->addWidget(errorLabel);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    auto *cancelButton = new QPushButton(tr("取消"), this);
    cancelButton->setObjectName("secondaryButton");
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancelButton);

    loginButton = new QPushButton(tr("登录"), this);
    loginButton->setObjectName("primaryButton");
    // Otherwise the dialog makes "取消" the default and Return anywhere would cancel.
    loginButton->setDefault(true);
    connect(loginButton, &QPushButton::clicked, this, &LoginDialog::onLoginClicked);
    buttons->addWidget(loginButton);
    layout->addLayout(buttons);

    usernameEdit->installEventFilter(this);
    passwordEdit->installEventFilter(this);
}

void LoginDialog::onLoginClicked()
{
    const QString username = usernameEdit->text().trimmed();
    const QString password = passwordEdit->text();
    if (username.isEmpty() || password.isEmpty()) {
        errorLabel->setText(tr("用户名和密码不能为空"));
        errorLabel->show();
        return;
    }

    errorLabel->hide();
    loginButton->setEnabled(false);
    loginButton->setText(tr("登录中..."));
    QPointer<LoginDialog> self(this);
    apiClient->login(username, password,
                     [self](bool success, const QJsonObject &data, const QString &error) {
                         if (self)
                             self->onLoginSuccess(success, data, error);
                     });
}

void LoginDialog::onLoginSuccess(bool success, const QJsonObject &data, const QString &error)
{
    loginButton->setEnabled(true);
    loginButton->setText(tr("登录"));
    if (success) {
        authManager->handleLoginResponse(data);
        accept();
        return;
    }
    // The server's text may quote the name it was sent.
    const QString shown = DisplayText::clean(error);
    errorLabel->setText(shown.isEmpty() ? tr("登录失败，请检查用户名和密码") : shown);
    errorLabel->show();
}

void LoginDialog::onNetworkError(const QString &errorMessage)
{
    loginButton->setEnabled(true);
    loginButton->setText(tr("登录"));
    errorLabel->setText(tr("网络错误: %1").arg(DisplayText::clean(errorMessage)));
    errorLabel->show();
}

bool LoginDialog::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == passwordEdit || watched == usernameEdit) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // In the name field Return goes on to the password while that is still empty, as
            // forms usually do; with both filled it logs in.
            if (watched == usernameEdit && passwordEdit->text().isEmpty())
                passwordEdit->setFocus(Qt::TabFocusReason);
            else
                onLoginClicked();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
