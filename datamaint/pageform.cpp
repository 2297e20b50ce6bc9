#include "pageform.h"

#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QSizePolicy>
#include <QWidget>

namespace PageForm {

QString buttonStyleSheet()
{
    return QStringLiteral(
        "QPushButton{background-color: rgb(238, 238, 236); color: rgb(0, 0, 0); "
        "border-radius: 10px; border: none;}\n"
        "QPushButton:pressed{background-color: rgb(186, 189, 182); color: rgb(0, 0, 0); "
        "border-radius: 10px; border: none;}");
}

QPushButton* makeButton(QWidget* parent, const char* objectName, const QRect& geometry,
                        const QString& text)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setGeometry(geometry);
    QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    policy.setHeightForWidth(button->sizePolicy().hasHeightForWidth());
    button->setSizePolicy(policy);
    button->setMinimumSize(QSize(178, 50));
    QFont font;
    font.setPointSize(18);
    button->setFont(font);
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(buttonStyleSheet());
    button->setText(text);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* objectName, const QRect& geometry, int pointSize,
                  int weight, const QString& text)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setGeometry(geometry);
    QFont font;
    font.setPointSize(pointSize);
    font.setWeight(weight);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: rgb(238, 238, 236);"));
    label->setAlignment(Qt::AlignCenter);
    label->setText(text);
    return label;
}

void setupPage(QWidget* page, const char* className)
{
    if (page->objectName().isEmpty())
        page->setObjectName(QString::fromLatin1(className));
    page->setGeometry(0, 0, 1920, 720);
    page->setWindowTitle(QCoreApplication::translate(className, "Form"));
}

bool countdownTick(QLabel* label, int* count)
{
    if (*count < 1)
        return false;
    label->show();
    label->setText(QString::number(*count) +
                   QCoreApplication::translate("PageForm", "秒後自動重啟"));
    --*count;
    return true;
}

void setElidedText(QLabel* label, const QString& text)
{
    const QFontMetrics metrics(label->font());
    label->setText(metrics.elidedText(text, Qt::ElideMiddle, label->contentsRect().width()));
}

bool startsByItself(const char* pageName, const QString& devicePath, QPushButton* button,
                    int autoControlType)
{
    qDebug().noquote() << "===" << pageName << " mPathBackData " << devicePath;
    if (Utils::getSDevControlType() != autoControlType)
        return false;
    button->hide();
    return true;
}

void showNote(QLabel* label, const QString& text)
{
    qDebug().noquote() << "==="
                       << "updateLabelNote" << text;
    setElidedText(label, text);
}

void rebootWithNote(QLabel* label)
{
    label->setText(QCoreApplication::translate("PageForm", "等待設備重啟，請拔出U盤"));
    qDebug().noquote() << "==="
                       << "handleRebootCount"
                       << " reboot";
    Utils::runCommand(Utils::rebootProgram(), QStringList());
}

}  // namespace PageForm
