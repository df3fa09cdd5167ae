#include "WhiteBoard.h"

#include <QPainter>

WhiteBoard::WhiteBoard(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(360, 300);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WhiteBoard::showFrame(const QImage &picture, std::int32_t destination, const QString &from)
{
    m_picture = picture;
    m_destination = destination;
    m_from = from;
    if (!picture.isNull())
        ++m_framesShown;
    update();
}

void WhiteBoard::clear(const QString &from)
{
    if (from != m_from)
        return;
    m_picture = QImage();
    update();
}

void WhiteBoard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(QColor(0x90, 0x90, 0x90));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.drawText(rect().adjusted(8, 6, -8, -6), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("White board"));
    if (m_picture.isNull())
        return;
    const QSize size = m_picture.size().boundedTo(rect().size() - QSize(16, 40));
    QRect place(QPoint(), size);
    if (m_destination == 40)
        place.moveCenter(rect().center());
    else
        place.moveBottomRight(rect().bottomRight() - QPoint(8, 8));
    painter.drawImage(place, m_picture, QRect(QPoint(), size));
    painter.drawText(place.adjusted(0, -18, 0, 0), Qt::AlignLeft | Qt::AlignTop, m_from);
}
