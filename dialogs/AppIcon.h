#pragma once

#include <QIcon>
#include <QPixmap>

// The program's icon (icon 128 of the resources): a small LED spectrum
// analyser, columns of lit chips with a peak chip over each, on a dark panel
// with a grey bevel. Drawn in code so that it is sharp at every size.

// The icon drawn at nSize x nSize pixels.
QPixmap AppIconPixmap(int nSize);

// The icon with the sizes window managers and task bars ask for.
QIcon AppIcon();
