// Label files a user was sent, in whatever XML dialect another system writes; and our own
// export, which must read back as the labels it was made from.

#include "LabelFuzz.h"

namespace {

// Labels the export carries unchanged: it writes tabs and line breaks as references and
// replaces what XML 1.0 cannot hold (other control characters, U+FFFE, U+FFFF and lone
// surrogates) with U+FFFD, counting each label it changed.
bool xmlCarries(const QString &label)
{
    for (qsizetype i = 0; i < label.size(); ++i) {
        const char16_t u = label.at(i).unicode();
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r')
            return false;
        if (u == 0xFFFE || u == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(u) && i + 1 < label.size() && label.at(i + 1).isLowSurrogate())
            ++i;
        else if (QChar::isSurrogate(u))
            return false;
    }
    return true;
}

void checkExportReadsBack(const RouterState &state)
{
    qsizetype changed = 0;
    const QString document = LabelExport::xml(state, &changed);
    LabelImport::Notes notes;
    const LabelImport::FileLabels read = LabelXMLDelegate::parse(document.toUtf8(), &notes);
    FUZZ_CHECK_MSG(read && !notes.brokenAt, document.left(600));
    const ParsedLabels &parsed = *read;
    LabelFuzz::checkParsed(parsed);
    qsizetype uncarried = 0;
    for (const QList<Port> *ports : { &state.sources, &state.destinations }) {
        for (const Port &port : *ports)
            uncarried += xmlCarries(port.label) ? 0 : 1;
    }
    FUZZ_CHECK(changed == uncarried);
    for (const auto &[ports, map] : { std::pair { &state.sources, &parsed.sources },
                                      std::pair { &state.destinations, &parsed.destinations } }) {
        for (const Port &port : *ports) {
            const QString expected = port.label.trimmed();
            if (expected.isEmpty() || !xmlCarries(port.label))
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
