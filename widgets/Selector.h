// A selector: a white panel that shows one value of a fixed list, keeps the
// value's code in its tag and carries a left and a right arrow button.
// The owner decides what the arrows do; the panel only shows and emits.
#pragma once

#include <QColor>
#include <QFrame>
#include <QMap>
#include <QString>

class QToolButton;

namespace vostrel {

class TSelector : public QFrame {
    Q_OBJECT
public:
    // name is the panel's object name ("panStep"); the arrows are named
    // "spb" + name without "pan" + "_left" / "_right".
    // The first code is the initial tag; its caption shows unless blank is set.
    TSelector(const QString& name, const QMap<int, QString>& captions, QWidget* parent = nullptr, bool blank = false);

    int Tag() const { return m_tag; }
    // Sets the tag and the caption of that code together; codes outside the
    // list are ignored, so the tag is always one of the codes.
    void SetTag(int code);
    const QString& Caption() const { return m_caption; }

    void SetCaptionColor(const QColor& c);
    QColor CaptionColor() const { return m_captionColor; }
    void SetBorderColor(const QColor& c);

    QToolButton* LeftButton() const { return m_left; }
    QToolButton* RightButton() const { return m_right; }

signals:
    void leftClicked();
    void rightClicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    QMap<int, QString> m_captions;
    int m_tag;
    QString m_caption;
    QColor m_captionColor{Qt::black};
    QColor m_borderColor{Qt::gray};
    QToolButton* m_left;
    QToolButton* m_right;
};

}  // namespace vostrel
