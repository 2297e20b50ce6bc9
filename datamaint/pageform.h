#ifndef DATAMAINT_PAGEFORM_H
#define DATAMAINT_PAGEFORM_H

#include <QRect>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// Pieces shared by the forms of the main window and of the task pages.
namespace PageForm {

// Light rounded button, darker while pressed.
QString buttonStyleSheet();

// A push button with the program's button style: fixed size, minimum
// 178 x 50, 18 pt, no keyboard focus.
QPushButton* makeButton(QWidget* parent, const char* objectName, const QRect& geometry,
                        const QString& text);

// A light label centred both ways, with the given font size and weight.
QLabel* makeLabel(QWidget* parent, const char* objectName, const QRect& geometry, int pointSize,
                  int weight, const QString& text);

// Names and sizes a task page: 1920 x 720 at the top left of its parent,
// object name `className` unless it has one, window title "Form".
void setupPage(QWidget* page, const char* className);

// One tick of the reboot countdown shown in `label`: while *count is above
// 0 it shows "N秒後自動重啟", counts down and returns true (the page re-arms
// its one-second timer); at 0 it returns false.
bool countdownTick(QLabel* label, int* count);

// Sets `text` on `label`, elided in the middle when it is wider than the
// label, so that both ends of a long file name stay visible.
void setElidedText(QLabel* label, const QString& text);

// Logs the page's device path; true when the program was started to run
// this page's task by itself (control type `autoControlType`), with
// `button` hidden: the page then starts its task on a timer.
bool startsByItself(const char* pageName, const QString& devicePath, QPushButton* button,
                    int autoControlType);

// Logs `text` as the page's note and shows it in `label`, elided.
void showNote(QLabel* label, const QString& text);

// Shows the wait note in `label` and reboots through the command runner.
void rebootWithNote(QLabel* label);

// Geometry of the page widgets.
inline QRect titleRect()
{
    return QRect(0, 40, 1920, 81);
}
inline QRect noteRect()
{
    return QRect(0, 190, 1920, 81);
}
inline QRect renoteRect()
{
    return QRect(0, 310, 1920, 81);
}
inline QRect pageButtonRect()
{
    return QRect(800, 450, 320, 81);
}

}  // namespace PageForm

#endif  // DATAMAINT_PAGEFORM_H
