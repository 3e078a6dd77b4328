#pragma once
// The program's colours, shared by the images and the screen.
#include <QColor>

namespace fm::palette {

inline const QColor panel{13, 17, 23};
inline const QColor panelRaised{30, 37, 46};
inline const QColor rim{70, 82, 96};
inline const QColor text{226, 232, 240};
inline const QColor textDim{128, 142, 160};
inline const QColor accent{79, 209, 197};
inline const QColor amber{246, 173, 85};
inline const QColor recordRed{229, 62, 62};

}  // namespace fm::palette
