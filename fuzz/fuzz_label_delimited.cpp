// Pasted spreadsheet columns and label text files: any text, any of the three targets, and
// our own tab-separated export read back with target `both`.

#include "LabelFuzz.h"

namespace {

bool isHorizontalSpace(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString trimmedHorizontally(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isHorizontalSpace(text.at(begin)))
        ++begin;
    while (end > begin && isHorizontalSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// The cell the export writes for a label: tabs and line breaks become spaces.
QString asCell(const QString &label)
{
    QString cell = label;
    for (QChar &c : cell) {
        const char16_t u = c.unicode();
        if (u == '\t' || (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029)
            c = u' ';
    }
    return cell;
}

// Every row of the export comes back to its own ports: no label moves another.
void checkExportReadsBack(const RouterState &state)
{
    const QString text = LabelExport::tsv(state);
    const ParsedLabels parsed = LabelImport::parseDelimited(text, DelimitedTarget::both);
    LabelFuzz::checkParsed(parsed);
    for (const auto &[ports, map] : { std::pair { &state.sources, &parsed.sources },
                                      std::pair { &state.destinations, &parsed.destinations } }) {
        for (qsizetype row = 0; row < qMin(ports->size(), LabelImport::maxPortNumber); ++row) {
            const QString expected = trimmedHorizontally(asCell(ports->at(row).label));
            if (expected.size() > LabelImport::maxLabelLength)
                continue; // its line may be longer than a line is read
            FUZZ_CHECK_MSG(map->value(row) == expected, expected);
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
    const Fuzz::Input input = Fuzz::Input::fromFuzzer(data, size);
    const QString text = QString::fromUtf8(input.payload);
    const auto target
        = QList<DelimitedTarget> { DelimitedTarget::sources, DelimitedTarget::destinations,
                                   DelimitedTarget::both, DelimitedTarget::both }
              .at(input.options & 3);

    const ParsedLabels parsed = LabelImport::parseDelimited(text, target);
    LabelFuzz::checkParsed(parsed);
    if (target == DelimitedTarget::sources)
        FUZZ_CHECK(parsed.destinations.isEmpty());
    if (target == DelimitedTarget::destinations)
        FUZZ_CHECK(parsed.sources.isEmpty());

    // Whatever came before, a numbered row on a line of its own is read as such.
    const ParsedLabels after
        = LabelImport::parseDelimited(text + QStringLiteral("\n7\tFuzz Seven\tFuzz Out"), target);
    LabelFuzz::checkParsed(after);
    switch (target) {
    case DelimitedTarget::sources:
        FUZZ_CHECK(after.sources.value(6) == u"Fuzz Seven Fuzz Out");
        break;
    case DelimitedTarget::destinations:
        FUZZ_CHECK(after.destinations.value(6) == u"Fuzz Seven Fuzz Out");
        break;
    case DelimitedTarget::both:
        FUZZ_CHECK(after.sources.value(6) == u"Fuzz Seven");
        FUZZ_CHECK(after.destinations.value(6) == u"Fuzz Out");
        break;
    }

    // The same text as the bytes of a file: valid UTF-8 without NULs reads as the text does;
    // anything else is refused or read as its encoding says, never half-imported garbage.
    const LabelImport::FileLabels file = LabelImport::parseDelimitedFile(input.payload, target);
    const bool plainUtf8 = !input.payload.contains('\0')
        && !input.payload.startsWith("\xEF\xBB\xBF") && !input.payload.startsWith("\xFF\xFE")
        && !input.payload.startsWith("\xFE\xFF")
        && QString::fromUtf8(input.payload).toUtf8() == input.payload;
    if (file)
        LabelFuzz::checkParsed(*file);
    if (plainUtf8)
        FUZZ_CHECK(file && *file == parsed);

    const QStringList lines = text.split(QLatin1Char('\n'));
    checkExportReadsBack(LabelFuzz::stateFromLines(text, int(lines.size() + 1) / 2));
    return 0;
}
