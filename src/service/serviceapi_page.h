#pragma once

#include <QByteArray>
#include <QString>

namespace sw {

// The service's page, with the session's CSRF token in it.
QByteArray servicePageHtml(const QString &csrf);
// The page that asks for the access token (once; the session cookie keeps it).
QByteArray serviceTokenFormHtml(const QString &why);

} // namespace sw
