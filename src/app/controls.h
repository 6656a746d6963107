#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QValidator>
#include <QWidget>

namespace vestrel {

// RGB 0xRRGGBB as a colour.
inline QColor Rgb(unsigned rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb));
}

// A filled square with a thin border: the state lamps.
class Shape final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)
public:
    explicit Shape(QWidget* parent = nullptr) : QWidget(parent) {}
    QColor fillColor() const { return fill_; }
    void setFillColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_ = Qt::white;
};

// A button whose background colour shows (the hour buttons).
class ColorButton final : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QColor backColor READ backColor WRITE setBackColor)
public:
    explicit ColorButton(QWidget* parent = nullptr);
    QColor backColor() const { return back_; }
    void setBackColor(const QColor& color);

private:
    QColor back_;
};

// Makes a line edit behave like a single-line text box of Windows: a text pasted or dropped
// into it keeps only its first line. The box holds no line break before a change, so every
// break in the new text came with the inserted text, which ends at the cursor: from its first
// break up to the cursor is cut away.
class FirstLineOnly final : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// A multi-line text box whose text keeps CR LF line ends, as the program writes them.
class MultiLineTextBox final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MultiLineTextBox(QWidget* parent = nullptr);
    QString text() const;
    void setText(const QString& text);
    // Adds text at the end without moving the caret or the scroll position.
    void appendText(const QString& text);
};

} // namespace vestrel
