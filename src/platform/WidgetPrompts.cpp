#include "platform/WidgetPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>

namespace platform {

namespace {

QWidget *owner() { return QApplication::activeWindow(); }

// Message texts use "\r" for a line break inside the box.
QString boxText(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace('\r', '\n');
    return t;
}

QString title() { return QApplication::applicationName(); }

} // namespace

void WidgetPrompts::warning(const QString &text)
{
    QMessageBox::warning(owner(), title(), boxText(text));
}

void WidgetPrompts::information(const QString &text)
{
    QMessageBox::information(owner(), title(), boxText(text));
}

void WidgetPrompts::plain(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), boxText(text), QMessageBox::Ok, owner());
    box.exec();
}

void WidgetPrompts::error(const QString &text)
{
    QMessageBox::critical(owner(), title(), boxText(text));
}

Answer WidgetPrompts::confirmYesNo(const QString &text)
{
    return QMessageBox::question(owner(), title(), boxText(text),
                                 QMessageBox::Yes | QMessageBox::No)
                   == QMessageBox::Yes
        ? Answer::Yes
        : Answer::No;
}

Answer WidgetPrompts::confirmYesNoCancel(const QString &text)
{
    switch (QMessageBox::question(owner(), title(), boxText(text),
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

std::optional<QString> WidgetPrompts::fileOpen(const QString &caption, const QString &dir,
                                               const QString &filter)
{
    const QString path = QFileDialog::getOpenFileName(owner(), caption, dir, filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> WidgetPrompts::fileSave(const QString &caption, const QString &path,
                                               const QString &filter)
{
    const QString chosen = QFileDialog::getSaveFileName(owner(), caption, path, filter);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

std::optional<QString> WidgetPrompts::font(const QString &currentFace)
{
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, QFont(currentFace), owner());
    if (!ok)
        return std::nullopt;
    return chosen.family();
}

} // namespace platform
