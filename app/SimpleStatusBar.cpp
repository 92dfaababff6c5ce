#include "app/SimpleStatusBar.h"

#include <QLabel>

SimpleStatusBar::SimpleStatusBar(QWidget* parent) : QStatusBar(parent), m_label(new QLabel(this))
{
    setSizeGripEnabled(false);
    m_label->setTextFormat(Qt::PlainText);
    addWidget(m_label, 1);
}

QString SimpleStatusBar::text() const
{
    return m_label->text();
}

void SimpleStatusBar::setText(const QString& text)
{
    m_label->setText(text);
    // The text is visible at once, also while the swipe that set it is still running.
    m_label->repaint();
}
