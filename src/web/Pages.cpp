#include "Pages.h"

#include "Html.h"

namespace r310::web {

QByteArray StyleSheet()
{
    return QByteArrayLiteral(R"(body { font-family: sans-serif; margin: 0; color: #222; background: #fff; }
header { background: #2d4a6b; color: #fff; padding: 0.5em 1em; display: flex; align-items: center; gap: 1em; }
header h1 { font-size: 1.2em; margin: 0; flex: 1; }
header a, header button { color: #fff; }
header form { margin: 0; }
header button { background: none; border: 1px solid #fff; padding: 0.2em 0.8em; cursor: pointer; }
main { padding: 0.5em 1em 2em; }
.banner { padding: 0.4em 1em; background: #e8f3e8; border-bottom: 1px solid #9c9; }
.banner.warning { background: #fde8e8; border-bottom-color: #c66; font-weight: bold; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.5em; text-align: left; vertical-align: top; white-space: pre-wrap; }
th { background: #eef; }
th a { color: inherit; }
td.overdue, tr.overdue td.serial { background: #f8c9c9; color: #900; font-weight: bold; }
td.soon { background: #fde7b0; color: #7a4d00; }
.filter { margin: 0.5em 0; }
.pages { margin: 0.5em 0; }
.pages a, .pages span { margin-right: 0.6em; }
.muted { color: #666; }
.login { max-width: 22em; margin: 4em auto; }
.login label { display: block; margin: 0.6em 0 0.2em; }
.login input { width: 100%; box-sizing: border-box; }
.login button { margin-top: 1em; }
.message { color: #900; }
img.chart { max-width: 100%; border: 1px solid #ccc; }
section.download { margin: 1.5em 0; }
)");
}

Banner VerifyBanner(const VerifyStatus &status)
{
    if (!status.finishedAt.isValid())
        return {QStringLiteral("The record chains are being verified for the first time."), false};
    const QString when = status.finishedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
    QString text = status.ok ? QStringLiteral("Records last verified %1: %2 records checked, every chain intact.")
                                   .arg(when)
                                   .arg(status.checked)
                             : QStringLiteral("Records last verified %1: NOT INTACT: %2").arg(when, status.problem);
    if (status.running)
        text += QStringLiteral(" (verifying again now)");
    return {text, !status.ok};
}

QByteArray PageHtml(const QString &title, const QString &user, const VerifyStatus *verification, const QString &body)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                                  "<meta name=\"viewport\" content=\"width=device-width\">"
                                  "<title>%1 - R310 service records</title>"
                                  "<link rel=\"stylesheet\" href=\"/style.css\"></head><body>\n<header><h1>")
                       .arg(Escape(title));
    html += QStringLiteral("R310 service records</h1>");
    if (!user.isEmpty())
        html += QStringLiteral("<a href=\"/\">Fleet</a><a href=\"/due.csv\">Due list (CSV)</a><span>%1</span>"
                               "<form method=\"post\" action=\"/logout\"><button type=\"submit\">Log out</button>"
                               "</form>")
                    .arg(Escape(user));
    html += QStringLiteral("</header>\n");
    if (verification) {
        const Banner banner = VerifyBanner(*verification);
        html += QStringLiteral("<div class=\"banner%1\">%2</div>\n")
                    .arg(banner.warning ? QStringLiteral(" warning") : QString(), Escape(banner.text));
    }
    html += QStringLiteral("<main>\n") + body + QStringLiteral("</main></body></html>\n");
    return html.toUtf8();
}

QByteArray LoginHtml(const QString &message)
{
    QString body = QStringLiteral("<form class=\"login\" method=\"post\" action=\"/login\"><h2>Log in</h2>");
    if (!message.isEmpty())
        body += QStringLiteral("<p class=\"message\">%1</p>").arg(Escape(message));
    body += QStringLiteral("<label for=\"user\">User</label><input id=\"user\" name=\"user\" autocomplete=\"username\" "
                           "required autofocus><label for=\"password\">Password</label><input id=\"password\" "
                           "name=\"password\" type=\"password\" autocomplete=\"current-password\" required>"
                           "<button type=\"submit\">Log in</button></form>\n");
    return PageHtml(QStringLiteral("Log in"), {}, nullptr, body);
}

QByteArray ProblemHtml(const QString &user, const QString &title, const QString &sentence)
{
    return PageHtml(title, user, nullptr,
                    QStringLiteral("<h2>%1</h2><p>%2</p><p><a href=\"/\">Back to the fleet</a></p>\n")
                        .arg(Escape(title), Escape(sentence)));
}

} // namespace r310::web
