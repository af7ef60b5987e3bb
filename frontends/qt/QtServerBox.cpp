#include "frontends/qt/QtServerBox.h"

#include "frontends/qt/QtText.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QValidator>

namespace {

// Lower-cases what is typed and keeps of an insertion (a key, a paste, a
// drop) only as much as fits the field; deleting is always allowed.
class FieldValidator : public QValidator {
public:
    FieldValidator(QtServerBox* box, bool lowerCase, bool limitWidth)
        : QValidator(box), m_box(box), m_lowerCase(lowerCase), m_limitWidth(limitWidth)
    {
        // The text before each change, to tell what a change inserted.
        connect(box->lineEdit(), &QLineEdit::textChanged, this, [this](const QString& text) { m_before = text; });
    }

    State validate(QString& input, int& caret) const override
    {
        if (m_lowerCase)
            input = input.toLower();
        if (m_limitWidth && !m_box->Fits(input))
            KeepWhatFits(input, caret);
        return Acceptable;
    }

    void fixup(QString& input) const override
    {
        if (m_lowerCase)
            input = input.toLower();
    }

private:
    // The change replaced the middle of the text before it: the same head
    // and tail around an inserted part, which is cut from its end.
    void KeepWhatFits(QString& input, int& caret) const
    {
        const auto [head, tail] = ChangeBetween(input, m_before);
        const QString start = input.left(head);
        const QString end = input.right(tail);
        QString inserted = input.mid(head, input.size() - head - tail);
        while (!inserted.isEmpty() && !m_box->Fits(start + inserted + end))
            inserted.chop(1);
        input = start + inserted + end;
        caret = static_cast<int>(head + inserted.size());
    }

    QtServerBox* m_box;
    bool m_lowerCase;
    bool m_limitWidth;
    QString m_before;
};

} // namespace

QtServerBox::QtServerBox(QWidget* parent, bool lowerCase, bool scrollsSideways)
    : QComboBox(parent), m_lowerCase(lowerCase)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert); // the dialog keeps the history itself
    setCompleter(nullptr);                // the field completes nothing by itself
    setDuplicatesEnabled(true);
    lineEdit()->setValidator(new FieldValidator(this, lowerCase, !scrollsSideways));
}

bool QtServerBox::Fits(const QString& text) const
{
    const QLineEdit* field = lineEdit();
    const QMargins margins = field->textMargins();
    // QLineEdit keeps two pixels on either side and one for the caret.
    const int room = field->contentsRect().width() - margins.left() - margins.right() - 4 - 1;
    return QFontMetrics(field->font()).horizontalAdvance(text) <= room;
}

std::string QtServerBox::WindowText() const
{
    return FromQt(currentText());
}

void QtServerBox::SetWindowText(const std::string& text)
{
    const QString converted = ToQt(text);
    SetFieldUnchecked(m_lowerCase ? converted.toLower() : converted);
}

void QtServerBox::SetFieldUnchecked(const QString& text)
{
    // A text given by the program is kept even when it is wider than the
    // field; only typing is limited.
    const QValidator* validator = lineEdit()->validator();
    lineEdit()->setValidator(nullptr);
    setEditText(text);
    lineEdit()->setValidator(validator);
}

int QtServerBox::FindStringPrefix(const std::string& prefix) const
{
    const QString wanted = ToQt(prefix);
    const int n = count();
    for (int k = 1; k <= n; ++k) {
        const int i = k % n;
        if (itemText(i).startsWith(wanted, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

void QtServerBox::InsertString(int index, const std::string& text)
{
    const QString converted = ToQt(text);
    if (index < 0 || index > count())
        index = count();
    // Inserting never changes the field, not even into an empty list.
    const QString field = currentText();
    insertItem(index, m_lowerCase ? converted.toLower() : converted);
    if (currentText() != field)
        SetFieldUnchecked(field);
}
