#include "support/tds/tsql.h"

#include <QRegularExpression>
#include <functional>

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
    // A word of letters, digits and "_" that starts with a letter or "_".
    bool Word(QString* out) {
        SkipBlanks();
        qsizetype end = pos_;
        while (end < text_.size() && (text_.at(end).isLetter() || text_.at(end) == u'_' ||
                                      (end > pos_ && text_.at(end).isDigit())))
            ++end;
        if (end == pos_)
            return false;
        *out = text_.mid(pos_, end - pos_);
        pos_ = end;
        return true;
    }
    // The token where parsing stopped, as SQL Server names it in "Incorrect syntax near".
    QString NearToken() {
        SkipBlanks();
        if (pos_ >= text_.size())
            return text_.trimmed().section(QRegularExpression(u"\\s+"_s), -1);
        // A string literal is named by its text, without N and quotes.
        const qsizetype start = pos_;
        QString literal;
        if (Literal(&literal)) {
            pos_ = start;
            return literal;
        }
        qsizetype end = pos_ + 1;
        if (text_.at(pos_).isLetterOrNumber() || text_.at(pos_) == u'_')
            while (end < text_.size() &&
                   (text_.at(end).isLetterOrNumber() || text_.at(end) == u'_'))
                ++end;
        return text_.mid(pos_, end - pos_);
    }

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

// How a WITH option takes a value.
enum class Value { None, OptionalNumber, Number, Text };

struct Option {
    const char16_t* name;
    Value value;
};

const Option kBackupOptions[] = {
    {u"STATS", Value::OptionalNumber},  {u"CHECKSUM", Value::None},
    {u"NO_CHECKSUM", Value::None},      {u"INIT", Value::None},
    {u"NOINIT", Value::None},           {u"FORMAT", Value::None},
    {u"NOFORMAT", Value::None},         {u"SKIP", Value::None},
    {u"NOSKIP", Value::None},           {u"COPY_ONLY", Value::None},
    {u"DIFFERENTIAL", Value::None},     {u"COMPRESSION", Value::None},
    {u"NO_COMPRESSION", Value::None},   {u"CONTINUE_AFTER_ERROR", Value::None},
    {u"STOP_ON_ERROR", Value::None},    {u"REWIND", Value::None},
    {u"NOREWIND", Value::None},         {u"UNLOAD", Value::None},
    {u"NOUNLOAD", Value::None},         {u"NAME", Value::Text},
    {u"DESCRIPTION", Value::Text},      {u"MEDIANAME", Value::Text},
    {u"MEDIADESCRIPTION", Value::Text}, {u"BLOCKSIZE", Value::Number},
    {u"BUFFERCOUNT", Value::Number},    {u"MAXTRANSFERSIZE", Value::Number},
    {u"RETAINDAYS", Value::Number},
};

const Option kVerifyOptions[] = {
    {u"FILE", Value::Number},        {u"CHECKSUM", Value::None},
    {u"NO_CHECKSUM", Value::None},   {u"STATS", Value::OptionalNumber},
    {u"LOADHISTORY", Value::None},   {u"CONTINUE_AFTER_ERROR", Value::None},
    {u"STOP_ON_ERROR", Value::None}, {u"REWIND", Value::None},
    {u"NOREWIND", Value::None},      {u"UNLOAD", Value::None},
    {u"NOUNLOAD", Value::None},      {u"MEDIANAME", Value::Text},
    {u"PASSWORD", Value::Text},      {u"MEDIAPASSWORD", Value::Text},
};

// RESTORE HEADERONLY's options, as its reference page lists them.
const Option kHeaderOnlyOptions[] = {
    {u"FILE", Value::Number},        {u"PASSWORD", Value::Text},
    {u"MEDIANAME", Value::Text},     {u"MEDIAPASSWORD", Value::Text},
    {u"CHECKSUM", Value::None},      {u"NO_CHECKSUM", Value::None},
    {u"STOP_ON_ERROR", Value::None}, {u"CONTINUE_AFTER_ERROR", Value::None},
    {u"REWIND", Value::None},        {u"NOREWIND", Value::None},
    {u"UNLOAD", Value::None},        {u"NOUNLOAD", Value::None},
};

// Reads "WITH option [= value] [, ...]" if present. Each option is handed to `take` with its
// upper-cased name and its number (-1 when it has none). An option the statement does not know
// is error 155 with `kind` ("BACKUP", "RESTORE"), anything else out of place 102.
template <size_t N>
bool ReadOptions(Lexer& lexer, const Option (&known)[N], const QString& kind,
                 const std::function<void(const QString&, int)>& take, ParseError* error) {
    if (!lexer.Keyword(u"WITH"_s))
        return true;
    do {
        QString word;
        if (!lexer.Word(&word)) {
            *error = {102, u"Incorrect syntax near '%1'."_s.arg(lexer.NearToken())};
            return false;
        }
        const QString name = word.toUpper();
        const Option* option = nullptr;
        for (const Option& candidate : known)
            if (name == QStringView(candidate.name))
                option = &candidate;
        if (!option) {
            *error = {155, u"'%1' is not a recognized %2 option."_s.arg(word, kind)};
            return false;
        }
        int number = -1;
        QString text;
        const bool equals = option->value != Value::None && lexer.Symbol(u'=');
        const bool valueOk = option->value == Value::None ||
                             (option->value == Value::OptionalNumber && !equals) ||
                             (equals && option->value != Value::Text && lexer.Number(&number)) ||
                             (equals && option->value == Value::Text && lexer.Literal(&text));
        if (!valueOk) {
            *error = {102, u"Incorrect syntax near '%1'."_s.arg(lexer.NearToken())};
            return false;
        }
        take(name, number);
    } while (lexer.Symbol(u','));
    return true;
}

