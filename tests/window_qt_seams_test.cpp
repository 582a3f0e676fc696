// Smoke test of the real Qt dialogs behind the window: QMessageBox and
// QFileDialog driven through a timer, with Qt's Italian texts when installed.

#include "frm_main.h"
#include "scripted_person.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

extern bool g_italianInstalled;

namespace {

// Runs one step for each modal widget that comes up, in order, while the code
// under test sits in its exec(); after 20 s it closes whatever is left open.
class ModalScript : public QObject {
public:
    explicit ModalScript(std::vector<std::function<void(QWidget *)>> steps)
        : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (m_giveUp.hasExpired(20000) && modal != nullptr)
                modal->close();
            else if (modal != nullptr && modal->isVisible() && modal != m_last && !finished())
                // Run outside the timer's slot: a step may open a nested modal.
                QMetaObject::invokeMethod(
                    this,
                    [step = m_steps.at(m_next++), target = QPointer<QWidget>(m_last = modal)] {
                        if (target)
                            step(target);
                    },
                    Qt::QueuedConnection);
        });
        m_timer.start(10);
        m_giveUp.start();
    }
    bool finished() const { return m_next == m_steps.size(); }

private:
    std::vector<std::function<void(QWidget *)>> m_steps;
    std::size_t m_next = 0;
    QPointer<QWidget> m_last;
    QTimer m_timer;
    QElapsedTimer m_giveUp;
};

QString label(QAbstractButton *button)
{
    return button == nullptr ? QString() : button->text().remove('&');
}

} // namespace

