#pragma once
// A group box drawn the dialog way: an etched frame whose top edge runs
// through the middle of the caption, the caption on the dialog's background.
#include <QWidget>

class QtGroupBox : public QWidget {
    Q_OBJECT
public:
    QtGroupBox(const QString& title, QWidget* parent);
    QString Title() const { return m_title; }
    void SetTitle(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
};
