#pragma once
// The pages around their content: one layout with the stylesheet, the
// banner of the last verification and the logout button; the login form.
// No scripts anywhere: forms and links do everything.
#include "RecordsSource.h"

#include <QByteArray>
#include <QString>

namespace r310::web {

// The one stylesheet, served as /style.css.
QByteArray StyleSheet();

// A whole page: `body` is HTML made of escaped texts; `user` empty on the login page.
QByteArray PageHtml(const QString &title, const QString &user, const VerifyStatus *verification, const QString &body);

// The banner's text and whether it is a warning.
struct Banner {
    QString text;
    bool warning = false;
};
Banner VerifyBanner(const VerifyStatus &status);

// The login form, with a message above it when not empty.
QByteArray LoginHtml(const QString &message);

// A page that says what went wrong, in one sentence.
QByteArray ProblemHtml(const QString &user, const QString &title, const QString &sentence);

} // namespace r310::web
