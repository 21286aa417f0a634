// The spinning indicator: a disc with a radial gradient and on it a wheel of
// four quarter sectors in two alternating colours that turns continuously.
// The main window uses it as the device-link lamp; the widget itself only
// paints its properties.
#pragma once

#include <QColor>
#include <QPoint>
#include <QSize>
#include <QWidget>

class QTimer;

// Where the disc and the wheel lie in a widget of the given size.
struct RoundCircleGeometry {
    double radius = 0;    // disc radius
    QPoint centre;        // disc centre
    double pieRadius = 0; // radius of the four sectors
};
RoundCircleGeometry roundCircleGeometry(int width, int height);

// The rotation after one tick: past a full turn the wheel starts again at 0.
double nextAngle(double angle, int step);

class RoundCircle : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int step READ getStep WRITE setStep)
    Q_PROPERTY(bool clockWise READ getClockWise WRITE setClockWise)
    Q_PROPERTY(QColor bgColorStart READ getBgColorStart WRITE setBgColorStart)
    Q_PROPERTY(QColor bgColorEnd READ getBgColorEnd WRITE setBgColorEnd)
    Q_PROPERTY(QColor pieColor1Start READ getPieColor1Start WRITE setPieColor1Start)
    Q_PROPERTY(QColor pieColor1End READ getPieColor1End WRITE setPieColor1End)
    Q_PROPERTY(QColor pieColor2Start READ getPieColor2Start WRITE setPieColor2Start)
    Q_PROPERTY(QColor pieColor2End READ getPieColor2End WRITE setPieColor2End)

public:
    explicit RoundCircle(QWidget* parent = nullptr);
    ~RoundCircle() override;

    int getStep() const { return step; }
    bool getClockWise() const { return clockWise; }
    QColor getBgColorStart() const { return bgColorStart; }
    QColor getBgColorEnd() const { return bgColorEnd; }
    QColor getPieColor1Start() const { return pieColor1Start; }
    QColor getPieColor1End() const { return pieColor1End; }
    QColor getPieColor2Start() const { return pieColor2Start; }
    QColor getPieColor2End() const { return pieColor2End; }

    // The current rotation in degrees.
    double currentAngle() const { return angle; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void updateAngle();

public slots:
    void setStep(int step);
    void setClockWise(bool clockWise);
    void setBgColorStart(QColor bgColorStart);
    void setBgColorEnd(QColor bgColorEnd);
    void setPieColor1Start(QColor pieColor1Start);
    void setPieColor1End(QColor pieColor1End);
    void setPieColor2Start(QColor pieColor2Start);
    void setPieColor2End(QColor pieColor2End);

private:
    int step = 5;
    bool clockWise = true;
    QColor bgColorStart{65, 65, 65};
    QColor bgColorEnd{89, 89, 89};
    QColor pieColor1Start{0, 133, 203};
    QColor pieColor1End{0, 118, 177};
    QColor pieColor2Start{255, 255, 255};
    QColor pieColor2End{233, 233, 233};
    double angle = 0;
    double radius = 0;
    QTimer* timer = nullptr;
};
