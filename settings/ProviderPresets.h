#pragma once

#include "settings/Accounts.h"

#include <QList>
#include <QString>

// The mail services whose POP3 settings the account window fills in: each one's server over TLS and
// how it signs in, as the service documents them.
struct ProviderPreset
{
    QString name;   // as the user knows the service
    QString server; // "pop3s://host:port"
    AccountSignIn signIn;
};

namespace ProviderPresets {
const QList<ProviderPreset>& all();
// The preset whose host the server text names (scheme, port and letter case aside), or null.
const ProviderPreset* forServer(const QString& server);
} // namespace ProviderPresets
