#pragma once

#include <QString>

// The application's information values, fixed at build time. Keys follow the names the
// rest of the system reads ("CFBundleShortVersionString", "CFBundleVersion", "SUFeedURL").
namespace InfoDictionary {

// The value for `key`, or an empty string when the build defines none.
QString value(const QString &key);

QString shortVersion(); // CFBundleShortVersionString
QString buildNumber();  // CFBundleVersion
QString webHost();      // the product's web site, without a trailing slash
QString analyticsHost(); // the usage-event collection host

} // namespace InfoDictionary
