// KUMO parameter replies are web replies: the "value" of any JSON body must read as a
// number only when it is one, and labels sent back in a set request must be encoded safely.

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
    std::optional<QJsonValue> value;
    if (document.isObject() && document.object().contains(QStringLiteral("value")))
        value = document.object().value(QStringLiteral("value"));

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
        FUZZ_CHECK_MSG(QByteArrayView("&=+?/# \r\n").indexOf(c) < 0,
                       QString::fromLatin1(encoded));
    }
    FUZZ_CHECK(QByteArray::fromPercentEncoding(encoded) == label.toUtf8());
    return 0;
}
