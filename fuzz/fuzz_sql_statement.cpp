// The statement analyser: tokens cover the text without gaps or overlaps, every marker
// found is a name the plan lists, and the rewritten statement has one "?n" per marker.

#include "FuzzCheck.h"

#include "query/SqlStatementPlan.h"
#include "query/SqlTokenizer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString sql = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    const std::vector<SqlTokenizer::Token> tokens = SqlTokenizer::tokenize(sql);
    qsizetype at = 0;
    int markers = 0;
    for (const SqlTokenizer::Token& token : tokens) {
        FUZZ_CHECK(token.begin == at);
        FUZZ_CHECK(token.length > 0);
        FUZZ_CHECK(token.text == sql.mid(token.begin, token.length));
        at += token.length;
        if (token.kind == SqlTokenizer::Kind::Parameter)
            ++markers;
        (void)token.identifier();
    }
    FUZZ_CHECK(at == sql.size());

    const SqlStatementPlan plan(sql);
    FUZZ_CHECK(qsizetype(plan.occurrences().size()) == markers);
    for (const SqlStatementPlan::Occurrence& occurrence : plan.occurrences())
        FUZZ_CHECK(occurrence.nameIndex >= 0 && occurrence.nameIndex < plan.parameterNames().size());
    (void)plan.hasContext();
    (void)plan.tableNames();
    (void)plan.rewritten();
    if (plan.isSingleTableSelect())
        FUZZ_CHECK(!plan.rewritten(QStringLiteral("__rowid")).isEmpty());
    return 0;
}
