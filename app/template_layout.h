#pragma once

class QWidget;

namespace quillon {

// Lays out a window that setupUi has built from a template in dialog units: every direct
// child placed for the window's font (DialogUnits); a drop-down list as high as the style
// draws it closed, with as many entries open as its template height holds; texts, check boxes
// and the image file field grown around their centre where the style needs more room. The
// laid-out template, widened to hold every control whole, is the window's size and minimum.
void LayOutTemplate(QWidget& window);

}  // namespace quillon
