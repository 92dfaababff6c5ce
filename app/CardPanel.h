#pragma once

#include <QFrame>

// The navy card reading area. A click is a press and a release of the left button, both
// inside the area; the second press of a double click is no click.
class CardPanel : public QFrame
{
    Q_OBJECT
public:
    explicit CardPanel(QWidget* parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    QString hint() const { return m_hint; }
    void setHint(const QString& hint) { m_hint = hint; }

    static constexpr int kHintShowMSecs = 2500;

signals:
    void clicked();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QString m_caption;
    QString m_hint;
    bool m_pressed = false;
};
