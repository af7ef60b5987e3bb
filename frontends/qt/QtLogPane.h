#pragma once
// The read-only log pane. It keeps the exact 8-bit text it was given: the
// operator cannot change the text, so that copy is the pane's text, and
// reading it back returns it byte for byte.
#include <QPlainTextEdit>
#include <string>

class QtLogPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit QtLogPane(QWidget* parent);

    void SetWindowText(const std::string& text);
    const std::string& WindowText() const { return m_text; }
    // Positions count characters of the 8-bit text; start -1 removes the
    // selection, end -1 means the end of the text.
    void SetSelection8(int start, int end);
    int SelectionStart8() const;
    int SelectionEnd8() const;
    // Scrolls the caret into view, sideways too (there is no horizontal bar).
    void ScrollCaret();
    // Paints the pane at once, even while the interface thread stays busy.
    void RepaintNow();

private:
    void ReplaceChangedPart(const QString& shown);
    std::string m_text;
    QString m_shown; // m_text as the document holds it
};
