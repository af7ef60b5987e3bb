// The start-up floor: the smallest dialog the toolkit can show with as many
// widgets of the same kinds as the tool's dialog (a group box, an editable
// combo box, three buttons, four check boxes, a multi-line text pane, two
// labels) and a menu bar, run modally and reported by the same probe.
#include "ShownProbe.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ShownProbe probe;
    QDialog dialog;
    dialog.setWindowTitle("Bare dialog");
    auto* bar = new QMenuBar(&dialog);
    bar->setNativeMenuBar(false);
    bar->addMenu("&File")->addAction("&Quit\tESC");
    bar->setGeometry(0, 0, 500, bar->sizeHint().height());
    const int top = bar->sizeHint().height();

    (new QGroupBox("Time Server", &dialog))->setGeometry(12, top + 10, 470, 48);
    auto* server = new QComboBox(&dialog);
    server->setEditable(true);
    server->setGeometry(22, top + 28, 170, 22);
    (new QPushButton("&Go", &dialog))->setGeometry(198, top + 27, 52, 24);
    (new QCheckBox("Send from Port &123", &dialog))->setGeometry(258, top + 30, 116, 18);
    (new QCheckBox("Set System &Time", &dialog))->setGeometry(375, top + 30, 104, 18);
    (new QPlainTextEdit(&dialog))->setGeometry(10, top + 64, 478, 470);
    (new QLabel("", &dialog))->setGeometry(10, top + 537, 478, 16);
    (new QPushButton("&Quit", &dialog))->setGeometry(10, top + 560, 75, 24);
    (new QCheckBox("Auth", &dialog))->setGeometry(110, top + 563, 47, 18);
    (new QCheckBox("SNTP", &dialog))->setGeometry(160, top + 563, 52, 18);
    (new QLabel("V 1.9.2", &dialog))->setGeometry(222, top + 560, 70, 22);
    (new QPushButton("&Clear Log", &dialog))->setGeometry(305, top + 560, 60, 24);
    dialog.setFixedSize(500, top + 595);
    return dialog.exec();
}
