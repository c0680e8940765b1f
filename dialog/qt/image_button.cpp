#include "dialog/qt/image_button.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace klvr::qt {

ImageButton::ImageButton(const QPixmap& image, QWidget* parent) : QLabel(parent) {
    setPixmap(image);
    setFixedSize(image.size() / image.devicePixelRatio());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void ImageButton::mousePressEvent(QMouseEvent* event) {
    event->accept();
    emit pressed(event->position().toPoint());
}

QPixmap VariableButtonImage() {
    QPixmap image(16, 16);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x2f, 0x5f, 0x9f), 1));
    p.setBrush(QColor(0xe4, 0xee, 0xfa));
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    // angle brackets, as the tokens the menu inserts are written
    p.setPen(QPen(QColor(0x1d, 0x3f, 0x6e), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath left;
    left.moveTo(6.5, 4.5);
    left.lineTo(3.5, 8);
    left.lineTo(6.5, 11.5);
    QPainterPath right;
    right.moveTo(9.5, 4.5);
    right.lineTo(12.5, 8);
    right.lineTo(9.5, 11.5);
    p.setBrush(Qt::NoBrush);
    p.drawPath(left);
    p.drawPath(right);
    return image;
}

QPixmap CertificateManagerImage() {
    QPixmap image(24, 24);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // a sheet with lines of text and a seal
    p.setPen(QPen(QColor(0x6b, 0x6b, 0x6b), 1));
    p.setBrush(QColor(0xfd, 0xfb, 0xf2));
    p.drawRect(QRectF(1.5, 3.5, 21, 15));
    p.setPen(QPen(QColor(0x9a, 0x9a, 0x9a), 1));
    for (qreal y : {7.5, 10.5, 13.5}) p.drawLine(QPointF(4, y), QPointF(13, y));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc0, 0x39, 0x2b));
    p.drawPolygon(QPolygonF(
        {QPointF(15, 16), QPointF(17, 22.5), QPointF(18, 19.5), QPointF(20, 22.5), QPointF(21, 16)}));
    p.setBrush(QColor(0xd9, 0x4f, 0x3d));
    p.drawEllipse(QPointF(18, 14), 3.6, 3.6);
    return image;
}

}  // namespace klvr::qt
