// KUMO parameter replies are web replies: the body of a read gives a "value" only when it
// is a JSON object holding one, any JSON text at all (a bare scalar included) reads without
// an error, the value reads as a number or a name only when it is one, and labels sent back
// in a set request are encoded safely.

#include "Drivers/KumoDriver.h"
#include "FuzzSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cctype>
#include <cmath>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const KumoDriver::Value read = KumoDriver::replyValue(bytes);
    if (!document.isNull())
        FUZZ_CHECK(read.has_value());
    std::optional<QJsonValue> value;
    if (read) {
        value = *read;
        const bool held
            = document.isObject() && document.object().contains(QStringLiteral("value"));
        FUZZ_CHECK(value.has_value() == held);
        if (held)
            FUZZ_CHECK(*value == document.object().value(QStringLiteral("value")));
    } else {
        FUZZ_CHECK(document.isNull());
        FUZZ_CHECK(!read.error().localizedDescription().isEmpty());
    }

    const QString name = KumoDriver::nameValue(value);
    if (!name.isEmpty()) {
        FUZZ_CHECK(value->isString() || value->isDouble());
        FUZZ_CHECK(name.size() <= maxRouterNameLength);
        if (value->isString())
            FUZZ_CHECK(name == boundedRouterName(value->toString()));
        else
            FUZZ_CHECK_MSG(name.toLongLong() == qint64(value->toDouble()), name);
    }

    const auto number = KumoDriver::integerValue(value);
    if (number && value->isDouble())
        FUZZ_CHECK(double(*number) == std::trunc(value->toDouble())
                   || std::abs(*number) > (qint64(1) << 53));
    if (number && value->isString()) {
        QString text = value->toString();
        if (text.startsWith(u'+'))
            text.remove(0, 1);
        FUZZ_CHECK_MSG(text.toLongLong() == *number, text);
    }
    if (value && !value->isDouble() && !value->isString())
        FUZZ_CHECK(!number);
    FUZZ_CHECK(!KumoDriver::integerValue(std::nullopt));

    // The label as it goes into a query: only unreserved characters and %XX escapes, and it
    // decodes to exactly the label.
    const QString label = QString::fromUtf8(bytes);
    const QByteArray encoded = KumoDriver::encodeLabel(label);
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded.at(i);
        if (c == '%') {
            FUZZ_CHECK(i + 2 < encoded.size() && isxdigit(encoded.at(i + 1))
                       && isxdigit(encoded.at(i + 2)));
            continue;
        }
        FUZZ_CHECK_MSG(QByteArrayView("&=+?/# \r\n").indexOf(c) < 0, QString::fromLatin1(encoded));
    }
    FUZZ_CHECK(QByteArray::fromPercentEncoding(encoded) == label.toUtf8());
    return 0;
}
