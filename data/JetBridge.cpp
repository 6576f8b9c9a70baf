#include "data/JetBridge.h"

#include "data/Clock.h"
#include "data/OleDate.h"

#include <QList>
#include <QLocale>
#include <QSet>

#include <sqlite3.h>

#include <cmath>
#include <optional>

// ---------------------------------------------------------------------------
// Tokens. Statement texts are rebuilt from the tokens' own texts, so blanks,
// comments and everything the rewrites leave alone reach SQLite as written.

namespace {
enum class Kind { Blank, Comment, String, QuotedName, Word, Number, Punct };

struct Token
{
    Kind kind;
    QString text;
};

bool IsWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c.unicode() >= 0x80;
}

// Index after the literal or quoted name that opens at i with `open` and
// closes with `close`; a doubled closing character stands for itself.
qsizetype QuotedEnd(const QString& sql, qsizetype i, QChar close)
{
    for (++i; i < sql.size(); ++i) {
        if (sql[i] != close)
            continue;
        if (close != u']' && i + 1 < sql.size() && sql[i + 1] == close)
            ++i;
        else
            return i + 1;
    }
    return sql.size(); // unclosed: SQLite reports it
}

qsizetype NumberEnd(const QString& sql, qsizetype i)
{
    while (i < sql.size() && (sql[i].isDigit() || sql[i] == u'.'))
        ++i;
    if (i < sql.size() && (sql[i] == u'e' || sql[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < sql.size() && (sql[j] == u'+' || sql[j] == u'-'))
            ++j;
        if (j < sql.size() && sql[j].isDigit()) {
            i = j;
            while (i < sql.size() && sql[i].isDigit())
                ++i;
        }
    }
    return i;
}

qsizetype PunctEnd(const QString& sql, qsizetype i)
{
    static const QStringList pairs{"<>", "<=", ">=", "!=", "==", "||", "<<", ">>"};
    for (const QString& pair : pairs)
        if (QStringView(sql).mid(i, 2) == pair)
            return i + 2;
    return i + 1;
}

// The text between a quoted token's quotes; an unclosed one runs to the end.
QString QuotedInside(const QString& quoted)
{
    const bool closed = quoted.size() > 1 && quoted.back() == quoted.front();
    return quoted.mid(1, quoted.size() - (closed ? 2 : 1));
}

QList<Token> Tokenize(const QString& sql)
{
    QList<Token> tokens;
    for (qsizetype i = 0; i < sql.size();) {
        const QChar c = sql[i];
        const QChar next = i + 1 < sql.size() ? sql[i + 1] : QChar();
        Kind kind = Kind::Punct;
        qsizetype end = i + 1;
        if (c.isSpace()) {
            kind = Kind::Blank;
            while (end < sql.size() && sql[end].isSpace())
                ++end;
        } else if (c == u'-' && next == u'-') {
            kind = Kind::Comment;
            end = sql.indexOf(u'\n', i);
            end = end < 0 ? sql.size() : end;
        } else if (c == u'/' && next == u'*') {
            kind = Kind::Comment;
            end = sql.indexOf(QStringLiteral("*/"), i + 2);
            end = end < 0 ? sql.size() : end + 2;
        } else if (c == u'\'') {
            kind = Kind::String;
            end = QuotedEnd(sql, i, u'\'');
        } else if (c == u'"' || c == u'`' || c == u'[') {
            kind = Kind::QuotedName;
            end = QuotedEnd(sql, i, c == u'[' ? QChar(u']') : c);
        } else if (c.isDigit() || (c == u'.' && next.isDigit())) {
            kind = Kind::Number;
            end = NumberEnd(sql, i);
        } else if (IsWordChar(c)) {
            kind = Kind::Word;
            while (end < sql.size() && IsWordChar(sql[end]))
                ++end;
        } else {
            end = PunctEnd(sql, i);
        }
        tokens.append({kind, sql.mid(i, end - i)});
        i = end;
    }
    return tokens;
}

// The statement's tokens without blanks and comments, plus the edits the
// rewrites make; the text is rebuilt from both.
class Statement
{
public:
    explicit Statement(const QString& sql) : m_tokens(Tokenize(sql))
    {
        for (qsizetype i = 0; i < m_tokens.size(); ++i)
            if (m_tokens[i].kind != Kind::Blank && m_tokens[i].kind != Kind::Comment)
                m_sig.append(i);
        m_opens.fill(0, m_sig.size());
        m_closes.fill(0, m_sig.size());
        m_replaced.resize(m_sig.size());
    }

    int size() const { return static_cast<int>(m_sig.size()); }
    const Token& at(int i) const { return m_tokens[m_sig[i]]; }
    bool IsPunct(int i, QStringView text) const
    {
        return i < size() && at(i).kind == Kind::Punct && at(i).text == text;
    }
    bool IsWord(int i, QStringView word) const
    {
        return i < size() && at(i).kind == Kind::Word && at(i).text.compare(word, Qt::CaseInsensitive) == 0;
    }

    void Replace(int i, const QString& text) { m_replaced[i] = text; }
    // Puts tokens first..last between parentheses.
    void Wrap(int first, int last)
    {
        ++m_opens[first];
        ++m_closes[last];
    }

    // Index of the ')' that closes the '(' at i, or end when it is unclosed.
    int MatchParen(int i, int end) const
    {
        int depth = 0;
        for (; i < end; ++i) {
            if (IsPunct(i, u"("))
                ++depth;
            else if (IsPunct(i, u")") && --depth == 0)
                return i;
        }
        return end;
    }

    QString Text() const
    {
        QString out;
        int s = 0;
        for (qsizetype i = 0; i < m_tokens.size(); ++i) {
            if (s < size() && m_sig[s] == i) {
                out += QString(m_opens[s], u'(');
                out += m_replaced[s].value_or(m_tokens[i].text);
                out += QString(m_closes[s], u')');
                ++s;
            } else {
                out += m_tokens[i].text;
            }
        }
        return out;
    }

private:
    QList<Token> m_tokens;
    QList<qsizetype> m_sig;
    QList<int> m_opens;
    QList<int> m_closes;
    QList<std::optional<QString>> m_replaced;
};

// ---------------------------------------------------------------------------
// '+' on texts. Jet concatenates with '+' when an operand is a text; SQLite
// adds numbers. The rewrite parses additive chains (terms joined by + and -,
// terms being units joined by * / %) and turns a '+' into '||' when the
// value on its left or its right is a text: a literal, a format(...) call or
// such a thing in parentheses. SQLite's '||' binds tighter than '*' and '+',
// so operands that are themselves arithmetic are put in parentheses.

class PlusRewriter
{
public:
    explicit PlusRewriter(Statement& st) : m_st(st) {}

    void Range(int i, int end)
    {
        while (i < end) {
            if (StartsUnit(i))
                i = Chain(i, end, nullptr);
            else
                ++i;
        }
    }

private:
    struct Term
    {
        int last;
        bool text;
        bool compound;
    };

    static bool IsKeyword(const QString& word)
    {
        static const QSet<QString> keywords{
            "select", "from",   "where", "set",    "values", "and",      "or",   "not",    "as",
            "on",     "by",     "order", "group",  "having", "is",       "in",   "like",   "between",
            "case",   "when",   "then",  "else",   "end",    "distinct", "top",  "into",   "update",
            "insert", "delete", "union", "all",    "asc",    "desc",     "join", "inner",  "left",
            "right",  "outer",  "limit", "offset", "escape", "exists",   "glob", "collate"};
        return keywords.contains(word.toLower());
    }

    bool StartsUnit(int i) const
    {
        const Token& t = m_st.at(i);
        switch (t.kind) {
        case Kind::String:
        case Kind::Number:
        case Kind::QuotedName:
            return true;
        case Kind::Word:
            return !IsKeyword(t.text);
        case Kind::Punct:
            return t.text == u"(" || t.text == u"-" || t.text == u"+";
        default:
            return false;
        }
    }

    // Parses the chain at i; tells through `text` whether its value is a text.
    int Chain(int i, int end, bool* text)
    {
        const int first = i;
        Term left = ParseTerm(i, end);
        i = left.last + 1;
        bool accText = left.text;
        bool accNeedsParens = left.compound;
        int accLast = left.last;
        while (i < end && (m_st.IsPunct(i, u"+") || m_st.IsPunct(i, u"-"))) {
            const int op = i;
            Term right = ParseTerm(i + 1, end);
            if (m_st.IsPunct(op, u"+") && (accText || right.text)) {
                m_st.Replace(op, QStringLiteral("||"));
                if (accNeedsParens)
                    m_st.Wrap(first, accLast);
                if (right.compound && right.last > op)
                    m_st.Wrap(op + 1, right.last);
                accText = true;
                accNeedsParens = false;
            } else {
                accText = false;
                accNeedsParens = true;
            }
            accLast = std::max(right.last, op);
            i = accLast + 1;
        }
        if (text)
            *text = accText;
        return i;
    }

    Term ParseTerm(int i, int end)
    {
        Term term{i - 1, false, false};
        bool text = false;
        int next = Unit(i, end, &text);
        term.text = text;
        while (next < end && (m_st.IsPunct(next, u"*") || m_st.IsPunct(next, u"/") || m_st.IsPunct(next, u"%"))) {
            term.compound = true;
            term.text = false;
            next = Unit(next + 1, end, &text);
        }
        term.last = next - 1;
        return term;
    }

    int Unit(int i, int end, bool* text)
    {
        bool signed_ = false;
        while (i < end && (m_st.IsPunct(i, u"-") || m_st.IsPunct(i, u"+"))) {
            signed_ = true;
            ++i;
        }
        const int next = Primary(i, end, text);
        *text = *text && !signed_;
        return next;
    }

    int Primary(int i, int end, bool* text)
    {
        *text = false;
        if (i >= end || !StartsUnit(i))
            return i;
        const Token& t = m_st.at(i);
        if (t.kind == Kind::String) {
            *text = true;
            return i + 1;
        }
        if (m_st.IsPunct(i, u"("))
            return Group(i, end, text);
        if (t.kind != Kind::Word)
            return i + 1;
        const bool format = m_st.IsWord(i, u"format");
        ++i;
        while (i + 1 < end && m_st.IsPunct(i, u".") && m_st.at(i + 1).kind != Kind::Punct)
            i += 2;
        if (i < end && m_st.IsPunct(i, u"(")) {
            const int close = m_st.MatchParen(i, end);
            Range(i + 1, close);
            *text = format;
            return std::min(close + 1, end);
        }
        return i;
    }

    // A parenthesised expression is a text when it holds one chain that is.
    int Group(int open, int end, bool* text)
    {
        const int close = m_st.MatchParen(open, end);
        int i = open + 1;
        if (i < close && StartsUnit(i)) {
            bool inner = false;
            i = Chain(i, close, &inner);
            *text = inner && i == close;
        }
        Range(i, close);
        return std::min(close + 1, end);
    }

    Statement& m_st;
};

// ---------------------------------------------------------------------------
// Date and time texts for Date/Time columns become OLE numbers, written as the
// very expression Ole::FromTime computes (seconds / 86400.0), so that a stored
// time compares equal to Time() at its second.

bool IsDateColumn(const Token& column)
{
    QString name = column.text;
    if (column.kind == Kind::QuotedName)
        name = name.mid(1, name.size() - 2);
    return name.compare(u"AlamTime", Qt::CaseInsensitive) == 0 || name.compare(u"AlamDate", Qt::CaseInsensitive) == 0;
}

std::optional<QString> Unquote(const QString& literal)
{
    if (literal.size() < 2 || !literal.endsWith(u'\''))
        return std::nullopt;
    return literal.mid(1, literal.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'"));
}

QString OleExpression(qint64 days, int seconds)
{
    if (seconds == 0)
        return QString::number(days);
    const QString fraction = QStringLiteral("%1/86400.0").arg(seconds);
    if (days == 0)
        return fraction;
    return QString::number(days) + (days < 0 ? u'-' : u'+') + fraction;
}

std::optional<QString> OleLiteral(const QString& text)
{
    const QDateTime moment = ReadDateTimeText(text);
    if (moment.isValid())
        return OleExpression(static_cast<qint64>(Ole::FromDate(moment.date())),
                             moment.time().msecsSinceStartOfDay() / 1000);
    const QTime time = ReadTimeText(text);
    if (time.isValid())
        return OleExpression(0, time.msecsSinceStartOfDay() / 1000);
    const QDate date = ReadDateText(text);
    if (date.isValid())
        return OleExpression(static_cast<qint64>(Ole::FromDate(date)), 0);
    return std::nullopt;
}

// A value of exactly one text literal for a Date/Time column.
void ConvertValue(Statement& st, const Token& column, int first, int last)
{
    if (first != last || st.at(first).kind != Kind::String || !IsDateColumn(column))
        return;
    const std::optional<QString> text = Unquote(st.at(first).text);
    if (!text)
        return;
    if (const std::optional<QString> ole = OleLiteral(*text))
        st.Replace(first, *ole);
}

// Splits the tokens first..end at the commas outside parentheses, stopping at
// the word `stop` (when given); hands each piece's first and last index to
// `piece`.
template <typename Piece> void SplitList(const Statement& st, int first, int end, QStringView stop, Piece piece)
{
    int depth = 0;
    int start = first;
    int i = first;
    for (; i < end; ++i) {
        if (st.IsPunct(i, u"("))
            ++depth;
        else if (st.IsPunct(i, u")"))
            --depth;
        else if (depth == 0 && !stop.isEmpty() && st.IsWord(i, stop))
            break;
        else if (depth == 0 && st.IsPunct(i, u",")) {
            piece(start, i - 1);
            start = i + 1;
        }
    }
    piece(start, i - 1);
}

// insert into T(c1,c2,...) values(v1,v2,...)
void ConvertInsert(Statement& st)
{
    if (!st.IsWord(0, u"insert") || !st.IsWord(1, u"into") || !st.IsPunct(3, u"("))
        return;
    const int columnsEnd = st.MatchParen(3, st.size());
    QList<int> columns;
    SplitList(st, 4, columnsEnd, {}, [&](int first, int last) { columns.append(first == last ? first : -1); });
    const int values = columnsEnd + 2;
    if (!st.IsWord(columnsEnd + 1, u"values") || !st.IsPunct(values, u"("))
        return;
    int n = 0;
    SplitList(st, values + 1, st.MatchParen(values, st.size()), {}, [&](int first, int last) {
        if (n < columns.size() && columns[n] >= 0)
            ConvertValue(st, st.at(columns[n]), first, last);
        ++n;
    });
}

// update T set c=v, ... [where ...]
void ConvertUpdate(Statement& st)
{
    if (!st.IsWord(0, u"update") || !st.IsWord(2, u"set"))
        return;
    SplitList(st, 3, st.size(), u"where", [&](int first, int last) {
        if (last >= first + 2 && st.IsPunct(first + 1, u"="))
            ConvertValue(st, st.at(first), first + 2, last);
    });
}

// ---------------------------------------------------------------------------
// Jet's format(value, pattern).

const QDate kEpoch(1899, 12, 30);

// Jet shows whole seconds, rounded.
bool SplitSeconds(double value, QDate& date, int& seconds)
{
    const QDate day = Ole::ToDate(value);
    if (!day.isValid())
        return false;
    const double whole = std::trunc(value);
    long long s = std::llround(std::fabs(value - whole) * 86400.0);
    long long days = static_cast<long long>(whole);
    if (s >= 86400) {
        s -= 86400;
        ++days;
    }
    date = kEpoch.addDays(days);
    seconds = static_cast<int>(s);
    return true;
}

QString Pad(int value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QChar(u'0'));
}

// Length of an AM/PM marker at i ("AM/PM", "A/P", "AMPM", any case), or 0.
qsizetype AmPmLength(const QString& pattern, qsizetype i)
{
    for (QStringView marker : {u"am/pm", u"ampm", u"a/p"})
        if (QStringView(pattern).mid(i, marker.size()).compare(marker, Qt::CaseInsensitive) == 0)
            return marker.size();
    return 0;
}

bool HasAmPm(const QString& pattern)
{
    for (qsizetype i = 0; i < pattern.size(); ++i)
        if (AmPmLength(pattern, i))
            return true;
    return false;
}

// The marker is written in the case the pattern gives it, as Jet does.
QString AmPmText(const QString& pattern, qsizetype i, qsizetype length, bool pm)
{
    if (length == 4)
        return pm ? QLocale().pmText() : QLocale().amText();
    const qsizetype half = length == 5 ? 2 : 1;
    return pattern.mid(pm ? i + half + 1 : i, half);
}

int WeekOfYear(const QDate& date)
{
    const int firstWeekday = QDate(date.year(), 1, 1).dayOfWeek() % 7; // Sunday 0
    return (date.dayOfYear() - 1 + firstWeekday) / 7 + 1;
}

class Formatter
{
public:
    Formatter(const QDate& date, int seconds, const QString& pattern)
        : m_date(date), m_time(QTime(0, 0).addSecs(seconds)), m_pattern(pattern), m_twelveHour(HasAmPm(pattern))
    {
    }

    QString Run()
    {
        for (qsizetype i = 0; i < m_pattern.size();)
            i = Step(i);
        return m_out;
    }

private:
    qsizetype Step(qsizetype i)
    {
        const QChar c = m_pattern[i];
        if (c == u'"') {
            qsizetype close = m_pattern.indexOf(u'"', i + 1);
            close = close < 0 ? m_pattern.size() : close;
            m_out += m_pattern.mid(i + 1, close - i - 1);
            return close + 1;
        }
        if (c == u'\\' && i + 1 < m_pattern.size()) {
            m_out += m_pattern[i + 1];
            return i + 2;
        }
        if (const qsizetype length = AmPmLength(m_pattern, i)) {
            m_out += AmPmText(m_pattern, i, length, m_time.hour() >= 12);
            return i + length;
        }
        qsizetype end = i + 1;
        while (end < m_pattern.size() && m_pattern[end].toLower() == c.toLower())
            ++end;
        const char letter = c.toLower().toLatin1();
        if (!Field(letter, static_cast<int>(end - i))) {
            m_out += c;
            return i + 1;
        }
        m_afterHour = letter == 'h';
        return end;
    }

    // Writes the field of `count` letters `letter`; false for a literal. An
    // "m" right after an hour (literals between) is minutes, as in "HH:mm".
    bool Field(char letter, int count)
    {
        const QLocale locale;
        const bool minutes = letter == 'n' || (letter == 'm' && count <= 2 && m_afterHour);
        if (minutes) {
            m_out += count >= 2 ? Pad(m_time.minute(), 2) : QString::number(m_time.minute());
            return true;
        }
        switch (letter) {
        case 'y':
            m_out += count >= 4   ? Pad(m_date.year(), 4)
                     : count == 1 ? QString::number(m_date.dayOfYear())
                                  : Pad(m_date.year() % 100, 2);
            if (count == 3)
                m_out += QString::number(m_date.dayOfYear());
            return true;
        case 'm':
            m_out += count >= 4   ? locale.monthName(m_date.month(), QLocale::LongFormat)
                     : count == 3 ? locale.monthName(m_date.month(), QLocale::ShortFormat)
                     : count == 2 ? Pad(m_date.month(), 2)
                                  : QString::number(m_date.month());
            return true;
        case 'd':
            m_out += count >= 6   ? locale.toString(m_date, QLocale::LongFormat)
                     : count == 5 ? DateText(m_date)
                     : count == 4 ? locale.dayName(m_date.dayOfWeek(), QLocale::LongFormat)
                     : count == 3 ? locale.dayName(m_date.dayOfWeek(), QLocale::ShortFormat)
                     : count == 2 ? Pad(m_date.day(), 2)
                                  : QString::number(m_date.day());
            return true;
        case 'h': {
            int hour = m_time.hour();
            if (m_twelveHour)
                hour = hour % 12 == 0 ? 12 : hour % 12;
            m_out += count >= 2 ? Pad(hour, 2) : QString::number(hour);
            return true;
        }
        case 's':
            m_out += count >= 2 ? Pad(m_time.second(), 2) : QString::number(m_time.second());
            return true;
        case 'w':
            m_out += QString::number(count >= 2 ? WeekOfYear(m_date) : m_date.dayOfWeek() % 7 + 1);
            return true;
        case 'q':
            m_out += QString::number((m_date.month() - 1) / 3 + 1);
            return true;
        case 'c':
            m_out += General();
            return true;
        case 't':
            if (count < 5)
                return false;
            m_out += TimeText(m_time);
            return true;
        default:
            return false;
        }
    }

    // Jet's general date: the date part unless it is day 0, the time unless it is midnight.
    QString General() const
    {
        if (m_date == kEpoch)
            return TimeText(m_time);
        if (m_time == QTime(0, 0))
            return DateText(m_date);
        return DateText(m_date) + u' ' + TimeText(m_time);
    }

    QDate m_date;
    QTime m_time;
    const QString& m_pattern;
    bool m_twelveHour;
    bool m_afterHour = false;
    QString m_out;
};

// ---------------------------------------------------------------------------
// SQL functions.

// The date-text reader: the program's own date and time texts, then ISO.
std::optional<double> ReadOleText(const QString& text)
{
    if (const QDateTime moment = ReadDateTimeText(text); moment.isValid())
        return Ole::FromDateTime(moment);
    if (const QDate date = ReadDateText(text); date.isValid())
        return Ole::FromDate(date);
    if (const QTime time = ReadTimeText(text); time.isValid())
        return Ole::FromTime(time);
    const QString trimmed = text.trimmed();
    if (const QDateTime iso = QDateTime::fromString(trimmed, QStringLiteral("yyyy-MM-dd HH:mm:ss")); iso.isValid())
        return Ole::FromDateTime(iso);
    if (const QDate iso = QDate::fromString(trimmed, QStringLiteral("yyyy-MM-dd")); iso.isValid())
        return Ole::FromDate(iso);
    return std::nullopt;
}

QString ValueText(sqlite3_value* value)
{
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
    return QString::fromUtf8(bytes, sqlite3_value_bytes(value));
}

void ResultText(sqlite3_context* ctx, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

void DateFunction(sqlite3_context* ctx, int, sqlite3_value**)
{
    sqlite3_result_double(ctx, Ole::FromDate(TClock::Today()));
}

void TimeFunction(sqlite3_context* ctx, int, sqlite3_value**)
{
    sqlite3_result_double(ctx, Ole::FromTime(TClock::Now().time()));
}

void NowFunction(sqlite3_context* ctx, int, sqlite3_value**)
{
    sqlite3_result_double(ctx, Ole::FromDateTime(TClock::Now()));
}

void FormatFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    std::optional<double> ole;
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
    case SQLITE_BLOB:
        sqlite3_result_null(ctx);
        return;
    case SQLITE_TEXT:
        ole = ReadOleText(ValueText(argv[0]));
        break;
    default:
        ole = sqlite3_value_double(argv[0]);
    }
    QDate date;
    int seconds = 0;
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || !ole || !SplitSeconds(*ole, date, seconds)) {
        // Nothing to format as a date: the value as it is.
        ResultText(ctx, ValueText(argv[0]));
        return;
    }
    const QString pattern = ValueText(argv[1]);
    ResultText(ctx, Formatter(date, seconds, pattern).Run());
}

void CDateFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        sqlite3_result_double(ctx, sqlite3_value_double(argv[0]));
        return;
    case SQLITE_TEXT:
        if (const std::optional<double> ole = ReadOleText(ValueText(argv[0]))) {
            sqlite3_result_double(ctx, *ole);
            return;
        }
        break;
    default:
        break;
    }
    sqlite3_result_null(ctx);
}
} // namespace

QString JetBridge::Translate(const QString& jetSql)
{
    Statement st(jetSql);
    ConvertInsert(st);
    ConvertUpdate(st);
    PlusRewriter(st).Range(0, st.size());
    return st.Text();
}

QString JetBridge::MaskLiterals(const QString& text)
{
    QString masked;
    for (const Token& token : Tokenize(text)) {
        // SQLite's messages quote the token they stopped at, an unclosed
        // literal among them: "unrecognized token: "'abc"".
        if (token.kind == Kind::QuotedName && token.text.startsWith(u'"') && token.text.contains(u'\'')) {
            masked += u'"' + MaskLiterals(QuotedInside(token.text)) + u'"';
            continue;
        }
        if (token.kind != Kind::String || token.text == QLatin1String("''")) {
            masked += token.text;
            continue;
        }
        masked += QString("'<%1 个字符>'").arg(QuotedInside(token.text).replace("''", "'").size());
    }
    return masked;
}

bool JetBridge::Install(sqlite3* db)
{
    using Function = void (*)(sqlite3_context*, int, sqlite3_value**);
    struct Entry
    {
        const char* name;
        int args;
        Function function;
    };
    // With a fixed argument count these take precedence over SQLite's own
    // date(), time() and format(), which stay available with other counts.
    static const Entry entries[] = {{"Date", 0, DateFunction},
                                    {"Time", 0, TimeFunction},
                                    {"Now", 0, NowFunction},
                                    {"format", 2, FormatFunction},
                                    {"CDate", 1, CDateFunction}};
    for (const Entry& e : entries)
        if (sqlite3_create_function_v2(db, e.name, e.args, SQLITE_UTF8, nullptr, e.function, nullptr, nullptr,
                                       nullptr) != SQLITE_OK)
            return false;
    return true;
}
