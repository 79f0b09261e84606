#include "TableRows.h"
#include "TestProgramFolder.h"
#include "app/MainForm.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "settings/ProgramFolder.h"
#include "settings/SetForm.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <memory>

// The main window on the offscreen platform: start-up, shutdown, the settings it owns, every command.
namespace {
struct StartRow
{
    const char* name;
    QByteArray general; // lines of "[EXEINI]"; empty: a fresh install, not even the data folder
    bool server;        // a POP3 server is configured
    QString text7;
    void (*end)(MainForm&);
    bool stores; // the shutdown stores the mail program; "終了" ends at once, storing nothing
};

struct ChoiceRow
{
    const char* name;
    QString chosen; // empty: the dialog is cancelled
    bool yes;
    QString path;    // in use afterwards and stored at exit
    QString refused; // a character the settings file cannot hold: refused, naming it
};
} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;

private Q_SLOTS:
    void init()
    {
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>(true, true);
    }

    void startUpAndShutdown_data()
    {
        const auto add = addRow<StartRow>();
        // clang-format off
        add({"no files, close box", {}, false, "0", [](MainForm& f) { f.close(); }, true});
        add({"5, 終了", "NUMBER=1\r\nNUMBER2=5\r\n", true, "5", [](MainForm& f) { f.Command2->click(); }, false});
        add({"2, tray pop-up 終了", "NUMBER2=2\r\n", true, "2", [](MainForm& f) { f.mnuPopup->actions().last()->trigger(); }, true});
        // clang-format on
    }
    void startUpAndShutdown()
    {
        QFETCH(StartRow, row);
        if (row.general.isEmpty())
            m_folder = std::make_unique<TestProgramFolder>(false, true);
        else
            m_folder->write(GeneralFile, "[EXEINI]\r\n" + row.general);
        if (row.server)
            m_folder->writeServer("pop.example.jp", 1);
        MainForm form;
        form.show();
        QVERIFY(form.setForm().isLoaded() && form.setForm().loaded()->isVisible() == !row.server);
        const bool armed = row.text7.toInt() > 0;
        QVERIFY(form.Check1->isChecked() == armed && form.Timer3->isActive() == armed);
        QCOMPARE(form.Text7->text(), row.text7);
        form.Text1->setText(u"/home/メーラー①"_qs);
        row.end(form);
        const QByteArray name = row.stores ? "NAME=" + cp932(u"/home/メーラー①"_qs) + "\r\n" : "";
        QCOMPARE(m_folder->read(GeneralFile),
                 "[EXEINI]\r\n" + (row.general.isEmpty() ? "NUMBER2=0\r\n" : row.general) + name);
    }

    void mailProgramChoice_data()
    {
        const auto add = addRow<ChoiceRow>();
        add({"cancelled", "", true, "", ""});
        add({"chosen", "/opt/my mail/起動.sh", true, "/opt/my mail/起動.sh", ""});
        add({"answered No keeps the old one", "/usr/bin/new", false, "/usr/bin/old", ""});
        add({"no cp932 form: refused", "/opt/café/mail", true, "/usr/bin/old", "é"});
    }
    void mailProgramChoice()
    {
        QFETCH(ChoiceRow, row);
        m_folder->write(GeneralFile, "[EXEINI]\r\nNAME=/usr/bin/old\r\n");
        MainForm form;
        form.show();
        FileDialog::setNextFileName(row.chosen);
        bool answered = false; // the dialog and the box answer later, on turns of the event loop
        MessageBox::setNextAnswer(row.yes ? MessageBox::Yes : MessageBox::No, [&answered] { answered = true; });
        QTest::mouseClick(form.Command7, Qt::LeftButton);
        QTRY_VERIFY(answered);
        const QString asked = "『 " + QFileInfo(row.chosen).fileName() + "』 が起動するメーラーとして設定されました。";
        QCOMPARE(MessageBox::shown().last().text.section(u'」', 0, 0),
                 row.refused.isEmpty() ? asked + "これで良いですか？" : "「" + row.refused);
        QCOMPARE(form.settings().general().mailProgram, row.path); // what the next check starts
        form.close();
        QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNAME=" + cp932(row.path) + "\r\nNUMBER2=0\r\n");
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