bool ReadDisks(Lexer& lexer, QStringList* disks) {
    do {
        QString disk;
        if (!lexer.Keyword(u"DISK"_s) || !lexer.Symbol(u'=') || !lexer.Literal(&disk))
            return false;
        *disks << disk;
    } while (lexer.Symbol(u','));
    return true;
}

} // namespace

bool IsBackup(const QString& text) {
    Lexer lexer(text);
    return lexer.Keyword(u"BACKUP"_s);
}

bool IsVerifyOnly(const QString& text) {
    Lexer lexer(text);
    return lexer.Keyword(u"RESTORE"_s) && lexer.Keyword(u"VERIFYONLY"_s);
}

bool IsHeaderOnly(const QString& text) {
    Lexer lexer(text);
    return lexer.Keyword(u"RESTORE"_s) && lexer.Keyword(u"HEADERONLY"_s);
}

bool ParseBackup(const QString& text, BackupStatement* out, ParseError* error) {
    Lexer lexer(text);
    BackupStatement statement;
    const auto syntax = [&] {
        *error = {102, u"Incorrect syntax near '%1'."_s.arg(lexer.NearToken())};
        return false;
    };
    if (!lexer.Keyword(u"BACKUP"_s) || !lexer.Keyword(u"DATABASE"_s))
        return syntax();
    if (!lexer.Identifier(&statement.database) || !lexer.Keyword(u"TO"_s))
        return syntax();
    if (!ReadDisks(lexer, &statement.disks))
        return syntax();
    const auto take = [&](const QString& name, int number) {
        statement.options << name;
        if (name == u"STATS"_s)
            statement.stats = number < 0 ? 10 : number;
        else if (name == u"CHECKSUM"_s || name == u"NO_CHECKSUM"_s)
            statement.checksum = name == u"CHECKSUM"_s;
        else if (name == u"INIT"_s || name == u"NOINIT"_s)
            statement.init = name == u"INIT"_s;
        else if (name == u"FORMAT"_s || name == u"NOFORMAT"_s)
            statement.format = name == u"FORMAT"_s;
    };
    if (!ReadOptions(lexer, kBackupOptions, u"BACKUP"_s, take, error))
        return false;
    if (!lexer.AtEnd())
        return syntax();
    statement.init = statement.init || statement.format;
    *out = statement;
    return true;
}

bool ParseBackup(const QString& text, BackupStatement* out, QString* near) {
    ParseError error;
    if (ParseBackup(text, out, &error))
        return true;
    *near = error.text;
    return false;
}

bool IsLabelOnly(const QString& text) {
    Lexer lexer(text);
    return lexer.Keyword(u"RESTORE"_s) && lexer.Keyword(u"LABELONLY"_s);
}

// RESTORE <kind> FROM DISK = ... [WITH ...], for VERIFYONLY and LABELONLY.
static bool ParseRestoreFrom(const QString& text, const QString& kind, VerifyStatement* out,
                             ParseError* error) {
    Lexer lexer(text);
    VerifyStatement statement;
    const auto syntax = [&] {
        *error = {102, u"Incorrect syntax near '%1'."_s.arg(lexer.NearToken())};
        return false;
    };
    if (!lexer.Keyword(u"RESTORE"_s) || !lexer.Keyword(kind) || !lexer.Keyword(u"FROM"_s) ||
        !ReadDisks(lexer, &statement.disks))
        return syntax();
    const auto take = [&](const QString& name, int number) {
        statement.options << name;
        if (name == u"FILE"_s)
            statement.file = number;
        else if (name == u"CHECKSUM"_s)
            statement.checksum = true;
        else if (name == u"NO_CHECKSUM"_s)
            statement.noChecksum = true;
    };
    if (!ReadOptions(lexer, kVerifyOptions, u"RESTORE"_s, take, error))
        return false;
    if (!lexer.AtEnd())
        return syntax();
    *out = statement;
    return true;
}

bool ParseHeaderOnly(const QString& text, HeaderOnlyStatement* out, ParseError* error) {
    Lexer lexer(text);
    HeaderOnlyStatement statement;
    const auto syntax = [&] {
        *error = {102, u"Incorrect syntax near '%1'."_s.arg(lexer.NearToken())};
        return false;
    };
    if (!lexer.Keyword(u"RESTORE"_s) || !lexer.Keyword(u"HEADERONLY"_s) ||
        !lexer.Keyword(u"FROM"_s) || !ReadDisks(lexer, &statement.disks))
        return syntax();
    const auto take = [&](const QString& name, int number) {
        statement.options << name;
        if (name == u"FILE"_s)
            statement.file = number;
    };
    if (!ReadOptions(lexer, kHeaderOnlyOptions, u"RESTORE"_s, take, error))
        return false;
    if (!lexer.AtEnd())
        return syntax();
    *out = statement;
    return true;
}

bool ParseVerifyOnly(const QString& text, VerifyStatement* out, ParseError* error) {
    return ParseRestoreFrom(text, u"VERIFYONLY"_s, out, error);
}

bool ParseLabelOnly(const QString& text, VerifyStatement* out, ParseError* error) {
    return ParseRestoreFrom(text, u"LABELONLY"_s, out, error);
}

} // namespace vestrel::test
