#pragma once

class QWidget;

namespace EMS {

// Widgets created inside a frame that already carries a style sheet (as a generated
// form creates them) start from the application's font rather than their parent's:
// Qt's style sheet engine takes their font before it is resolved against the parent.
// This hands the frame's font to every widget inside it that has no font of its own.
void passFrameFontDown(QWidget *styledFrame);

} // namespace EMS
