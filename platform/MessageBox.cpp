#include "platform/MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QTimer>
#include <memory>

namespace {
struct Answer
{
    MessageBox::Button button;
    std::function<void()> whileOpen;
};

QQueue<Answer>& answers()
{
    static QQueue<Answer> queue;
    return queue;
}

QMessageBox::StandardButton standard(MessageBox::Button button)
{
    switch (button) {
    case MessageBox::Yes:
        return QMessageBox::Yes;
    case MessageBox::No:
        return QMessageBox::No;
    case MessageBox::Ok:
        break;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon standard(MessageBox::Icon icon)
{
    switch (icon) {
    case MessageBox::Question:
        return QMessageBox::Question;
    case MessageBox::Exclamation:
        return QMessageBox::Warning;
    case MessageBox::Critical:
        return QMessageBox::Critical;
    case MessageBox::Information:
        return QMessageBox::Information;
    case MessageBox::NoIcon:
        break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QList<MessageBox::Shown>& MessageBox::shown()
{
    static QList<Shown> record;
    return record;
}

void MessageBox::reset()
{
    answers().clear();
    shown().clear();
}

void MessageBox::setNextAnswer(Button answer, std::function<void()> whileOpen)
{
    answers().enqueue({answer, std::move(whileOpen)});
}

namespace {
// The box as the user sees it, not shown yet.
QMessageBox* makeBox(QWidget* parent, const QString& text, const QString& caption, MessageBox::Buttons buttons,
                     MessageBox::Icon icon, MessageBox::Button defaultButton)
{
    auto* box =
        new QMessageBox(standard(icon), caption, text,
                        buttons == MessageBox::OkOnly ? QMessageBox::Ok : QMessageBox::Yes | QMessageBox::No, parent);
    if (buttons == MessageBox::TrustOrNo)
        box->button(QMessageBox::Yes)->setText(QStringLiteral("この証明書を信頼する"));
    box->setDefaultButton(standard(defaultButton));
    return box;
}

MessageBox::Button answerOf(MessageBox::Buttons buttons, int result)
{
    if (buttons == MessageBox::OkOnly)
        return MessageBox::Ok;
    return result == QMessageBox::Yes ? MessageBox::Yes : MessageBox::No;
}
} // namespace

QPointer<QObject> MessageBox::open(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                                   Icon icon, Button defaultButton, std::function<void(Button)> answered)
{
    shown().append({text, caption, buttons, icon, defaultButton});
    const bool headless = QGuiApplication::platformName() == u"offscreen";
    if (!answers().isEmpty() || headless) {
        // Answered on the next turn, as a person would: the handle cancels it until then.
        const Answer answer = answers().isEmpty() ? Answer{defaultButton, {}} : answers().dequeue();
        if (headless && !answer.whileOpen)
            qWarning("Mossvale: %s: %s", qPrintable(caption), qPrintable(text));
        auto* handle = new QObject(parent);
        QTimer::singleShot(0, handle, [handle, answer, answered] {
            handle->deleteLater();
            if (answer.whileOpen)
                answer.whileOpen();
            if (answered)
                answered(answer.button);
        });
        return handle;
    }
    QMessageBox* box = makeBox(parent, text, caption, buttons, icon, defaultButton);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, box, [buttons, answered](int result) {
        if (answered)
            answered(answerOf(buttons, result));
    });
    box->open(); // window-modal over its parent; nothing waits for it
    return box;
}
