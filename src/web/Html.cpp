#include "Html.h"

#include <QUrl>

namespace r310::web {

QString Escape(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        default:
            if ((c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
                || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

QString EscapeOrDash(const QString &text) { return text.isEmpty() ? QStringLiteral("-") : Escape(text); }

QString QueryHref(const QString &path, const QueryItems &items)
{
    QStringList parts;
    for (const auto &[key, value] : items)
        parts.append(QString::fromLatin1(QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value)));
    return Escape(parts.isEmpty() ? path : path + QLatin1Char('?') + parts.join(QLatin1Char('&')));
}

} // namespace r310::web
