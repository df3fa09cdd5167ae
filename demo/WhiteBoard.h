#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>

// The conference's shared white board. A panel whose output goes to the white board hands over
// each camera frame; the board shows the newest one at the place its destination code names:
// 24 bottom right, 40 centre.
class WhiteBoard final : public QWidget
{
    Q_OBJECT
public:
    explicit WhiteBoard(QWidget *parent = nullptr);

    // A frame from the named participant; a null picture is not drawn.
    void showFrame(const QImage &picture, std::int32_t destination, const QString &from);
    // The participant's camera went off: their last frame goes.
    void clear(const QString &from);
    int framesShown() const { return m_framesShown; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
    std::int32_t m_destination = 0;
    QString m_from;
    int m_framesShown = 0;
};
