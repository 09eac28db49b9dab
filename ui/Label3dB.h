// TLabel3DBorder: the framed, non-focusable text label of every window. It paints itself:
// background, one of six flat or 3-D borders, and the caption at the top, middle or bottom
// of the box, always 3 pixels inside the edges.
#pragma once

#include <QLabel>

class TLabel3DBorder : public QLabel {
  Q_OBJECT
  Q_PROPERTY(TVerticalAlign VerticalAlign READ VerticalAlign WRITE SetVerticalAlign)
  Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(bool ShowAccelChar READ ShowAccelChar WRITE SetShowAccelChar)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)

 public:
  enum TVerticalAlign { vaTop, vaCenter, vaBottom };
  Q_ENUM(TVerticalAlign)
  enum TBorderStyle { bsNone, bsLight, bsMedium, bsHeavy, bsFrame, bsRaisedFrame };
  Q_ENUM(TBorderStyle)

  static constexpr int kDefaultWidth = 84;
  static constexpr int kDefaultHeight = 21;
  static constexpr int kTextInset = 3;  // text area inside the client rectangle, every side

  explicit TLabel3DBorder(QWidget* owner = nullptr);
  TLabel3DBorder(const QString& caption, QWidget* owner = nullptr);

  TVerticalAlign VerticalAlign() const { return FVerticalAlign; }
  void SetVerticalAlign(TVerticalAlign value);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value);
  bool ShowAccelChar() const { return FShowAccelChar; }
  void SetShowAccelChar(bool value);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);
  // The background filled when not transparent (the palette's window colour).
  QColor Color() const;
  void SetColor(const QColor& value);
  void SetFontColor(const QColor& value);

  // The caption's extent with the label's font and drawing rules; an empty caption, or a
  // lone "&" when accelerators are shown, measures as one blank.
  QSize MeasureCaption() const;
  // The rectangle the caption is drawn into.
  QRect TextRect() const;

  // The label keeps the size it is given; layouts start from the default 84 x 21.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void clicked();
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  int DrawFlags() const;
  QString DisplayText() const;

  TVerticalAlign FVerticalAlign = vaTop;
  TBorderStyle FBorderStyle = bsNone;
  bool FShowAccelChar = true;
  bool FTransparent = false;
};
