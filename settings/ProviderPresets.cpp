#include "settings/ProviderPresets.h"

#include "maillib/Pop3Address.h"

namespace ProviderPresets {

const QList<ProviderPreset>& all()
{
    // Each entry only as its service's own help page gives it; services whose page could not be
    // confirmed are left for the user to type.
    static const QList<ProviderPreset> Presets{
        // https://developers.google.com/gmail/imap/imap-smtp (POP: pop.gmail.com:995, SSL; SASL XOAUTH2)
        {QStringLiteral("Gmail"), QStringLiteral("pop3s://pop.gmail.com:995"), AccountSignIn::OAuth2},
        // https://support.microsoft.com/en-us/office/pop-imap-and-smtp-settings-8361e398-8af4-4e97-b147-6c6c4ac95353
        // (POP: outlook.office365.com, 995, SSL/TLS, OAuth2/Modern Auth)
        {QStringLiteral("Outlook.com / Microsoft 365"), QStringLiteral("pop3s://outlook.office365.com:995"),
         AccountSignIn::OAuth2},
        // https://faq.support.biglobe.ne.jp/faq_detail.html?faq_category=1191&faq_id=12413
        // (POP: mail.biglobe.ne.jp, SSL, 995)
        {QStringLiteral("BIGLOBE"), QStringLiteral("pop3s://mail.biglobe.ne.jp:995"), AccountSignIn::Password},
        // http://asahi-net.jp/support/guide/mail/0600.html (POP: pop.asahi-net.or.jp, 995, POP over SSL/TLS)
        {QStringLiteral("ASAHIネット"), QStringLiteral("pop3s://pop.asahi-net.or.jp:995"), AccountSignIn::Password},
    };
    return Presets;
}

const ProviderPreset* forServer(const QString& server)
{
    const QString host = Pop3Address::parse(server).host.toLower();
    for (const ProviderPreset& preset : all()) {
        if (!host.isEmpty() && Pop3Address::parse(preset.server).host == host)
            return &preset;
    }
    return nullptr;
}

} // namespace ProviderPresets
