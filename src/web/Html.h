#pragma once
// Pieces of the pages as plain HTML: text from the records always goes
// through Escape, so markup, scripts and control characters in a customer
// ID or a gas text are shown as the characters they are.
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace r310::web {

// The text with & < > " ' as character references and every control
// character (other than tab and line feed) as a visible \xNN.
QString Escape(const QString &text);
// Escape, or "-" for an empty text.
QString EscapeOrDash(const QString &text);
// path?key=value&... for an href: keys and values percent-encoded, the whole escaped.
using QueryItems = std::vector<std::pair<QString, QString>>;
QString QueryHref(const QString &path, const QueryItems &items);

} // namespace r310::web
