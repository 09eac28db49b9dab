// The maker's logo in the contact panel, drawn by the program itself so that it scales to
// whatever box it is given.
#pragma once

#include <QWidget>

class TLogoImage : public QWidget {
  Q_OBJECT

 public:
  explicit TLogoImage(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {205, 61}; }

 signals:
  void clicked();
  void mouseEntered();
  void mouseLeft();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
};
