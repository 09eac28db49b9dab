// Writes the program's icon as a PNG: the logo's badge, filling a square of the given size.
//   beamdock-icon FILE.png SIZE
#include "ui/LogoBadge.h"

#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const int size = argc == 3 ? std::atoi(argv[2]) : 0;
  if (size < 16 || size > 1024) {
    std::fprintf(stderr, "usage: beamdock-icon FILE.png SIZE (16 to 1024)\n");
    return 64;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 53.0, size / 53.0);
    p.translate(-3, -4);
    PaintLogoBadge(p);
  }
  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "beamdock-icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
