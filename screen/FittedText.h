#pragma once
// Text that must be read whole: shown in its label at the given size when it fits, otherwise in
// the largest smaller size that fits the label's width, never clipped.
#include <QString>

class QLabel;

namespace fm::screen {

// Sets `text` on `label`, in the label's font at `fullPixelSize` or smaller.
void setTextFittingWidth(QLabel* label, const QString& text, int fullPixelSize);

// `text` with every digit an 8: the widest digit, so a size that fits the shape fits every
// reading of that shape.
QString digitsAsEights(const QString& text);

}  // namespace fm::screen
