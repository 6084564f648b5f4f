#pragma once

#include <QImage>
#include <QSize>

// The pictures beside the hub's display-type buttons (bitmaps 132, 129, 130,
// 131 and 138 of the resources), made by the display code itself: a
// spectrum window of the type, with the default settings otherwise, is run
// headlessly for a moment on the built-in demo signal and its backing image
// is taken. So the pictures always show what the type really looks like.
//
// nType: a display type (TYPE_MONO ... TYPE_KEYBOARD). size: the window's size in pixels; the
// caller scales the picture down to where it shows it. A null image for an empty size.
//
// User-interface thread only. The picture is drawn with settings of its own:
// no process-wide setting, the change flag included, is read or changed.
QImage RenderTypePicture(int nType, QSize size);
