#include "platform/MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

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

MessageBox::Button MessageBox::show(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                                    Icon icon, Button defaultButton)
{
    shown().append({text, caption, buttons, icon, defaultButton});
    if (!answers().isEmpty()) {
        Answer answer = answers().dequeue();
        if (answer.whileOpen)
            answer.whileOpen();
        return answer.button;
    }
    if (QGuiApplication::platformName() == u"offscreen") {
        // Nobody can answer a box that nobody sees: a headless run must not hang on one.
        qWarning("Mossvale: %s: %s", qPrintable(caption), qPrintable(text));
        return defaultButton;
    }
    QMessageBox box(standard(icon), caption, text,
                    buttons == OkOnly ? QMessageBox::Ok : QMessageBox::Yes | QMessageBox::No, parent);
    if (buttons == TrustOrNo)
        box.button(QMessageBox::Yes)->setText(QStringLiteral("この証明書を信頼する"));
    box.setDefaultButton(standard(defaultButton));
    const int result = box.exec();
    if (buttons == OkOnly)
        return Ok;
    return result == QMessageBox::Yes ? Yes : No;
}
