#include "Platform/InfoDictionary.h"

#include "BuildInfo.h"

namespace InfoDictionary {

namespace {
QString withoutTrailingSlash(QString text)
{
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}
} // namespace

QString value(const QString &key)
{
    if (key == QLatin1String("CFBundleShortVersionString"))
        return QStringLiteral(QUORVEL_VERSION_STRING);
    if (key == QLatin1String("CFBundleVersion"))
        return QStringLiteral(QUORVEL_BUILD_NUMBER_STRING);
    if (key == QLatin1String("SUFeedURL"))
        return QStringLiteral(QUORVEL_FEED_URL_STRING);
    return {};
}

QString shortVersion()
{
    return value(QStringLiteral("CFBundleShortVersionString"));
}

QString buildNumber()
{
    return value(QStringLiteral("CFBundleVersion"));
}

QString webHost()
{
    return withoutTrailingSlash(QStringLiteral(QUORVEL_WEB_HOST_STRING));
}

QString analyticsHost()
{
    return withoutTrailingSlash(QStringLiteral(QUORVEL_ANALYTICS_HOST_STRING));
}

} // namespace InfoDictionary
