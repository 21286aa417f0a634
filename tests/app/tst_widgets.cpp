// The display widgets: the setters' rules and where the rotation wraps. How they look
// is checked by the pictures of tst_app_mainwindow.
#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

#include <QSignalSpy>
#include <QtTest>

#include <limits>

class WidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void roundCircle();
    void valueRules();
    void progressTextRounding();
};

void WidgetsTest::roundCircle()
{
    // The angle wraps at a full turn.
    for (const QPointF& turn : {QPointF(0, 5), QPointF(355, 360), QPointF(360, 0), QPointF(358, 0)})
        QCOMPARE(nextAngle(turn.x(), 5), turn.y());
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

    // Empty or inverted ranges and precisions outside 0..3 are refused.
    bar.setRange(10, 10);
    bar.setRange(10.0, 5.0);
    bar.setMaxValue(-1);
    bar.setPrecision(4);
    bar.setPrecision(-1);
    QCOMPARE(bar.getMinValue() + bar.getMaxValue() + bar.getPrecision(), 1000.0);
}

void WidgetsTest::progressTextRounding()
{
    // The percentage is cut, not rounded, except with decimals asked for;
    // the rest of the bar's drawing is in tst_app_mainwindow's pictures.
    QCOMPARE(progressText(50, 0, 100, 0) + progressText(50, 0, 100, 2), QStringLiteral("50%50.00%"));
    QCOMPARE(progressText(16, 0, 1016, 0) + progressText(1008, 0, 1016, 0), QStringLiteral("2%99%"));
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