TEST(QtSeams, TheWindowAsksDecodesAndSavesThroughTheRealBoxesAndDialogs)
{
    const bool italian = QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_it.qm");
    EXPECT_EQ(g_italianInstalled, italian);
    QTemporaryDir folder;
    const QString input = folder.filePath("dati.ptb"), output = folder.filePath("uscita.txt");
    writeBytes(input, "Caff=C3=A8 a=3Db\r\n");
    writeBytes(output, "vecchio");
    for (const char *name : { "a.txt", "b.html", "c.htm", "LEGGIMI" })
        writeBytes(folder.filePath(name), "x");
    // Each filter by its patterns; "*.*" takes names without a dot too.
    const QStringList listed = { "a.txt/uscita.txt", "b.html/c.htm", "LEGGIMI/a.txt/b.html/c.htm/dati.ptb/uscita.txt" };
    FrmMain window;
    window.show();
    std::vector<QStringList> seen; // per modal: what it showed
    const auto box = [&](QMessageBox::StandardButton which) {
        return [&, which](QWidget *modal) {
            auto *shown = qobject_cast<QMessageBox *>(modal);
            ASSERT_TRUE(shown != nullptr && shown->button(which) != nullptr);
            QStringList labels;
            for (QAbstractButton *button : shown->buttons())
                labels << label(button);
            labels.sort();
            seen.push_back({ shown->windowTitle(), shown->text(), QString::number(shown->icon()),
                             QString::number(shown->textFormat()), labels.join('/'),
                             modal->parentWidget() == &window ? "modal to the window" : "alone" });
            shown->button(which)->click();
        };
    };
    // As the person typing a full path into the name field and pressing the accept button.
    const auto fileDialog = [&](const QString &answer) {
        return [&, answer](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            ASSERT_NE(dialog, nullptr);
            auto *buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
            auto *combo = dialog->findChild<QComboBox *>("fileTypeCombo");
            QStringList filters;
            for (int i = 0; i < combo->count(); ++i)
                filters << combo->itemText(i);
            seen.push_back(
                { dialog->windowTitle(), QString::number(dialog->fileMode()), QString::number(dialog->acceptMode()),
                  filters.join('|'), label(buttons->button(QDialogButtonBox::Open)),
                  label(buttons->button(QDialogButtonBox::Save)), label(buttons->button(QDialogButtonBox::Cancel)) });
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText(answer);
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        };
    };
    QString warning;
    ModalScript script({
        box(QMessageBox::Yes),
        fileDialog(input),
        fileDialog(folder.filePath("manca/uscita.txt")), // a missing folder is refused, the dialog stays
        [&](QWidget *modal) {
            warning = qobject_cast<QMessageBox *>(modal)->text(), qobject_cast<QMessageBox *>(modal)->accept();
        },
        fileDialog(output),
        box(QMessageBox::Yes), // overwrite it?
        box(QMessageBox::Ok),
        box(QMessageBox::Yes), // the second job: each filter tried, as the person picking it from the list, then
                               // cancelled
        [&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->setDirectory(folder.path());
            auto *combo = dialog->findChild<QComboBox *>("fileTypeCombo");
            auto *list = dialog->findChild<QListView *>("listView");
            const auto names = [&] {
                QStringList inView;
                for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
                    inView << list->model()->index(row, 0, list->rootIndex()).data().toString();
                inView.sort();
                return inView.join('/');
            };
            for (int i = 0; i < combo->count(); ++i) {
                combo->setCurrentIndex(i);
                emit combo->activated(i);
                static_cast<void>(QTest::qWaitFor([&] { return names() == listed.value(i); }, 3000));
                seen.push_back({ combo->itemText(i), names() });
            }
            dialog->reject();
        },
    });
    window.cmdDecPrintable->click();
    window.cmdConvPrintable->click();
    EXPECT_TRUE(script.finished() && QApplication::activeModalWidget() == nullptr && window.isVisible());
    EXPECT_EQ(readBytes(output), std::string("Caff\xC3\xA8 a=b\r\n"));
    EXPECT_FALSE(QFile::exists(folder.filePath("manca")));
    EXPECT_TRUE(warning.contains(folder.filePath("manca"))) << warning.toStdString();
    ASSERT_EQ(seen.size(), 10u);

    const QString yesNo = italian ? "No/Sì" : "No/Yes", cancel = italian ? "Annulla" : "Cancel",
                  plain = QString::number(Qt::PlainText);
    // The box shows a lone CR as a line break and reads no markup.
    EXPECT_EQ(
        seen[0],
        (QStringList { "Conversione Printable",
                       "Il file selezionato in formato Printable verrà  decodificato e salvato in un altro file "
                       "il cui filename verrà specificato in un'apposita finestra di dialogo. \nSi desidera procedere?",
                       QString::number(QMessageBox::Question), plain, yesNo, "modal to the window" }));
    EXPECT_EQ(seen[1],
              (QStringList { "Seleziona il file da decodificare...", QString::number(QFileDialog::ExistingFile),
                             QString::number(QFileDialog::AcceptOpen), "Codifica Printable (*.ptb)",
                             italian ? "Apri" : "Open", "", cancel }));
    const QStringList saveDialog { "Salva come...",
                                   QString::number(QFileDialog::AnyFile),
                                   QString::number(QFileDialog::AcceptSave),
                                   "tutti i file (*.*)",
                                   "",
                                   italian ? "Salva" : "Save",
                                   cancel };
    EXPECT_EQ(seen[2], saveDialog);
    EXPECT_EQ(seen[3], saveDialog);
    EXPECT_TRUE(seen[4][4] == yesNo && seen[4][1].contains("uscita.txt")) << seen[4].join('|').toStdString();
    EXPECT_EQ(seen[5],
              (QStringList { "Conversione", output.toUpper() + ": Decifrazione eseguita correttamente.",
                             QString::number(QMessageBox::Information), plain, "OK", "modal to the window" }));
    EXPECT_EQ(seen[7], (QStringList { "File di Testo (*.txt)", listed[0] }));
    EXPECT_EQ(seen[8], (QStringList { "Pagina HTML", listed[1] }));
    EXPECT_EQ(seen[9], (QStringList { "Tutti i file (*.*)", listed[2] }));

    ModalScript critical({ box(QMessageBox::Ok) });
    QtMessageBoxes(&window).show("2: No such file", MessageStyle::Critical, "Errore");
    ASSERT_EQ(seen.size(), 11u);
    EXPECT_EQ(seen[10],
              (QStringList { "Errore", "2: No such file", QString::number(QMessageBox::Critical), plain, "OK",
                             "modal to the window" }));
}
