#include "sessiontext.h"

#include <QCoreApplication>

QString SessionText::synced()
{
    return QCoreApplication::translate("SessionText", "已同步到服务器");
}

QString SessionText::offline()
{
    return QCoreApplication::translate("SessionText", "网络离线: 点击将在恢复后同步");
}

QString SessionText::loadFailed(const QString &error)
{
    return QCoreApplication::translate("SessionText", "加载用户数据失败: %1").arg(error);
}

QString SessionText::expired()
{
    return QCoreApplication::translate("SessionText", "登录已过期，请重新登录");
}

QString SessionText::exchanged(qint64 goldGained)
{
    return QCoreApplication::translate("SessionText", "兑换成功: +%1 金币").arg(goldGained);
}

QString SessionText::deposited(qint64 yuan)
{
    return QCoreApplication::translate("SessionText", "存入成功: +%1 元").arg(yuan);
}
