#include "support/tds/tsql.h"

using namespace Qt::StringLiterals;

namespace vestrel::test {

namespace {

class Lexer {
public:
    explicit Lexer(const QString& text) : text_(text) {}

    void SkipBlanks() {
        for (;;) {
            while (pos_ < text_.size() && text_.at(pos_).isSpace())
                ++pos_;
            if (text_.mid(pos_, 2) == u"--"_s) {
                while (pos_ < text_.size() && text_.at(pos_) != u'\n')
                    ++pos_;
            } else if (text_.mid(pos_, 2) == u"/*"_s) {
                const qsizetype end = text_.indexOf(u"*/"_s, pos_ + 2);
                pos_ = end < 0 ? text_.size() : end + 2;
            } else {
                return;
            }
        }
    }
    bool Keyword(const QString& word) {
        SkipBlanks();
        qsizetype end = pos_;
        while (end < text_.size() && (text_.at(end).isLetter() || text_.at(end) == u'_'))
            ++end;
        if (text_.mid(pos_, end - pos_).compare(word, Qt::CaseInsensitive) != 0)
            return false;
        pos_ = end;
        return true;
    }
    bool Symbol(QChar c) {
        SkipBlanks();
        if (pos_ >= text_.size() || text_.at(pos_) != c)
            return false;
        ++pos_;
        return true;
    }
    bool Identifier(QString* out) {
        SkipBlanks();
        if (pos_ < text_.size() && text_.at(pos_) == u'[')
            return Delimited(u']', out);
        qsizetype end = pos_;
        while (end < text_.size() &&
               (text_.at(end).isLetterOrNumber() || QStringView(u"_@#$").contains(text_.at(end))))
            ++end;
        if (end == pos_)
            return false;
        *out = text_.mid(pos_, end - pos_);
        pos_ = end;
        return true;
    }
    bool Literal(QString* out) {
        SkipBlanks();
        const qsizetype start = pos_;
        if (pos_ < text_.size() && (text_.at(pos_) == u'N' || text_.at(pos_) == u'n'))
            ++pos_;
        if (pos_ < text_.size() && text_.at(pos_) == u'\'' && Delimited(u'\'', out))
            return true;
        pos_ = start;
        return false;
    }
    bool Number(int* out) {
        SkipBlanks();
        qsizetype end = pos_;
        while (end < text_.size() && text_.at(end).isDigit())
            ++end;
        if (end == pos_)
            return false;
        *out = text_.mid(pos_, end - pos_).toInt();
        pos_ = end;
        return true;
    }
    bool AtEnd() {
        SkipBlanks();
        Symbol(u';');
        SkipBlanks();
        return pos_ >= text_.size();
    }
    QString Near() const { return text_.mid(pos_, 20); }

private:
    // Reads an opening delimiter at pos_ up to `close`, a doubled `close` standing for one.
    bool Delimited(QChar close, QString* out) {
        QString value;
        for (qsizetype i = pos_ + 1; i < text_.size(); ++i) {
            if (text_.at(i) != close) {
                value += text_.at(i);
            } else if (i + 1 < text_.size() && text_.at(i + 1) == close) {
                value += close;
                ++i;
            } else {
                *out = value;
                pos_ = i + 1;
                return true;
            }
        }
        return false; // unterminated
    }

    const QString& text_;
    qsizetype pos_ = 0;
};

} // namespace

bool IsBackup(const QString& text) {
    Lexer lexer(text);
    return lexer.Keyword(u"BACKUP"_s);
}

bool ParseBackup(const QString& text, BackupStatement* out, QString* near) {
    Lexer lexer(text);
    BackupStatement statement;
    const auto fail = [&] {
        *near = lexer.Near();
        return false;
    };
    if (!lexer.Keyword(u"BACKUP"_s) || !lexer.Keyword(u"DATABASE"_s))
        return fail();
    if (!lexer.Identifier(&statement.database) || !lexer.Keyword(u"TO"_s))
        return fail();
    do {
        QString disk;
        if (!lexer.Keyword(u"DISK"_s) || !lexer.Symbol(u'=') || !lexer.Literal(&disk))
            return fail();
        statement.disks << disk;
    } while (lexer.Symbol(u','));
    if (lexer.Keyword(u"WITH"_s)) {
        if (!lexer.Keyword(u"STATS"_s))
            return fail();
        statement.stats = 10;
        if (lexer.Symbol(u'=') && !lexer.Number(&statement.stats))
            return fail();
    }
    if (!lexer.AtEnd())
        return fail();
    *out = statement;
    return true;
}

} // namespace vestrel::test
