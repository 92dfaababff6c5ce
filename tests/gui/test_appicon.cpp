#include "app/AppIcon.h"
#include "app/TerminalApplication.h"

#include <QImage>
#include <QTest>

// The terminal's application object ties the window to the installed desktop entry, and
// the window's icon is the very picture the package installs.
class TestAppIcon : public QObject
{
    Q_OBJECT

private slots:
    void desktopFileNameIsTheApplicationId()
    {
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral(TAVELO_APP_ID));
    }

    void windowIconIsTheInstalledPicture()
    {
        const QString installed =
            QStringLiteral(TAVELO_BIN_DIR "/packaging/icons/32x32/apps/" TAVELO_APP_ID ".png");
        QImage png(installed);
        QVERIFY2(!png.isNull(), qPrintable(installed));
        const QImage window = QApplication::windowIcon().pixmap(32, 32).toImage();
        QCOMPARE(window.size(), QSize(32, 32));
        QCOMPARE(window.convertToFormat(QImage::Format_ARGB32), png.convertToFormat(QImage::Format_ARGB32));
    }

    void pictureIsTheRingAndStroke()
    {
        // Orange ring at the left, yellow at the top right, the dark stroke in the opening
        // at the upper left, and the centre of the ring empty.
        const QImage picture = AppIcon::image(256);
        const QColor left = picture.pixelColor(40, 128);
        QVERIFY2(left.red() > 240 && left.green() < 160 && left.blue() < 40, qPrintable(left.name()));
        const QColor topRight = picture.pixelColor(160, 40);
        QVERIFY2(topRight.red() > 240 && topRight.green() > 190, qPrintable(topRight.name()));
        const QColor stroke = picture.pixelColor(96, 96);
        QVERIFY2(stroke.red() < 90 && stroke.alpha() == 255, qPrintable(stroke.name()));
        QCOMPARE(picture.pixelColor(160, 160).alpha(), 0);
    }
};

int main(int argc, char** argv)
{
    TerminalApplication app(argc, argv);
    TestAppIcon test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_appicon.moc"
