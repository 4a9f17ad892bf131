#include "NumEdit.h"

#include "NumFormat.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPalette>
#include <QRegularExpression>
#include <QValidator>

namespace vostrel {

namespace {

// Refuses every keystroke or paste whose result is no longer a number.
class TNumValidator : public QValidator {
public:
    explicit TNumValidator(const TNumEdit* edit) : QValidator(const_cast<TNumEdit*>(edit)), m_edit(edit) {}

    State validate(QString& input, int& /*pos*/) const override
    {
        QString fixed = input;
        fixed.replace(QLatin1Char('.'), kDecimalSeparator);
        if (!m_edit->IsAcceptableInput(fixed))
            return Invalid;
        input = fixed;  // same length, so the cursor stays where it was
        return Acceptable;
    }

private:
    const TNumEdit* m_edit;
};

}  // namespace

TNumEdit::TNumEdit(const QString& displayFormat, QWidget* parent)
    : QLineEdit(parent), m_format(displayFormat), m_textColor(Qt::black)
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setValidator(new TNumValidator(this));
    connect(this, &QLineEdit::inputRejected, this, [] { QApplication::beep(); });
    setText(ShownText(m_value));
    UpdatePalette();
}

bool TNumEdit::IsAcceptableInput(const QString& text) const
{
    QString fixed = text;
    fixed.replace(QLatin1Char('.'), kDecimalSeparator);
    static const QRegularExpression number(
        QStringLiteral("\\A-?[0-9]*(%1[0-9]{0,2})?\\z").arg(QRegularExpression::escape(kDecimalSeparator)));
    if (!number.match(fixed).hasMatch())
        return false;
    const bool noMinus = m_min >= 0 && m_max > 0;
    return !(noMinus && fixed.startsWith(QLatin1Char('-')));
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
    return hasFocus() ? FormatPlain(v) : FormatPattern(v, m_format);
}

void TNumEdit::SetValue(long double v)
{
    m_value = Clamp(v);
    const QString t = ShownText(m_value);
    if (t != text())
        setText(t);
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
    const QString t = FormatPlain(Value());
    QLineEdit::focusInEvent(e);
    if (t != text())
        setText(t);
    if (e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason)
        selectAll();
}

void TNumEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    m_value = Value();
    const QString t = FormatPattern(m_value, m_format);
    if (t != text())
        setText(t);
}

void TNumEdit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        const QString t = ShownText(m_value);
        if (t != text())
            setText(t);
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void TNumEdit::changeEvent(QEvent* e)
{
    QLineEdit::changeEvent(e);
    if (e->type() == QEvent::EnabledChange)
        UpdatePalette();
}

}  // namespace vostrel
