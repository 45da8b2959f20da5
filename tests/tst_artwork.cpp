#include "ui/Artwork.h"
#include "ui/DirectoryIcons.h"

#include "support/Windows.h"

// The pictures on a screen scaled to 200 %: each is painted with twice the pixels, so it
// stays sharp, and keeps its size on the screen.
class TestArtwork : public QObject
{
    Q_OBJECT

private slots:
    void picturesArePaintedAtTheScreensDensity()
    {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        const struct { const char *name; QPixmap picture; QSize size; } pictures[] = {
            {"connection", Artwork::connectLamp(true), {30, 16}},
            {"microphone", Artwork::microphone(false), {30, 16}},
            {"camera", Artwork::camera(true), {30, 16}},
            {"speaker", Artwork::speaker(true), {30, 16}},
            {"do not disturb", Artwork::doNotDisturb(true), {16, 16}},
            {"message", Artwork::messageIndicator(true), {20, 16}},
            {"digit", Artwork::digit(7), {11, 18}},
            {"colon", Artwork::colon(true), {5, 18}},
            {"activity", Artwork::activity(3), {18, 18}},
            {"button", Artwork::toolbarButton(2, Artwork::ButtonLook::Raised), {32, 32}},
            {"logo", Artwork::logo(120, 90), {120, 90}},
            {"splash", Artwork::splash(400, 260), {400, 260}},
            {"pal", Artwork::listIcon(Artwork::ListIcon::PalOnline), {16, 16}},
        };
        for (const auto &p : pictures) {
            QVERIFY2(p.picture.devicePixelRatio() == 2.0, p.name);
            QCOMPARE(p.picture.deviceIndependentSize().toSize(), p.size);
            QCOMPARE(p.picture.size(), p.size * 2);
        }
        // A lit digit differs from another lit digit in its fine lines, not only in blocks:
        // the segments are drawn at full resolution.
        const QImage seven = Artwork::digit(7).toImage();
        const QImage one = Artwork::digit(1).toImage();
        QVERIFY(seven != one);
        QVERIFY(!Artwork::appIcon().availableSizes().isEmpty());
    }

    // Each of the directory's nine pictures is its own; a number out of range gets the
    // picture of a user with neither camera nor sound.
    void everyKindOfListedUserHasItsOwnPicture()
    {
        auto image = [](int number) { return DirectoryIcons::icon(number).pixmap(16, 16).toImage(); };
        QSet<QByteArray> seen;
        for (int n = 1; n <= DirectoryIcons::Count; ++n) {
            const QImage i = image(n);
            seen.insert(QByteArray(reinterpret_cast<const char *>(i.constBits()), i.sizeInBytes()));
        }
        QCOMPARE(seen.size(), DirectoryIcons::Count);
        QCOMPARE(image(0), image(7));
        QCOMPARE(image(10), image(7));
    }
};

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestArtwork test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_artwork.moc"
