#pragma once

#include <QStatusBar>

class QLabel;

// The status line in simple-text mode: one text over the whole width, no size grip.
class SimpleStatusBar : public QStatusBar
{
    Q_OBJECT
public:
    explicit SimpleStatusBar(QWidget* parent = nullptr);
    QString text() const;
    void setText(const QString& text);

private:
    QLabel* m_label;
};
