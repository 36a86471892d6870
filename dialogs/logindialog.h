#pragma once

#include <QDialog>
#include <QJsonObject>

class AuthManager;
class ApiClient;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the CoinVale user name and password and logs in.
class LoginDialog : public QDialog
{
    Q_OBJECT

public:
    LoginDialog(AuthManager *authManager, ApiClient *apiClient, QWidget *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onLoginClicked();
    void onLoginSuccess(bool success, const QJsonObject &data, const QString &error);
    void onNetworkError(const QString &errorMessage);

private:
    void setupUi();

    AuthManager *authManager;
    ApiClient *apiClient;
    QLineEdit *usernameEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QPushButton *loginButton = nullptr;
    QLabel *errorLabel = nullptr;
};
