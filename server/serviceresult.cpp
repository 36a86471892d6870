#include "serviceresult.h"

namespace {

ServiceResult withMessage(ServiceResult::Status status, const QString &message)
{
    ServiceResult result;
    result.status = status;
    result.message = message;
    return result;
}

} // namespace

ServiceResult ServiceResult::ok(const QJsonObject &data)
{
    ServiceResult result;
    result.data = data;
    return result;
}

ServiceResult ServiceResult::refused(const QString &message)
{
    return withMessage(Status::Refused, message);
}

ServiceResult ServiceResult::unauthorized(const QString &message)
{
    return withMessage(Status::Unauthorized, message);
}

ServiceResult ServiceResult::conflict(const QString &message)
{
    return withMessage(Status::Conflict, message);
}

ServiceResult ServiceResult::failed()
{
    return withMessage(Status::Failed, QStringLiteral("服务器内部错误，请稍后再试"));
}
