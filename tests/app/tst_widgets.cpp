// The display widgets: the setters' rules, the rotation and the painting
// geometry.
#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

#include <QFont>
#include <QFontMetrics>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <limits>

namespace {
// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT

private slots:
    void roundCircleGeometry_data();
    void roundCircleGeometry();
    void rotationWrapsPastAFullTurn();
    void roundCircleTurnsAndHints();
    void equalValuesRequestNoRepaint();
    void valueRules();
    void precisionAndRange();
    void rangeChangeClampsTheValue();
    void percentageText_data();
    void percentageText();
    void barGeometry();
    void separators_data();
    void separators();
    void propertiesThroughTheMetaObject();
};

void WidgetsTest::roundCircleGeometry_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<double>("radius");
    QTest::addColumn<QPoint>("centre");
    QTest::addColumn<double>("pieRadius");
    QTest::newRow("main window 61x51") << 61 << 51 << 20.0 << QPoint(30, 25) << 16.0;
    QTest::newRow("size hint 100x100") << 100 << 100 << 45.0 << QPoint(49, 49) << 36.0;
    QTest::newRow("odd minimum 11x10") << 11 << 10 << 0.0 << QPoint(5, 4) << 0.0;
}

void WidgetsTest::roundCircleGeometry()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(double, radius);
    QFETCH(QPoint, centre);
    QFETCH(double, pieRadius);
    const RoundCircleGeometry g = ::roundCircleGeometry(w, h);
    QCOMPARE(g.radius, radius);
    QCOMPARE(g.centre, centre);
    QCOMPARE(g.pieRadius, pieRadius);
}

void WidgetsTest::rotationWrapsPastAFullTurn()
{
    QCOMPARE(nextAngle(0, 5), 5.0);
    QCOMPARE(nextAngle(355, 5), 360.0);
    QCOMPARE(nextAngle(360, 5), 0.0);
    QCOMPARE(nextAngle(358, 5), 0.0);
}

void WidgetsTest::roundCircleTurnsAndHints()
{
    RoundCircle circle;
    QCOMPARE(circle.sizeHint(), QSize(100, 100));
    QCOMPARE(circle.minimumSizeHint(), QSize(10, 10));
    QCOMPARE(circle.getStep(), 5);
    QVERIFY(circle.getClockWise());
    QCOMPARE(circle.getBgColorStart(), QColor(65, 65, 65));
    QCOMPARE(circle.getPieColor1Start(), QColor(0, 133, 203));
    auto* timer = circle.findChild<QTimer*>();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 30);
    // The wheel turns on its own from construction; the direction flips at
    // once while the angle keeps counting up.
    QTRY_VERIFY(circle.currentAngle() > 0);
    circle.setClockWise(false);
    QVERIFY(!circle.getClockWise());
    const double before = circle.currentAngle();
    QTRY_VERIFY(circle.currentAngle() != before);
}

void WidgetsTest::equalValuesRequestNoRepaint()
{
    RoundCircle circle;
    circle.findChild<QTimer*>()->stop(); // only the setters may ask for a paint
    ProgressBarColor bar;
    PaintCounter circlePaints, barPaints;
    circle.installEventFilter(&circlePaints);
    bar.installEventFilter(&barPaints);
    circle.resize(61, 51);
    bar.resize(461, 51);
    circle.show();
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&circle));
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    QCoreApplication::processEvents();
    QTest::qWait(20);

    circlePaints.paints = barPaints.paints = 0;
    circle.setBgColorStart(circle.getBgColorStart());
    circle.setPieColor2End(circle.getPieColor2End());
    circle.setStep(circle.getStep());
    circle.setClockWise(circle.getClockWise());
    bar.setBarColor(bar.getBarColor());
    bar.setLineColor(bar.getLineColor());
    bar.setSpace(bar.getSpace());
    bar.setValue(bar.getValue());
    QTest::qWait(50);
    QCOMPARE(circlePaints.paints, 0);
    QCOMPARE(barPaints.paints, 0);

    circle.setPieColor1Start(QColor(255, 0, 0));
    bar.setBarColor(QColor(85, 255, 0));
    QTRY_VERIFY(circlePaints.paints > 0);
    QTRY_VERIFY(barPaints.paints > 0);
}

