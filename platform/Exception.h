#pragma once

#include <QString>
#include <exception>
#include <string>

// The general error kind every failure of the terminal is reported as. Derived kinds
// name themselves, so the error log can write out the most derived type name and test
// membership with dynamic_cast.
class Exception : public std::exception
{
public:
    explicit Exception(QString message) : m_message(std::move(message)), m_utf8(m_message.toStdString()) {}
    ~Exception() override = default;

    const QString& message() const { return m_message; }
    virtual QString typeName() const { return QStringLiteral("Exception"); }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};
