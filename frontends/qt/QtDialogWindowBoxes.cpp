// The modal boxes the dialog owns: message boxes and the save-file dialog.
#include "frontends/qt/QtDialogWindow.h"

#include "frontends/qt/QtFileFilter.h"
#include "frontends/qt/QtText.h"
#include "frontends/qt/QtUiCalls.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

void QtDialogWindow::MessageBox(const std::string& text, MessageIcon icon)
{
    m_calls->Run([&] {
        QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                        ApplicationName(), ToQt(text), QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
}

bool QtDialogWindow::SaveFileDialog(const std::string& initialName, const std::string& filter,
                                    std::string& path)
{
    return m_calls->Run([&] {
        QFileDialog dialog(this);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setNameFilters(NameFiltersFromPairs(filter));
        // File names are the file system's bytes, not window text.
        dialog.selectFile(QFile::decodeName(initialName.c_str()));
        for (;;) {
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return false;
            const QString chosen = dialog.selectedFiles().constFirst();
            if (QFileInfo(chosen).dir().exists()) {
                path = QFile::encodeName(chosen).toStdString();
                return true;
            }
            // The folder must exist: say so and ask again.
            QMessageBox::warning(&dialog, dialog.windowTitle(),
                                 QStringLiteral("%1\nPath does not exist.\nCheck the path and try again.")
                                     .arg(QFileInfo(chosen).path()));
        }
    });
}