void WidgetsTest::valueRules()
{
    ProgressBarColor bar;
    QSignalSpy changed(&bar, &ProgressBarColor::valueChanged);
    bar.setValue(150.0);
    bar.setValue(-1.0);
    bar.setValue(0); // the value it already has
    bar.setValue(std::numeric_limits<double>::quiet_NaN());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(bar.getValue(), 0.0);

    bar.setValue(100);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toDouble(), 100.0);
    bar.setValue(100.0);
    QCOMPARE(changed.count(), 1);
    bar.setValue(42.5);
    QCOMPARE(bar.getValue(), 42.5);
    QCOMPARE(changed.count(), 2);
}

void WidgetsTest::precisionAndRange()
{
    ProgressBarColor bar;
    QCOMPARE(bar.sizeHint(), QSize(300, 30));
    QCOMPARE(bar.minimumSizeHint(), QSize(50, 20));
    QCOMPARE(bar.font().family(), QStringLiteral("Arial"));
    QCOMPARE(bar.font().pointSize(), 12);

    bar.setPrecision(4);
    QCOMPARE(bar.getPrecision(), 0);
    bar.setPrecision(-1);
    QCOMPARE(bar.getPrecision(), 0);
    bar.setPrecision(3);
    QCOMPARE(bar.getPrecision(), 3);

    bar.setRange(10, 10);
    bar.setRange(10.0, 5.0);
    bar.setMinValue(100);
    bar.setMaxValue(0);
    QCOMPARE(bar.getMinValue(), 0.0);
    QCOMPARE(bar.getMaxValue(), 100.0);
    bar.setRange(0, 1016);
    QCOMPARE(bar.getMaxValue(), 1016.0);
    bar.setMinValue(8);
    QCOMPARE(bar.getMinValue(), 8.0);
    bar.setMaxValue(2000.5);
    QCOMPARE(bar.getMaxValue(), 2000.5);
}

void WidgetsTest::rangeChangeClampsTheValue()
{
    ProgressBarColor bar;
    bar.setValue(80);
    QSignalSpy changed(&bar, &ProgressBarColor::valueChanged);
    bar.setRange(0, 50);
    QCOMPARE(bar.getValue(), 50.0);
    QCOMPARE(changed.count(), 1);
    bar.setMinValue(60); // above the old maximum: refused, nothing moves
    QCOMPARE(bar.getValue(), 50.0);
    bar.setRange(60, 90);
    QCOMPARE(bar.getValue(), 60.0);
    QCOMPARE(changed.count(), 2);
    bar.setRange(0, 1000); // still inside: unchanged, no signal
    QCOMPARE(bar.getValue(), 60.0);
    QCOMPARE(changed.count(), 2);
}

void WidgetsTest::percentageText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("maxValue");
    QTest::addColumn<int>("precision");
    QTest::addColumn<QString>("text");
    QTest::newRow("half") << 50.0 << 100.0 << 0 << "50%";
    QTest::newRow("two decimals") << 50.0 << 100.0 << 2 << "50.00%";
    QTest::newRow("first block of 1016") << 16.0 << 1016.0 << 0 << "2%";
    QTest::newRow("last block of 1016") << 1008.0 << 1016.0 << 0 << "99%";
}

void WidgetsTest::percentageText()
{
    QFETCH(double, value);
    QFETCH(double, maxValue);
    QFETCH(int, precision);
    QFETCH(QString, text);
    QCOMPARE(progressText(value, 0, maxValue, precision), text);
}

