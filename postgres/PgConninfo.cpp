#include "postgres/PgConninfo.h"

#include <libpq-fe.h>

#include <memory>

namespace {

struct OptionsDeleter
{
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

} // namespace

std::optional<std::vector<PgConninfo::Option>> PgConninfo::parse(const QByteArray& text)
{
    char* error = nullptr;
    const std::unique_ptr<PQconninfoOption, OptionsDeleter> options(
        PQconninfoParse(text.constData(), &error));
    PQfreemem(error);
    if (!options)
        return std::nullopt;
    std::vector<Option> set;
    for (const PQconninfoOption* option = options.get(); option->keyword; ++option) {
        if (!option->val)
            continue;
        set.push_back({QByteArray(option->keyword), QByteArray(option->val),
                       option->dispchar && option->dispchar[0] == '*'});
    }
    return set;
}
