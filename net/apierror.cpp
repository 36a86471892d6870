#include "apierror.h"

#include <QCoreApplication>
#include <QNetworkReply>

namespace {

QString transferText(QNetworkReply::NetworkError error, int status, const QString &reason,
                     const QString &errorString, bool isPost)
{
    if (error == QNetworkReply::OperationCanceledError)
        return QCoreApplication::translate("ApiError", "请求超时，请检查网络连接");
    if (error > 99 || status != 0) {
        if (status == 403)
            return QCoreApplication::translate("ApiError", "访问被拒绝 (403)");
        if (status == 404)
            return QCoreApplication::translate("ApiError", "请求的资源不存在 (404)");
        if (status == 401)
            return QCoreApplication::translate("ApiError", "需要登录或Token无效 (401)");
        if (status >= 400 && status <= 499)
            return QCoreApplication::translate("ApiError", "客户端错误 (HTTP %1) %2")
                .arg(status)
                .arg(reason);
        if (status > 499)
            return QCoreApplication::translate("ApiError", "服务器错误 (HTTP %1) %2")
                .arg(status)
                .arg(reason);
        return QCoreApplication::translate("ApiError", "请求失败 (%1)").arg(errorString);
    }
    if (isPost && error == QNetworkReply::RemoteHostClosedError)
        return QCoreApplication::translate("ApiError", "服务器已关闭连接");
    if (error == QNetworkReply::HostNotFoundError)
        return QCoreApplication::translate("ApiError", "DNS解析失败，无法找到服务器");
    if (error == QNetworkReply::ConnectionRefusedError)
        return QCoreApplication::translate("ApiError", "服务器拒绝连接，请检查服务器是否在线");
    return QCoreApplication::translate("ApiError", "网络错误 (%1): %2")
        .arg(static_cast<int>(error))
        .arg(errorString);
}

ApiError::Kind transferKind(QNetworkReply::NetworkError error, int status)
{
    using Kind = ApiError::Kind;
    if (error == QNetworkReply::OperationCanceledError)
        return Kind::Timeout;
    if (status >= 400)
        return Kind::HttpStatus;
    switch (error) {
    case QNetworkReply::RemoteHostClosedError:
        return status == 0 ? Kind::NoReply : Kind::Transfer;
    case QNetworkReply::SslHandshakeFailedError:
        return Kind::Tls;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return Kind::Unreachable;
    default:
        return Kind::Transfer;
    }
}

} // namespace

ApiError ApiError::transfer(int code, int httpStatus, const QString &reason,
                            const QString &errorString, bool isPost)
{
    const auto error = static_cast<QNetworkReply::NetworkError>(code);
    return ApiError(transferKind(error, httpStatus), httpStatus, QString(),
                    transferText(error, httpStatus, reason, errorString, isPost));
}

ApiError ApiError::tooLarge(qint64 limitBytes)
{
    return ApiError(
        Kind::TooLarge, 0, QString(),
        QCoreApplication::translate("ApiError", "服务器响应过大 (超过 %1 MiB)，请求已中止")
            .arg(limitBytes / (1024 * 1024)));
}

ApiError ApiError::redirectRefused(int httpStatus, const QString &where)
{
    return ApiError(Kind::RedirectRefused, httpStatus, QString(),
                    QCoreApplication::translate("ApiError", "服务器重定向到其他地址 (%1 → %2)")
                        .arg(httpStatus)
                        .arg(where));
}

ApiError ApiError::badReply(int httpStatus, const QByteArray &body)
{
    return ApiError(Kind::BadReply, httpStatus, QString(),
                    QCoreApplication::translate("ApiError", "服务器响应格式错误 (HTTP %1): %2")
                        .arg(httpStatus)
                        .arg(QString::fromUtf8(body).left(200)));
}

ApiError ApiError::badFigures()
{
    return ApiError(Kind::BadReply, 200, QString(),
                    QCoreApplication::translate("ApiError", "服务器返回的数据无效"));
}

ApiError ApiError::refused(const QJsonValue &message, int httpStatus)
{
    // An empty message is the server's own choice and is kept as it is.
    const QString text = message.isString() ? message.toString()
                                            : QCoreApplication::translate("ApiError", "未知错误");
    return ApiError(Kind::Refused, httpStatus, message.toString(), text);
}
