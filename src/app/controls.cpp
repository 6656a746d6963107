#include "app/controls.h"

#include <QPainter>
#include <algorithm>

namespace vestrel {
namespace {

QString displayForm(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

} // namespace

QValidator::State FirstLineOnly::validate(QString& input, int& pos) const {
    const auto firstBreak = [&input] {
        for (qsizetype i = 0; i < input.size(); ++i)
            if (input[i] == u'\r' || input[i] == u'\n')
                return i;
        return qsizetype(-1);
    };
    if (const qsizetype lineBreak = firstBreak(); lineBreak >= 0) {
        input.remove(lineBreak, std::max<qsizetype>(pos, lineBreak) - lineBreak);
        pos = int(lineBreak);
        // A break behind the cursor came with a text set as a whole: it ends there.
        if (const qsizetype rest = firstBreak(); rest >= 0)
            input.truncate(rest);
    }
    return Acceptable;
}

void Shape::setFillColor(const QColor& color) {
    if (fill_ == color)
        return;
    fill_ = color;
    update();
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(Qt::black);
    painter.setBrush(fill_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

ColorButton::ColorButton(QWidget* parent) : QPushButton(parent) {
    setBackColor(Qt::white);
}

void ColorButton::setBackColor(const QColor& color) {
    back_ = color;
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid #808080; }"
                                 "QPushButton:pressed { border: 2px inset #404040; }")
                      .arg(color.name()));
}

MultiLineTextBox::MultiLineTextBox(QWidget* parent) : QPlainTextEdit(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

QString MultiLineTextBox::text() const {
    return toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

void MultiLineTextBox::setText(const QString& text) {
    setPlainText(displayForm(text));
}

void MultiLineTextBox::appendText(const QString& text) {
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(displayForm(text));
}

} // namespace vestrel
