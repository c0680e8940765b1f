#pragma once
// A small clickable image: reports a press with any mouse button, with the press position, as the
// variable buttons need it.
#include <QLabel>
#include <QPixmap>
#include <QPoint>

namespace klvr::qt {

class ImageButton : public QLabel {
    Q_OBJECT

  public:
    ImageButton(const QPixmap& image, QWidget* parent);

  signals:
    void pressed(const QPoint& position);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The 16 x 16 image of a variable button.
QPixmap VariableButtonImage();
// The image of the button that starts the certificate-management program.
QPixmap CertificateManagerImage();

}  // namespace klvr::qt
