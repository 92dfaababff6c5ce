// The error log line: whatever the caption, message, type name and statement, the time,
// category and window tag keep their byte columns, the tag keeps its length rules, and
// message and statement are written unchanged.

#include "FuzzCheck.h"

#include "log/ActiveWindowSource.h"
#include "log/ErrMsg.h"
#include "log/ErrMsgForm.h"
#include "platform/Exception.h"
#include "platform/Gbk.h"
#include "support/ManualClock.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

class Caption : public ActiveWindowSource
{
public:
    QString text;
    QString activeWindowCaption() const override { return text; }
};

class FuzzedError : public Exception
{
public:
    FuzzedError(QString message, QString typeName)
        : Exception(std::move(message)), m_typeName(std::move(typeName))
    {
    }
    QString typeName() const override { return m_typeName; }

private:
    QString m_typeName;
};

QString takeText(FuzzedDataProvider& provider)
{
    const std::string bytes = provider.ConsumeRandomLengthString(400);
    return provider.ConsumeBool() ? QString::fromUtf8(bytes.data(), qsizetype(bytes.size()))
                                  : Gbk::decode(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 41), Qt::UTC));
    static Caption caption;
    ErrMsgForm::instance().setClock(&clock);
    ErrMsgForm::instance().setActiveWindowSource(&caption);

    FuzzedDataProvider provider(data, size);
    caption.text = takeText(provider);
    const QString message = takeText(provider);
    const QString typeName = takeText(provider);
    const QString statement = takeText(provider);

    const QByteArray tag = ErrMsg::ActiveWindowTag();
    FUZZ_CHECK(tag == "None Active Window" || tag.size() <= 19);

    const QByteArray line = ErrMsg::FormatErrorLine(statement, FuzzedError(message, typeName));
    FUZZ_CHECK(line.startsWith("2026-12-07 09:41 "));
    const QByteArray category = line.mid(17, 16);
    FUZZ_CHECK(category == "System Error    ");
    FUZZ_CHECK(line.mid(33, 20) == tag.leftJustified(20, ' '));
    const QByteArray typeBytes = Gbk::encode(typeName);
    FUZZ_CHECK(line.mid(53).startsWith(typeBytes.leftJustified(16, ' ')));
    FUZZ_CHECK(line.endsWith(" << " + Gbk::encode(statement) + " >>"));
    FUZZ_CHECK(line.contains(Gbk::encode(message)));
    return 0;
}
