// The badge of the logo (an infrared beam leaving a small dock) on its own, so the program's
// icon is drawn by the same lines as the logo in the window.
#pragma once

class QPainter;

// Paints the badge into the square (3, 4)-(56, 57) of the logo's 205 x 61 design grid.
void PaintLogoBadge(QPainter& p);
