#include "maillib/NMail.h"

#include "maillib/Pop3Session.h"
#include "maillib/Pop3Texts.h"
#include "platform/Cp932Codec.h"

#include <map>
#include <memory>

namespace {

struct Library
{
    std::map<int, std::unique_ptr<Pop3Session>> sessions;
    int nextHandle = 1;
    int textSize = 8192;
    QString lastError;
};

Library& library()
{
    static Library instance;
    return instance;
}

Pop3Session* sessionOf(int handle)
{
    auto& sessions = library().sessions;
    const auto it = sessions.find(handle);
    if (it == sessions.end()) {
        library().lastError = Pop3Texts::invalidHandle;
        return nullptr;
    }
    return it->second.get();
}

// Cut so that the text and its NUL fit the caller's buffer as cp932 bytes; a character
// without a cp932 form counts as one byte, as its substitute would.
QString fitted(const QString& text)
{
    const int limit = library().textSize - 1;
    int bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const int width = std::max(1, Cp932Codec::byteLength(text.mid(i, length)));
        if (bytes + width > limit)
            return text.left(i);
        bytes += width;
        i += length - 1;
    }
    return text;
}

void clearTexts(QString& a, QString& b, QString& c, QString& d)
{
    a.clear();
    b.clear();
    c.clear();
    d.clear();
}

} // namespace

int NMailInitializeWinSock()
{
    library().lastError.clear();
    return 0;
}

int NMailEndWinSock()
{
    library().sessions.clear();
    return 0;
}

int NMailSetOption(int option, int value)
{
    if (option != 1 || value < 2)
        return -1;
    library().textSize = value;
    return 0;
}

int NMailPop3Connect(const QString& server)
{
    auto session = std::make_unique<Pop3Session>();
    if (!session->open(server)) {
        library().lastError = session->errorText();
        if (session->failure() != Pop3Connection::Failure::Security)
            return -1;
    }
    const int handle = library().nextHandle++;
    if (library().nextHandle <= 0)
        library().nextHandle = 1;
    library().sessions[handle] = std::move(session);
    return handle;
}

int NMailPop3Authenticate(int handle, const QString& user, const QString& password, int apop)
{
    Pop3Session* session = sessionOf(handle);
    if (!session)
        return -1;
    const int count = session->login(user, password, apop != 0);
    if (count < 0)
        library().lastError = session->errorText();
    return count;
}

int NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date, QString& sender, QString& header,
                           int /*flag*/)
{
    Pop3Session* session = sessionOf(handle);
    const std::optional<MessageHeaders> headers = session ? session->headers(number) : std::nullopt;
    if (!headers) {
        if (session)
            library().lastError = session->errorText();
        clearTexts(subject, date, sender, header);
        return -1;
    }
    subject = fitted(headers->subject);
    date = fitted(headers->date);
    sender = fitted(headers->sender);
    header = fitted(headers->rawHeader);
    return 0;
}

int NMailPop3DeleteMail(int handle, int number)
{
    Pop3Session* session = sessionOf(handle);
    if (!session)
        return -1;
    if (!session->remove(number)) {
        library().lastError = session->errorText();
        return -1;
    }
    return 0;
}

int NMailGetMessage(int /*which*/, QString& text, int& size)
{
    text = fitted(library().lastError);
    const int length = Cp932Codec::byteLength(text);
    size = length >= 0 ? length : int(text.toUtf8().size());
    return 0;
}

int NMailPop3Close(int handle)
{
    auto& sessions = library().sessions;
    const auto it = sessions.find(handle);
    if (it == sessions.end()) {
        library().lastError = Pop3Texts::invalidHandle;
        return -1;
    }
    const bool ok = it->second->close();
    if (!ok || !it->second->errorText().isEmpty())
        library().lastError = it->second->errorText();
    sessions.erase(it);
    return ok ? 0 : -1;
}
