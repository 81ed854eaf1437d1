#include "platform/WidgetPrompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

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

std::optional<FileOpenChoice> WidgetPrompts::fileOpenChoice(const QString &caption,
                                                             const QString &dir,
                                                             const QString &filter,
                                                             bool offerReadOnly)
{
    if (!offerReadOnly) {
        const QString path = QFileDialog::getOpenFileName(owner(), caption, dir, filter);
        if (path.isEmpty())
            return std::nullopt;
        return FileOpenChoice{path, false};
    }
    // The platform's own dialogs take no extra controls, so the box needs Qt's dialog.
    QFileDialog dialog(owner(), caption, dir, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    auto *readOnly = new QCheckBox(QObject::tr("Open as &read-only"), &dialog);
    readOnly->setObjectName("readOnly");
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
        grid->addWidget(readOnly, grid->rowCount(), 0, 1, grid->columnCount());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return FileOpenChoice{dialog.selectedFiles().constFirst(), readOnly->isChecked()};
}

std::optional<QString> WidgetPrompts::fileSave(const QString &caption, const QString &path,
                                               const QString &filter)
{
    const QString chosen = QFileDialog::getSaveFileName(owner(), caption, path, filter);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

std::optional<FontChoice> WidgetPrompts::fontChoice(const FontChoice &current)
{
    // Qt's font dialog has no colour, so it is embedded with a colour button beside
    // its own face, style, size and effects.
    QDialog dialog(owner());
    dialog.setWindowTitle(QObject::tr("Font"));
    auto *fonts = new QFontDialog(&dialog);
    fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    fonts->setWindowFlags(Qt::Widget);
    QFont start(current.family);
    if (current.pointSize > 0)
        start.setPointSize(current.pointSize);
    start.setBold(current.bold);
    start.setItalic(current.italic);
    start.setUnderline(current.underline);
    start.setStrikeOut(current.strikeOut);
    fonts->setCurrentFont(start);

    QColor colour(current.colour.isEmpty() ? QStringLiteral("#000000") : current.colour);
    bool colourChosen = false;
    auto *colourButton = new QPushButton(QObject::tr("&Color..."), &dialog);
    auto *swatch = new QLabel(&dialog);
    swatch->setFixedSize(40, 20);
    const auto showColour = [&] {
        swatch->setStyleSheet(QStringLiteral("background:%1;border:1px solid gray")
                                  .arg(colour.name()));
    };
    showColour();
    QObject::connect(colourButton, &QPushButton::clicked, &dialog, [&] {
        const QColor picked = QColorDialog::getColor(colour, &dialog);
        if (picked.isValid()) {
            colour = picked;
            colourChosen = true;
            showColour();
        }
    });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addWidget(colourButton);
    row->addWidget(swatch);
    row->addStretch();
    row->addWidget(buttons);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(fonts);
    layout->addLayout(row);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;

    const QFont chosen = fonts->currentFont();
    FontChoice out;
    out.family = chosen.family();
    out.pointSize = chosen.pointSize() > 0 ? chosen.pointSize() : 0;
    out.bold = chosen.bold();
    out.italic = chosen.italic();
    out.underline = chosen.underline();
    out.strikeOut = chosen.strikeOut();
    if (colourChosen || !current.colour.isEmpty())
        out.colour = colour.name();
    return out;
}

} // namespace platform
