#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Modal message boxes go through here, so that a test can answer them ahead of time and see
// what the user would have been shown.
class MessageBox
{
public:
    enum Button { Ok, Yes, No };
    // TrustOrNo: "はい" reads 「この証明書を信頼する」, so that trusting a certificate is a choice
    // the user names, never a reflex.
    enum Buttons { OkOnly, YesNo, TrustOrNo };
    enum Icon { NoIcon, Question, Exclamation, Critical, Information };

    // Caption used when a message has none of its own.
    static QString programTitle() { return QStringLiteral("Mossvale"); }

    // Shows the box, window-modal over parent, and returns at once; answered (when given) runs
    // once with the user's answer, later. Deleting the handle closes the box unanswered.
    static QPointer<QObject> open(QWidget* parent, const QString& text, const QString& caption = programTitle(),
                                  Buttons buttons = OkOnly, Icon icon = NoIcon, Button defaultButton = Ok,
                                  std::function<void(Button)> answered = {});

    // Test seam: the next box is answered with answer instead of being shown (by open() on the next
    // turn of the event loop); whileOpen, when given, runs first, as if events arrived while the box
    // was open.
    static void setNextAnswer(Button answer, std::function<void()> whileOpen = {});
    struct Shown
    {
        QString text;
        QString caption;
        Buttons buttons;
        Icon icon;
        Button defaultButton;
    };
    static QList<Shown>& shown(); // every box asked for, in order
    static void reset();          // forgets answers and the record
};
