#include "widgets/roundcircle.h"

#include "widgets/storeandrepaint.h"

#include <QPainter>
#include <QRadialGradient>
#include <QTimer>

#include <algorithm>

RoundCircleGeometry roundCircleGeometry(int width, int height)
{
    RoundCircleGeometry g;
    g.radius = std::min(width, height) / 2 - 5;
    g.centre = QPoint((width - 1) / 2, (height - 1) / 2);
    g.pieRadius = 0.8 * g.radius;
    return g;
}

double nextAngle(double angle, int step)
{
    const double a = angle + step;
    return a > 360 ? 0 : a;
}

RoundCircle::RoundCircle(QWidget* parent)
    : QWidget(parent)
{
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &RoundCircle::updateAngle);
    timer->start(30);
}

RoundCircle::~RoundCircle()
{
    if (timer->isActive())
        timer->stop();
}

QSize RoundCircle::sizeHint() const
{
    return QSize(100, 100);
}

QSize RoundCircle::minimumSizeHint() const
{
    return QSize(10, 10);
}

void RoundCircle::updateAngle()
{
    angle = nextAngle(angle, step);
    update();
}

void RoundCircle::paintEvent(QPaintEvent*)
{
    const RoundCircleGeometry g = roundCircleGeometry(width(), height());
    radius = g.radius;

    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);

    // The disc.
    painter.save();
    painter.setPen(Qt::NoPen);
    QRadialGradient disc(g.centre, radius, g.centre);
    disc.setColorAt(0, bgColorStart);
    disc.setColorAt(1, bgColorEnd);
    painter.setBrush(disc);
    painter.drawEllipse(QRectF(g.centre.x() - radius, g.centre.y() - radius, 2 * radius, 2 * radius));
    painter.restore();

    // The wheel: four quarter sectors, turned by the current angle. The
    // gradients span the whole disc so the sectors darken towards the rim
    // the same way the disc does.
    painter.save();
    painter.translate(g.centre);
    painter.rotate(clockWise ? angle : -angle);
    painter.setPen(Qt::NoPen);
    const double r = g.pieRadius;
    for (int i = 0; i < 4; ++i) {
        QRadialGradient pie(QPointF(0, 0), radius);
        const bool even = i % 2 == 0;
        pie.setColorAt(0, even ? pieColor2Start : pieColor1Start);
        pie.setColorAt(1, even ? pieColor2End : pieColor1End);
        painter.setBrush(pie);
        painter.drawPie(QRectF(-r, -r, 2 * r, 2 * r), i * 90 * 16, 90 * 16);
    }
    painter.restore();
}

void RoundCircle::setStep(int value)
{
    storeAndRepaint(this, step, value);
}

void RoundCircle::setClockWise(bool value)
{
    storeAndRepaint(this, clockWise, value);
}

void RoundCircle::setBgColorStart(QColor colour)
{
    storeAndRepaint(this, bgColorStart, colour);
}

void RoundCircle::setBgColorEnd(QColor colour)
{
    storeAndRepaint(this, bgColorEnd, colour);
}

void RoundCircle::setPieColor1Start(QColor colour)
{
    storeAndRepaint(this, pieColor1Start, colour);
}

void RoundCircle::setPieColor1End(QColor colour)
{
    storeAndRepaint(this, pieColor1End, colour);
}

void RoundCircle::setPieColor2Start(QColor colour)
{
    storeAndRepaint(this, pieColor2Start, colour);
}

void RoundCircle::setPieColor2End(QColor colour)
{
    storeAndRepaint(this, pieColor2End, colour);
}
