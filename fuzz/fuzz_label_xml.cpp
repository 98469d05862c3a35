// Label files a user was sent, in whatever XML dialect another system writes; and our own
// export, which must read back as the labels it was made from.

#include "LabelFuzz.h"

namespace {

// Labels the export carries unchanged through an attribute: attribute values lose control
// characters to normalisation, and the export drops what XML 1.0 cannot hold.
bool survivesAttribute(const QString &label)
{
    for (QChar c : label) {
        if (c.unicode() < 0x20 || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
            return false;
    }
    return true;
}

void checkExportReadsBack(const RouterState &state)
{
    const QString document = LabelExport::xml(state);
    const ParsedLabels parsed = LabelXMLDelegate::parse(document.toUtf8()).value();
    LabelFuzz::checkParsed(parsed);
    for (const auto &[ports, map] : { std::pair { &state.sources, &parsed.sources },
                                      std::pair { &state.destinations, &parsed.destinations } }) {
        for (const Port &port : *ports) {
            const QString expected = port.label.trimmed();
            if (expected.isEmpty() || !survivesAttribute(port.label))
                continue;
            FUZZ_CHECK_MSG(map->value(port.index) == expected,
                           QStringLiteral("“%1” read back as “%2” from %3")
                               .arg(port.label, map->value(port.index), document.left(600)));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const LabelImport::FileLabels parsed = LabelXMLDelegate::parse(bytes);
    if (parsed)
        LabelFuzz::checkParsed(*parsed);
    FUZZ_CHECK(LabelXMLDelegate::parse(bytes) == parsed);

    const QString text = QString::fromUtf8(bytes);
    checkExportReadsBack(LabelFuzz::stateFromLines(text, size > 0 ? data[0] % 8 : 0));
    return 0;
}
