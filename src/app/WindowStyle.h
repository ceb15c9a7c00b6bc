#pragma once
// The look shared by the main window and the splash: colours, the 8-point font,
// heading bars, group frames, buttons and check boxes.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace korbu {

inline const QColor kBarFace(202, 240, 255);  // face of the heading bars
inline const QColor kFrameBlue(0, 128, 255);  // frames and the bars' shadows
inline const QColor kNavy(0, 0, 128);         // text of the bars and the instruction

/// Tahoma at the given point size where the machine has it, else the
/// application's own family at that size.
/// A button's or option box's caption with its access key.
QString Keyed(const QString& caption);

QFont WindowFont(int pointSize = 8, bool bold = false);

/// A light blue bar with navy bold text, used to head a group.
QLabel* MakeHeadingBar(QWidget* parent, const QString& name, const QString& caption);

/// A one-pixel blue frame around a group.
QFrame* MakeGroupFrame(QWidget* parent, const QString& name);

/// The width that shows the widest of the captions whole in the window's font.
int CaptionWidth(const QStringList& captions);

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption,
                  bool bold = false);
QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption);
/// A check box with bold text; the Fusion style draws it flat.
QCheckBox* MakeFlatCheckBox(QWidget* parent, const QString& name, const QString& caption);

}  // namespace korbu
