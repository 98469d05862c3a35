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

// A cell the export writes as it stands: no tab, no line break of any kind.
bool staysOneCell(const QString &label)
{
    for (QChar c : label) {
        const char16_t u = c.unicode();
        if (u == '\t' || (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029)
            return false;
    }
    return true;
}

void checkExportReadsBack(const RouterState &state)
{
    const QString text = LabelExport::tsv(state);
    const ParsedLabels parsed = LabelImport::parseDelimited(text, DelimitedTarget::both);
    LabelFuzz::checkParsed(parsed);
    // Rows that lose a cell (an empty label, a line break inside one) fall back to the row
    // counters and may overwrite earlier rows, so only an export whose every row carries two
    // one-cell labels must come back whole.
    if (state.sources.size() != state.destinations.size())
        return;
    for (qsizetype row = 0; row < state.sources.size(); ++row) {
        for (const QString &label :
             { state.sources.at(row).label, state.destinations.at(row).label }) {
            if (!staysOneCell(label) || trimmedHorizontally(label).isEmpty())
                return;
        }
    }
    for (qsizetype row = 0; row < state.sources.size(); ++row) {
        const QString source = trimmedHorizontally(state.sources.at(row).label);
        const QString destination = trimmedHorizontally(state.destinations.at(row).label);
        FUZZ_CHECK_MSG(parsed.sources.value(row) == source, source);
        FUZZ_CHECK_MSG(parsed.destinations.value(row) == destination, destination);
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
