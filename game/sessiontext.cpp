#include "sessiontext.h"

QString SessionText::synced()
{
    return QStringLiteral("已同步到服务器");
}

QString SessionText::offline()
{
    return QStringLiteral("网络离线: 点击将在恢复后同步");
}

QString SessionText::loadFailed(const QString &error)
{
    return QStringLiteral("加载用户数据失败: ") + error;
}

QString SessionText::expired()
{
    return QStringLiteral("登录已过期，请重新登录");
}

QString SessionText::exchanged(qint64 goldGained)
{
    return QStringLiteral("兑换成功: +%1 金币").arg(goldGained);
}

QString SessionText::deposited(qint64 yuan)
{
    return QStringLiteral("存入成功: +%1 元").arg(yuan);
}
