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
    // The value moves only inside the range and only with a signal: out of
    // range, the value it already has and NaN are refused; a range change
    // clamps it; empty or inverted ranges, a minimum above the maximum and
    // precisions outside 0..3 are refused.
    ProgressBarColor bar;
    QSignalSpy changed(&bar, &ProgressBarColor::valueChanged);
    for (double v : {150.0, -1.0, 0.0, std::numeric_limits<double>::quiet_NaN()})
        bar.setValue(v);
    bar.setValue(100);
    for (double v : {100.0, 42.5, 80.0})
        bar.setValue(v);
    bar.setRange(0, 50);
    bar.setMinValue(60);
    QCOMPARE(bar.getValue(), 50.0);
    bar.setRange(60, 90);
    bar.setRange(0, 1000); // still inside: unchanged
    QCOMPARE(QList<QVariantList>(changed), (QList<QVariantList>{{100.0}, {42.5}, {80.0}, {50.0}, {60.0}}));
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
