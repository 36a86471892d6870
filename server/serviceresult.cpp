#include "serviceresult.h"

ServiceResult ServiceResult::ok(const QJsonObject &data)
{
    ServiceResult result;
    result.data = data;
    return result;
}

ServiceResult ServiceResult::refused(const QString &message)
{
    ServiceResult result;
    result.status = Status::Refused;
    result.message = message;
    return result;
}

ServiceResult ServiceResult::unauthorized(const QString &message)
{
    ServiceResult result;
    result.status = Status::Unauthorized;
    result.message = message;
    return result;
}

ServiceResult ServiceResult::conflict(const QString &message)
{
    ServiceResult result;
    result.status = Status::Conflict;
    result.message = message;
    return result;
}

ServiceResult ServiceResult::failed()
{
    ServiceResult result;
    result.status = Status::Failed;
    result.message = QStringLiteral("服务器内部错误，请稍后再试");
    return result;
}
