#include "platform/Cp932Entry.h"

#include "platform/Cp932Codec.h"
#include "platform/MessageBox.h"

#include <QLineEdit>
#include <QValidator>

namespace {
class Cp932Validator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        m_refusal = cp932Refusal(input);
        return m_refusal.isEmpty() ? Acceptable : Invalid;
    }
    QString lastRefusal() const { return m_refusal; }

private:
    mutable QString m_refusal;
};
} // namespace

QString cp932Refusal(const QString& text)
{
    const QString character = Cp932Codec::firstUnencodable(text);
    if (character.isEmpty())
        return {};
    return QStringLiteral("「%1」は使えない文字です。\nShift_JIS（cp932）で表せない文字は設定に保存できません。")
        .arg(character);
}

void refuseNonCp932(QLineEdit* box)
{
    auto* validator = new Cp932Validator(box);
    box->setValidator(validator);
    QObject::connect(box, &QLineEdit::inputRejected, box, [box, validator] {
        if (!validator->lastRefusal().isEmpty())
            MessageBox::open(box->window(), validator->lastRefusal(), MessageBox::programTitle(), MessageBox::OkOnly,
                             MessageBox::Exclamation);
    });
}
