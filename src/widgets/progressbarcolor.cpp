#include "widgets/progressbarcolor.h"

#include "widgets/storeandrepaint.h"

#include <QFont>
#include <QPainter>

#include <algorithm>

int progressFontPixelSize(int width)
{
    // A pixel size of 0 is refused by QFont with a warning; a very narrow bar
    // gets the smallest font instead.
    return std::max(1, static_cast<int>((width / 10) * 0.65));
}

QString progressText(double value, double minValue, double maxValue, int precision)
{
    const double percent = (value - minValue) * 100 / (maxValue - minValue);
    return QStringLiteral("%1%").arg(QString::number(percent, 'f', precision));
}

QString progressBoxText(double maxValue, int precision)
{
    return QStringLiteral("%1%").arg(QString::number(maxValue, 'f', precision));
}

int progressTextBoxWidth(const QFontMetrics& metrics, double maxValue, int precision)
{
    return metrics.horizontalAdvance(progressBoxText(maxValue, precision)) + 10;
}

int progressBarWidth(int width, int space, int textBoxWidth)
{
    return width - 3 * space - textBoxWidth;
}

double progressFilledWidth(double value, double minValue, double maxValue, int barWidth)
{
    return (value - minValue) * barWidth / (maxValue - minValue);
}

QVector<double> progressSeparators(int barWidth, int step)
{
    QVector<double> lines;
    // A step of 0 or below, or a bar narrower than one step, has no lines.
    if (step <= 0 || barWidth <= 0)
        return lines;
    const int n = barWidth / step;
    if (n <= 0)
        return lines;
    const double d = static_cast<double>(barWidth) / n;
    double x = 5; // the lines are counted from a fixed 5, not from the margin
    lines.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double xd = x + d;
        lines.append(xd);
        x = static_cast<int>(xd);
    }
    return lines;
}

ProgressBarColor::ProgressBarColor(QWidget* parent)
    : QWidget(parent)
{
    setFont(QFont(QStringLiteral("Arial"), 12));
}

ProgressBarColor::~ProgressBarColor() = default;

QSize ProgressBarColor::sizeHint() const
{
    return QSize(300, 30);
}

QSize ProgressBarColor::minimumSizeHint() const
{
    return QSize(50, 20);
}

void ProgressBarColor::paintEvent(QPaintEvent*)
{
    const int W = width();
    const int H = height();
    const int s = space;
    const int r = radius;

    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.save();

    QFont f = font();
    f.setPixelSize(progressFontPixelSize(W));
    painter.setFont(f);

    // The text box at the right end, sized for the upper end of the range.
    const int tw = progressTextBoxWidth(painter.fontMetrics(), maxValue, precision);
    const QRect box(W - s - tw, s, tw, H - 2 * s);
    painter.setPen(barBgColor);
    painter.setBrush(barBgColor);
    painter.drawRoundedRect(box, r, r);
    painter.setPen(textColor);
    painter.drawText(box, Qt::AlignCenter, progressText(value, minValue, maxValue, precision));

    // The bar's background, then its filled part.
    const int bw = progressBarWidth(W, s, tw);
    painter.setPen(Qt::NoPen);
    painter.setBrush(barBgColor);
    painter.drawRoundedRect(QRect(s, s, bw, H - 2 * s), r, r);
    painter.setBrush(barColor);
    painter.drawRoundedRect(QRectF(s, s, progressFilledWidth(value, minValue, maxValue, bw), H - 2 * s), r,
                            r);

    // The separator lines.
    painter.setPen(lineColor);
    for (const double x : progressSeparators(bw, step))
        painter.drawLine(QPointF(x, s + 1), QPointF(x, H - 1 - s));

    painter.restore();
}

void ProgressBarColor::setRange(double newMin, double newMax)
{
    if (!(newMin < newMax))
        return;
    minValue = newMin;
    maxValue = newMax;
    // A value the new range no longer contains is moved to the nearer end,
    // so the bar never paints beyond its ends.
    if (value < minValue || value > maxValue)
        setValue(std::clamp(value, minValue, maxValue));
    update();
}

void ProgressBarColor::setRange(int newMin, int newMax)
{
    setRange(static_cast<double>(newMin), static_cast<double>(newMax));
}

void ProgressBarColor::setMinValue(double newMin)
{
    if (!(newMin < maxValue))
        return;
    setRange(newMin, maxValue);
}

void ProgressBarColor::setMaxValue(double newMax)
{
    if (!(newMax > minValue))
        return;
    setRange(minValue, newMax);
}

void ProgressBarColor::setValue(double newValue)
{
    // Values outside the range are refused, not clamped; so is a NaN, which
    // no comparison places inside the range.
    if (!(newValue >= minValue && newValue <= maxValue) || newValue == value)
        return;
    value = newValue;
    emit valueChanged(value);
    update();
}

void ProgressBarColor::setValue(int newValue)
{
    setValue(static_cast<double>(newValue));
}

void ProgressBarColor::setPrecision(int newPrecision)
{
    // At most three decimals; a negative count means nothing and is refused.
    if (newPrecision > 3 || newPrecision < 0)
        return;
    storeAndRepaint(this, precision, newPrecision);
}

void ProgressBarColor::setStep(int newStep)
{
    storeAndRepaint(this, step, newStep);
}

void ProgressBarColor::setSpace(int newSpace)
{
    storeAndRepaint(this, space, newSpace);
}

void ProgressBarColor::setRadius(int newRadius)
{
    storeAndRepaint(this, radius, newRadius);
}

void ProgressBarColor::setBgColorStart(QColor colour)
{
    storeAndRepaint(this, bgColorStart, colour);
}

void ProgressBarColor::setBgColorEnd(QColor colour)
{
    storeAndRepaint(this, bgColorEnd, colour);
}

void ProgressBarColor::setLineColor(QColor colour)
{
    storeAndRepaint(this, lineColor, colour);
}

void ProgressBarColor::setTextColor(QColor colour)
{
    storeAndRepaint(this, textColor, colour);
}

void ProgressBarColor::setBarBgColor(QColor colour)
{
    storeAndRepaint(this, barBgColor, colour);
}

void ProgressBarColor::setBarColor(QColor colour)
{
    storeAndRepaint(this, barColor, colour);
}
