#include "desktop/QtDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

QString QtDialogs::inputBox(const QString &prompt, const QString &title)
{
    QInputDialog dialog(m_parent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(QString());
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Annuler"));
    // The prompt may carry a keyword or an address: never read as markup.
    for (QLabel *label : dialog.findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

void QtDialogs::messageBox(const QString &text, const QString &title, Icon icon)
{
    static const QMap<Icon, QMessageBox::Icon> kIcons = {
        {Icon::None, QMessageBox::NoIcon},
        {Icon::Information, QMessageBox::Information},
        {Icon::Question, QMessageBox::Question},
        {Icon::Warning, QMessageBox::Warning},
        {Icon::Critical, QMessageBox::Critical}};
    QMessageBox box(kIcons.value(icon), title, QString(), QMessageBox::Ok, m_parent);
    // Texts shown here may carry names from outside; they are never read as markup.
    box.setTextFormat(Qt::PlainText);
    // The program's box texts break their lines with a lone carriage return.
    box.setText(
        QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n'));
    box.exec();
}

QString QtDialogs::openFile(const QString &filter, const QString &fileName)
{
    QFileDialog dialog(m_parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(qtFilter(filter));
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return fileName;
    return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
}

QString QtDialogs::qtFilter(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters.append(
            QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(u';', u' ')));
    return filters.join(QStringLiteral(";;"));
}
