#include "NumEdit.h"

#include "NumFormat.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPalette>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QValidator>

namespace vostrel {

// Typing, Ctrl+V, Shift+Insert and the context menu's Paste all end in the
// line edit's validation; this puts them through the edit's one check.
class TNumEdit::TValidator : public QValidator {
public:
    explicit TValidator(TNumEdit* edit) : QValidator(edit), m_edit(edit) {}

    State validate(QString& input, int& pos) const override
    {
        if (m_edit->m_showing)
            return Acceptable;
        return m_edit->Accept(input, &pos) ? Acceptable : Invalid;
    }

private:
    const TNumEdit* m_edit;
};

TNumEdit::TNumEdit(const QString& displayFormat, QWidget* parent)
    : QLineEdit(parent), m_format(displayFormat), m_textColor(Qt::black)
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setValidator(new TValidator(this));
    connect(this, &QLineEdit::inputRejected, this, [] { QApplication::beep(); });
    Show(ShownText(m_value));
    UpdatePalette();
}

bool TNumEdit::Accept(QString& text, int* pos) const
{
    QString fixed = text;
    int at = pos != nullptr ? *pos : 0;
    fixed.replace(QLatin1Char('.'), kDecimalSeparator);
    if (!m_typing && !UngroupDigits(fixed, m_format, &at))
        return false;
    static const QRegularExpression number(
        QStringLiteral("\\A-?[0-9]*(%1[0-9]{0,2})?\\z").arg(QRegularExpression::escape(kDecimalSeparator)));
    if (!number.match(fixed).hasMatch())
        return false;
    const bool noMinus = m_min >= 0 && m_max > 0;
    if (noMinus && fixed.startsWith(QLatin1Char('-')))
        return false;
    text = fixed;
    if (pos != nullptr)
        *pos = at;
    return true;
}

bool TNumEdit::IsAcceptableInput(const QString& text) const
{
    QString t = text;
    return Accept(t);
}

long double TNumEdit::Clamp(long double v) const
{
    if (m_min != m_max) {
        if (v < m_min)
            return m_min;
        if (v > m_max)
            return m_max;
    }
    return v;
}

long double TNumEdit::Value() const
{
    return Clamp(ParseNumber(text()));
}

QString TNumEdit::ShownText(long double v) const
{
    return m_editing ? FormatPlain(v) : FormatPattern(v, m_format);
}

void TNumEdit::Show(const QString& t)
{
    // The check of input would drop the pattern's blanks or refuse the text,
    // which beeps, and a text that failed keeps the line edit from undoing a
    // refused paste.
    const QScopedValueRollback<bool> showing(m_showing, true);
    if (t != text())
        setText(t);
}

void TNumEdit::SetValue(long double v)
{
    m_value = Clamp(v);
    Show(ShownText(m_value));
}

void TNumEdit::SetLimits(long double minValue, long double maxValue)
{
    const long double before = Value();
    m_min = minValue;
    m_max = maxValue;
    if (Clamp(before) != before)
        SetValue(before);
}

void TNumEdit::SetTextColor(const QColor& c)
{
    m_textColor = c;
    UpdatePalette();
}

void TNumEdit::UpdatePalette()
{
    // A disabled edit keeps its value colour; only an edit disabled by
    // itself (not by its group) gets the grey ground.
    QPalette pal = palette();
    const QColor ground = testAttribute(Qt::WA_ForceDisabled) ? QColor(240, 240, 240) : QColor(Qt::white);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Text, m_textColor);
        pal.setColor(group, QPalette::Base, ground);
    }
    setPalette(pal);
}

void TNumEdit::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    if (m_editing)
        return;  // back from its own context menu: text and selection as they were
    m_editing = true;
    Show(FormatPlain(Value()));
    if (e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason)
        selectAll();
}

void TNumEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    // The focus only went to the edit's own context menu: the operator is
    // still editing, and its Paste must find the selection where it was.
    const QWidget* popup = QApplication::activePopupWidget();
    if (e->reason() == Qt::PopupFocusReason && popup != nullptr && popup->parentWidget() == this)
        return;
    m_editing = false;
    m_value = Value();
    Show(FormatPattern(m_value, m_format));
}

void TNumEdit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        Show(ShownText(m_value));
        e->accept();
        return;
    }
    // Ctrl+V and Shift+Insert bring pasted text, which may come grouped.
    const QScopedValueRollback<bool> typing(m_typing, !e->matches(QKeySequence::Paste));
    QLineEdit::keyPressEvent(e);
}

void TNumEdit::inputMethodEvent(QInputMethodEvent* e)
{
    const QScopedValueRollback<bool> typing(m_typing, true);
    QLineEdit::inputMethodEvent(e);
}

bool TNumEdit::Receive(const QString& incoming, const QPoint& at)
{
    QString t = incoming;
    if (!m_editing) {
        // The pattern shown is no number to edit: the text replaces the number.
        if (!Accept(t)) {
            emit inputRejected();
            return false;
        }
        SetValue(ParseNumber(t));
        return true;
    }
    if (!hasSelectedText())
        setCursorPosition(cursorPositionAt(at));
    const qsizetype from = hasSelectedText() ? selectionStart() : cursorPosition();
    t = text();
    t.replace(from, selectedText().size(), incoming);
    if (!Accept(t)) {
        emit inputRejected();
        return false;
    }
    insert(incoming);
    return true;
}

bool TNumEdit::SelectionPaste(const QMouseEvent* e) const
{
    return e->button() == Qt::MiddleButton && !isReadOnly() && QApplication::clipboard()->supportsSelection();
}

void TNumEdit::mousePressEvent(QMouseEvent* e)
{
    // The line edit would drop the selection here, before the paste.
    if (SelectionPaste(e)) {
        e->accept();
        return;
    }
    QLineEdit::mousePressEvent(e);
}

void TNumEdit::mouseReleaseEvent(QMouseEvent* e)
{
    if (SelectionPaste(e)) {
        e->accept();
        if (rect().contains(e->position().toPoint()))
            Receive(QApplication::clipboard()->text(QClipboard::Selection), e->position().toPoint());
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}

bool TNumEdit::KeepsDropPlace(const QDropEvent* e) const
{
    // The line edit moves the cursor under a drag and so drops the
    // selection the text is meant to replace; a pattern has no place at all.
    return !isReadOnly() && e->mimeData()->hasText() && (hasSelectedText() || !m_editing);
}

void TNumEdit::dragEnterEvent(QDragEnterEvent* e)
{
    if (KeepsDropPlace(e)) {
        e->acceptProposedAction();
        return;
    }
    QLineEdit::dragEnterEvent(e);
}

void TNumEdit::dragMoveEvent(QDragMoveEvent* e)
{
    if (KeepsDropPlace(e)) {
        e->acceptProposedAction();
        return;
    }
    QLineEdit::dragMoveEvent(e);
}

void TNumEdit::dropEvent(QDropEvent* e)
{
    if (isReadOnly() || !e->mimeData()->hasText()) {
        QLineEdit::dropEvent(e);
        return;
    }
    if (!Receive(e->mimeData()->text(), e->position().toPoint())) {
        e->ignore();  // a moved text stays where it came from
        return;
    }
    // A move within the edit went over its own selection: nothing to remove.
    if (e->source() == this)
        e->setDropAction(Qt::CopyAction);
    else
        e->setDropAction(e->proposedAction());
    e->accept();
}

void TNumEdit::changeEvent(QEvent* e)
{
    QLineEdit::changeEvent(e);
    if (e->type() == QEvent::EnabledChange)
        UpdatePalette();
}

}  // namespace vostrel