void WidgetsTest::barGeometry()
{
    QCOMPARE(progressFontPixelSize(461), 29);
    QCOMPARE(progressFontPixelSize(300), 19);
    QCOMPARE(progressFontPixelSize(5), 1);

    // The box is sized for the upper end of the range, not for the widest
    // percentage: a file of 200000 bytes gives a box for "200000%".
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(29);
    const QFontMetrics metrics(f);
    QCOMPARE(progressBoxText(200000, 0), QStringLiteral("200000%"));
    const int tw = progressTextBoxWidth(metrics, 200000, 0);
    QCOMPARE(tw, metrics.horizontalAdvance(QStringLiteral("200000%")) + 10);
    QVERIFY(tw > progressTextBoxWidth(metrics, 100, 0));
    QCOMPARE(progressTextBoxWidth(metrics, 100, 2),
             metrics.horizontalAdvance(QStringLiteral("100.00%")) + 10);

    QCOMPARE(progressBarWidth(461, 5, 80), 366);
    QCOMPARE(progressFilledWidth(50, 0, 100, 200), 100.0);
    QCOMPARE(progressFilledWidth(1008, 0, 1016, 366), 1008.0 * 366 / 1016);
    QCOMPARE(progressFilledWidth(0, 0, 100, 200), 0.0);
}

void WidgetsTest::separators_data()
{
    QTest::addColumn<int>("barWidth");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("second");
    QTest::newRow("step 0 draws none") << 200 << 0 << 0 << 0.0 << 0.0;
    QTest::newRow("step wider than the bar") << 20 << 30 << 0 << 0.0 << 0.0;
    QTest::newRow("negative step") << 200 << -30 << 0 << 0.0 << 0.0;
    QTest::newRow("negative bar width") << -200 << -30 << 0 << 0.0 << 0.0;
    // d = 200 / 6; the next line starts from the truncated previous one.
    QTest::newRow("200 by 30") << 200 << 30 << 6 << 5 + 200.0 / 6 << 38 + 200.0 / 6;
    QTest::newRow("100 by 50") << 100 << 50 << 2 << 55.0 << 105.0;
}

void WidgetsTest::separators()
{
    QFETCH(int, barWidth);
    QFETCH(int, step);
    QFETCH(int, count);
    QFETCH(double, first);
    QFETCH(double, second);
    const QVector<double> lines = progressSeparators(barWidth, step);
    QCOMPARE(lines.size(), count);
    if (count >= 2) {
        QCOMPARE(lines.at(0), first);
        QCOMPARE(lines.at(1), second);
    }
}

void WidgetsTest::propertiesThroughTheMetaObject()
{
    // step, space and radius are double properties over int members.
    ProgressBarColor bar;
    const QMetaObject* mo = bar.metaObject();
    for (const char* name : {"step", "space", "radius", "minValue", "maxValue", "value"}) {
        const QMetaProperty p = mo->property(mo->indexOfProperty(name));
        QVERIFY2(p.isValid(), name);
        QCOMPARE(p.type(), QVariant::Double);
    }
    QVERIFY(bar.setProperty("step", 30.0));
    QCOMPARE(bar.getStep(), 30);
    QCOMPARE(bar.property("step").toDouble(), 30.0);
    QVERIFY(bar.setProperty("barBgColor", QColor(22, 22, 26, 0)));
    QCOMPARE(bar.getBarBgColor().alpha(), 0);

    RoundCircle circle;
    QVERIFY(circle.setProperty("bgColorStart", QColor(52, 229, 20)));
    QCOMPARE(circle.getBgColorStart(), QColor(52, 229, 20));
    // The rotation slot is private and comes first among the slots.
    const QMetaObject* cmo = circle.metaObject();
    const QMetaMethod first = cmo->method(cmo->methodOffset());
    QCOMPARE(first.name(), QByteArray("updateAngle"));
    QCOMPARE(first.access(), QMetaMethod::Private);
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
