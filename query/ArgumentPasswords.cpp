#include "query/ArgumentPasswords.h"

#include "query/BackendFactory.h"
#include "query/DatabaseTarget.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <cstring>

namespace {

QByteArray passwordIn(const char* text)
{
    QByteArray password;
    if (const auto options = BackendFactory::readServerText(QByteArray(text)))
        for (const ServerTextOption& option : *options)
            if (option.keyword == "password")
                password = option.value;
    return password;
}

void mask(char* from, size_t length)
{
    std::memset(from, '*', length);
}

} // namespace

void ArgumentPasswords::hide(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        if (argv[i])
            hideIn(argv[i]);
}

void ArgumentPasswords::hideIn(char* argument)
{
    static const char kOption[] = "--database=";
    char* value = argument;
    if (std::strncmp(argument, kOption, sizeof(kOption) - 1) == 0)
        value += sizeof(kOption) - 1;
    if (!DatabaseTarget::parse(QString::fromLocal8Bit(value)).isServer())
        return;
    const QByteArray password = passwordIn(value);
    if (password.isEmpty())
        return;
    // The forms a password takes in a TARGET: as typed, percent-encoded in a URI, and
    // with backslash escapes inside quotes.
    QByteArray escaped = password;
    escaped.replace('\\', "\\\\").replace('\'', "\\'");
    const QList<QByteArray> forms = {password, QUrl::toPercentEncoding(QString::fromUtf8(password)), escaped};
    const size_t length = std::strlen(value);
    for (const QByteArray& form : forms) {
        if (form.isEmpty())
            continue;
        for (char* at = value;
             (at = static_cast<char*>(
                  memmem(at, length - size_t(at - value), form.constData(), size_t(form.size())))) != nullptr;
             at += form.size())
            mask(at, size_t(form.size()));
    }
    // Written some other way (a lower-case escape, an encoded letter): all of it goes.
    if (passwordIn(value) == password)
        mask(value, length);
}
