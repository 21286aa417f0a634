// The display widgets: the setters' rules, the rotation and the painting
// geometry.
#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

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
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};
} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void roundCircle();
    void equalValuesRequestNoRepaint();
    void valueRules();
    void precisionAndRange();
    void barGeometry();
    void propertiesThroughTheMetaObject();
};

void WidgetsTest::roundCircle()
{
    const struct {
        int w, h;
        double radius;
        QPoint centre;
        double pie;
    } rows[] = {{61, 51, 20, {30, 25}, 16}, {100, 100, 45, {49, 49}, 36}, {11, 10, 0, {5, 4}, 0}};
    for (const auto& r : rows) {
        const RoundCircleGeometry g = roundCircleGeometry(r.w, r.h);
        QCOMPARE(g.radius, r.radius);
        QCOMPARE(g.centre, r.centre);
        QCOMPARE(g.pieRadius, r.pie);
    }
    // The angle wraps at a full turn.
    for (const QPointF& turn : {QPointF(0, 5), QPointF(355, 360), QPointF(360, 0), QPointF(358, 0)})
        QCOMPARE(nextAngle(turn.x(), 5), turn.y());

    RoundCircle circle;
    // It turns on its own from construction; the direction flips at once.
    QVERIFY(circle.getClockWise());
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
    QVERIFY(QTest::qWaitForWindowExposed(&circle) && QTest::qWaitForWindowExposed(&bar));
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
    QTRY_VERIFY(circlePaints.paints > 0 && barPaints.paints > 0);
}

void WidgetsTest::valueRules()
{
    ProgressBarColor bar;
    QSignalSpy changed(&bar, &ProgressBarColor::valueChanged);
    // Out of range, the value it already has, NaN: refused without a signal.
    for (double v : {150.0, -1.0, 0.0, std::numeric_limits<double>::quiet_NaN()})
        bar.setValue(v);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(bar.getValue(), 0.0);
    bar.setValue(100);
    bar.setValue(100.0);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toDouble(), 100.0);
    bar.setValue(42.5);
    QCOMPARE(bar.getValue(), 42.5);
    QCOMPARE(changed.count(), 2);

    // A range change clamps the value, with one signal per move.
    bar.setValue(80);
    changed.clear();
    bar.setRange(0, 50);
    QCOMPARE(bar.getValue(), 50.0);
    bar.setMinValue(60); // above the maximum: refused, nothing moves
    QCOMPARE(bar.getValue(), 50.0);
    bar.setRange(60, 90);
    QCOMPARE(bar.getValue(), 60.0);
    bar.setRange(0, 1000); // still inside: unchanged, no signal
    QCOMPARE(bar.getValue(), 60.0);
    QCOMPARE(changed.count(), 2);
}

void WidgetsTest::precisionAndRange()
{
    ProgressBarColor bar;
    bar.setPrecision(4);
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
    bar.setMaxValue(2000.5);
    QCOMPARE(bar.getMinValue(), 8.0);
    QCOMPARE(bar.getMaxValue(), 2000.5);
}

void WidgetsTest::barGeometry()
{
    QCOMPARE(progressText(50, 0, 100, 0) + progressText(50, 0, 100, 2), QStringLiteral("50%50.00%"));
    QCOMPARE(progressText(16, 0, 1016, 0) + progressText(1008, 0, 1016, 0), QStringLiteral("2%99%"));
    QCOMPARE(QPoint(progressFontPixelSize(461), progressFontPixelSize(300)), QPoint(29, 19));
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

    // Separators: none for a step of 0, negative or wider than the bar; each
    // line starts from the truncated previous one (d = 200 / 6).
    for (const QPoint& none : {QPoint(200, 0), QPoint(20, 30), QPoint(200, -30), QPoint(-200, -30)})
        QVERIFY(progressSeparators(none.x(), none.y()).isEmpty());
    QCOMPARE(progressSeparators(200, 30),
             (QVector<double>{5 + 200.0 / 6, 38 + 200.0 / 6, 71 + 200.0 / 6, 104 + 200.0 / 6, 137 + 200.0 / 6,
                              170 + 200.0 / 6}));
    QCOMPARE(progressSeparators(100, 50), (QVector<double>{55.0, 105.0}));
}

void WidgetsTest::propertiesThroughTheMetaObject()
{
    // step, space and radius are double properties over int members.
    ProgressBarColor bar;
    const QMetaObject* mo = bar.metaObject();
    for (const char* name : {"step", "space", "radius", "minValue", "maxValue", "value"})
        QVERIFY2(mo->property(mo->indexOfProperty(name)).type() == QVariant::Double, name);
    QVERIFY(bar.setProperty("step", 30.0));
    QCOMPARE(bar.getStep(), 30);
    QCOMPARE(bar.property("step").toDouble(), 30.0);
    QVERIFY(bar.setProperty("barBgColor", QColor(22, 22, 26, 0)));
    QCOMPARE(bar.getBarBgColor().alpha(), 0);

    RoundCircle circle;
    QVERIFY(circle.setProperty("bgColorStart", QColor(52, 229, 20)));
    QCOMPARE(circle.getBgColorStart(), QColor(52, 229, 20));
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
