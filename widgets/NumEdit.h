// A one-line edit for a decimal number, right-aligned, without buttons.
// While focused it shows the plain number; otherwise its display pattern.
#pragma once

#include <QColor>
#include <QLineEdit>
#include <QString>

namespace vostrel {

class TNumEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TNumEdit(const QString& displayFormat, QWidget* parent = nullptr);

    // The number in the text, brought into the limits when they differ;
    // empty text is 0. Reads the text as it stands, focused or not.
    long double Value() const;
    // Brings v into the limits, keeps it as the value Escape returns to and
    // shows it; a changed text emits textChanged before this returns.
    void SetValue(long double v);

    // Equal limits mean none. A value outside new limits moves to the nearer one.
    void SetLimits(long double minValue, long double maxValue);
    long double MinValue() const { return m_min; }
    long double MaxValue() const { return m_max; }
    const QString& DisplayFormat() const { return m_format; }

    void SetTextColor(const QColor& c);
    QColor TextColor() const { return m_textColor; }

    // Whether text would be accepted when pasted over the edit's text; '.'
    // and ',' both stand for the decimal comma, and digit groups may be
    // separated as the edits show them.
    bool IsAcceptableInput(const QString& text) const;

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    class TValidator;

    // The one check of all text entering the edit, by whatever route: true
    // when text may become the text, then with its decimal separator made
    // the comma and digit-group separators dropped; *pos (when given), the
    // cursor in text, keeps its place.
    bool Accept(QString& text, int* pos = nullptr) const;
    // Text from a drop or the selection clipboard: over the selection when
    // there is one, else at the point; false when refused.
    bool Receive(const QString& incoming, const QPoint& at);
    bool SelectionPaste(const QMouseEvent* e) const;
    bool KeepsDropPlace(const QDropEvent* e) const;
    long double Clamp(long double v) const;
    QString ShownText(long double v) const;
    // Sets text the edit shows by itself, which is no input to check.
    void Show(const QString& t);
    void UpdatePalette();

    QString m_format;
    long double m_value = 0;
    long double m_min = 0;
    long double m_max = 0;
    QColor m_textColor;
    // The plain number is shown: focused, or in its own context menu.
    bool m_editing = false;
    bool m_showing = false;
    // A key is being typed: a blank typed groups no digits and stays refused.
    bool m_typing = false;
};

}  // namespace vostrel
