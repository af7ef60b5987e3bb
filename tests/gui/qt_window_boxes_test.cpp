// The modal boxes of the Qt window: message boxes captioned with the
// program's name, and the save-file dialog with its filter and rules.
#include "support/QtTestMain.h"
#include "support/QtWindowDriver.h"

#include "ui/ControlIds.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qtdriver;

namespace {

// Answers each save-file dialog that comes up with the next step; records
// what the dialog offered.
class FileDialogAnswerer {
public:
    // A path to enter and accept, or an empty one to cancel.
    explicit FileDialogAnswerer(std::vector<QString> steps) : m_steps(std::move(steps))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Answer(); });
        m_timer.start();
    }
    QStringList filters;
    QString initialName;
    bool confirmsOverwrite = true;
    QString defaultSuffix = "unset";
    int shown = 0;

private:
    void Answer()
    {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || m_steps.empty())
            return;
        ++shown;
        filters = dialog->nameFilters();
        if (initialName.isEmpty() && !dialog->selectedFiles().isEmpty())
            initialName = QFileInfo(dialog->selectedFiles().constFirst()).fileName();
        confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        defaultSuffix = dialog->defaultSuffix();
        const QString step = m_steps.front();
        m_steps.erase(m_steps.begin());
        if (step.isEmpty()) {
            dialog->reject();
        } else {
            // Typed into the file-name field as the operator would: selectFile
            // leaves that field alone once it has the keyboard focus, which
            // arrives whenever the window system activates the dialog.
            if (auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                field->setText(step);
            else
                dialog->selectFile(step); // a dialog of the platform's own
            QMetaObject::invokeMethod(dialog, "accept"); // accept() is protected
        }
    }
    std::vector<QString> m_steps;
    QTimer m_timer;
};

} // namespace

TEST(QtWindowBoxes, MessageBoxesCarryTheProgramNameAndTheirIcon)
{
    QtDialogWindow window(IDD_MAIN);
    window.show();
    MessageBoxAnswerer answers;
    window.MessageBox("Invalid Port.", MessageIcon::None);
    window.MessageBox("Cannot use port 123 (NTP).\nSee log for details.", MessageIcon::Error);
    ASSERT_EQ(answers.Seen().size(), 2u);
    EXPECT_EQ(answers.Seen()[0].text, "Invalid Port.");
    EXPECT_EQ(answers.Seen()[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(answers.Seen()[1].text, "Cannot use port 123 (NTP).\nSee log for details.");
    EXPECT_EQ(answers.Seen()[1].icon, QMessageBox::Critical);
    for (const SeenBox& box : answers.Seen())
        EXPECT_EQ(box.title, QtDialogWindow::ApplicationName());
    // The name is the program file's name without its extension.
    EXPECT_EQ(QtDialogWindow::ApplicationName(), "gui_qt_window_boxes_test");
}

TEST(QtWindowBoxes, SaveFileDialogOffersTheFilterAndNameAndReturnsThePath)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QtDialogWindow window(IDD_MAIN);
    window.show();
    const QString target = dir.filePath("jitter.csv");
    FileDialogAnswerer answers({target});
    std::string path;
    ASSERT_TRUE(window.SaveFileDialog("jitter.csv", "Jitter Log (*.csv)|*.csv||", path));
    EXPECT_EQ(QString::fromStdString(path), target);
    EXPECT_EQ(answers.filters, QStringList{"Jitter Log (*.csv)"});
    EXPECT_EQ(answers.initialName, "jitter.csv");
    EXPECT_FALSE(answers.confirmsOverwrite);
    EXPECT_TRUE(answers.defaultSuffix.isEmpty());
}

TEST(QtWindowBoxes, SaveFileDialogInsistsOnAnExistingFolderAndCanBeCancelled)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QtDialogWindow window(IDD_MAIN);
    window.show();
    MessageBoxAnswerer warnings;
    // A file in a folder that is not there, then cancel.
    FileDialogAnswerer answers({dir.filePath("missing/jitter.csv"), QString()});
    std::string path = "unchanged";
    EXPECT_FALSE(window.SaveFileDialog("jitter.csv", "Jitter Log (*.csv)|*.csv||", path));
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(answers.shown, 2);
    ASSERT_EQ(warnings.Seen().size(), 1u);
    EXPECT_TRUE(warnings.Seen()[0].text.contains("missing"));
}

HOROLAB_QT_TEST_MAIN()
