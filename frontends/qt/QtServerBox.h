#pragma once
// The server box: an editable drop-down combo box whose field turns
// everything typed into lower case and takes no more text than fits its
// visible width (the field does not scroll sideways): a key that would not
// fit does nothing, a paste keeps the part that fits. Its list is not sorted.
#include <QComboBox>
#include <string>

class QtServerBox : public QComboBox {
    Q_OBJECT
public:
    QtServerBox(QWidget* parent, bool lowerCase, bool scrollsSideways);

    std::string WindowText() const;
    void SetWindowText(const std::string& text);
    // Case-insensitive prefix search over every entry, starting after entry 0
    // and wrapping round to it; the index or -1.
    int FindStringPrefix(const std::string& prefix) const;
    void InsertString(int index, const std::string& text);
    // Whether a text fits the field's visible width.
    bool Fits(const QString& text) const;

private:
    void SetFieldUnchecked(const QString& text);
    bool m_lowerCase;
};
