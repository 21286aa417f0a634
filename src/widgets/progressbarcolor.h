// A self-painted horizontal progress bar with rounded ends, optional
// separator lines and the percentage in a box at its right end.
#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QSize>
#include <QString>
#include <QVector>
#include <QWidget>

// The pieces of the bar's geometry, as plain functions so the painting and
// the tests share them. W is the widget's width, s the margin `space`.

// Pixel size of the painter's font: (W / 10) * 0.65, at least 1.
int progressFontPixelSize(int width);
// The percentage of `value` within the range, with `precision` decimals.
QString progressText(double value, double minValue, double maxValue, int precision);
// The text the box is sized for: the upper end of the range as a percentage.
QString progressBoxText(double maxValue, int precision);
// Width of the text box in the painter's font: the box text plus 10.
int progressTextBoxWidth(const QFontMetrics& metrics, double maxValue, int precision);
// Width of the bar: W - 3s - text box width.
int progressBarWidth(int width, int space, int textBoxWidth);
// Width of the filled part of a bar `barWidth` pixels wide.
double progressFilledWidth(double value, double minValue, double maxValue, int barWidth);
// x positions of the separator lines: barWidth / step lines, none when that
// is not positive.
QVector<double> progressSeparators(int barWidth, int step);

class ProgressBarColor : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double minValue READ getMinValue WRITE setMinValue)
    Q_PROPERTY(double maxValue READ getMaxValue WRITE setMaxValue)
    Q_PROPERTY(double value READ getValue WRITE setValue)
    Q_PROPERTY(int precision READ getPrecision WRITE setPrecision)
    Q_PROPERTY(double step READ getStep WRITE setStep)
    Q_PROPERTY(double space READ getSpace WRITE setSpace)
    Q_PROPERTY(double radius READ getRadius WRITE setRadius)
    Q_PROPERTY(QColor bgColorStart READ getBgColorStart WRITE setBgColorStart)
    Q_PROPERTY(QColor bgColorEnd READ getBgColorEnd WRITE setBgColorEnd)
    Q_PROPERTY(QColor lineColor READ getLineColor WRITE setLineColor)
    Q_PROPERTY(QColor textColor READ getTextColor WRITE setTextColor)
    Q_PROPERTY(QColor barBgColor READ getBarBgColor WRITE setBarBgColor)
    Q_PROPERTY(QColor barColor READ getBarColor WRITE setBarColor)

public:
    explicit ProgressBarColor(QWidget* parent = nullptr);
    ~ProgressBarColor() override;

    double getMinValue() const { return minValue; }
    double getMaxValue() const { return maxValue; }
    double getValue() const { return value; }
    int getPrecision() const { return precision; }
    int getStep() const { return step; }
    int getSpace() const { return space; }
    int getRadius() const { return radius; }
    QColor getBgColorStart() const { return bgColorStart; }
    QColor getBgColorEnd() const { return bgColorEnd; }
    QColor getLineColor() const { return lineColor; }
    QColor getTextColor() const { return textColor; }
    QColor getBarBgColor() const { return barBgColor; }
    QColor getBarColor() const { return barColor; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

signals:
    void valueChanged(double value);

public slots:
    void setRange(double minValue, double maxValue);
    void setRange(int minValue, int maxValue);
    void setMinValue(double minValue);
    void setMaxValue(double maxValue);
    void setValue(double value);
    void setValue(int value);
    void setPrecision(int precision);
    void setStep(int step);
    void setSpace(int space);
    void setRadius(int radius);
    void setBgColorStart(QColor bgColorStart);
    void setBgColorEnd(QColor bgColorEnd);
    void setLineColor(QColor lineColor);
    void setTextColor(QColor textColor);
    void setBarBgColor(QColor barBgColor);
    void setBarColor(QColor barColor);

private:
    double maxValue = 100;
    double minValue = 0;
    double value = 0;
    int precision = 0;
    int step = 0;
    int space = 5;
    int radius = 5;
    QColor bgColorStart{100, 100, 100};
    QColor bgColorEnd{60, 60, 60};
    QColor lineColor{230, 230, 230};
    QColor textColor{250, 250, 250};
    QColor barBgColor{250, 250, 250};
    QColor barColor{100, 184, 255};
};
