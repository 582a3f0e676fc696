// Smoke tests of the real Qt dialogs behind the window: QMessageBox and
// QFileDialog driven through timers, with Qt's Italian texts.

#include "frm_main.h"
#include "job_errors.h"
#include "qt_file_dialog.h"
#include "qt_message_boxes.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

extern bool g_italianInstalled;

namespace {

// Runs one step for each modal widget that comes up, in order, while the code
// under test sits in its exec().
class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget *)>;

    explicit ModalScript(std::vector<Step> steps) : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalScript::poll);
        m_timer.start(10);
        // A step that failed must not leave a test waiting in exec() forever.
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, &ModalScript::giveUp);
        m_deadline.start(20000);
    }

    bool finished() const { return m_next == m_steps.size(); }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == m_last || finished())
            return;
        m_last = modal;
        // Run outside the timer's slot: a timer does not fire again inside
        // its own slot, and a step may open a nested modal.
        QMetaObject::invokeMethod(
            this, [this, step = m_steps.at(m_next), target = QPointer<QWidget>(modal)] {
                if (target)
                    step(target);
            },
            Qt::QueuedConnection);
        if (++m_next == m_steps.size())
            m_timer.stop();
    }

    void giveUp()
    {
        m_timer.stop();
        m_giveUp.start(50);
        connect(&m_giveUp, &QTimer::timeout, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
    }

    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QPointer<QWidget> m_last;
    QTimer m_timer;
    QTimer m_deadline;
    QTimer m_giveUp;
};

// As the person typing a full path into the file name field.
void typeFileName(QFileDialog *dialog, const QString &path)
{
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(path);
}

// What the dialog's accept button does once the name is in.
void acceptDialog(QFileDialog *dialog)
{
    QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
}

QString withoutMnemonic(QString text)
{
    return text.remove(QLatin1Char('&'));
}

bool italianAvailable()
{
    return QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath)
                         + QStringLiteral("/qtbase_it.qm"));
}

// Presses a message box button as the person would.
void press(QWidget *modal, QMessageBox::StandardButton which)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->button(which), nullptr);
    box->button(which)->click();
}

QStringList listedNames(QFileDialog *dialog)
{
    auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
    QStringList names;
    if (list == nullptr)
        return names;
    const QModelIndex root = list->rootIndex();
    for (int row = 0; row < list->model()->rowCount(root); ++row)
        names << list->model()->index(row, 0, root).data().toString();
    names.sort();
    return names;
}

int cancelNumber(const std::function<void()> &showDialog)
{
    try {
        showDialog();
    } catch (const JobError &error) {
        return error.number();
    }
    return 0;
}

void writeFile(const QString &path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

} // namespace

TEST(QtSeams, ItalianTranslationIsLoadedWhenInstalled)
{
    if (!italianAvailable())
        GTEST_SKIP() << "qtbase_it.qm is not installed";
    EXPECT_TRUE(g_italianInstalled);
    EXPECT_EQ(withoutMnemonic(QCoreApplication::translate("QPlatformTheme", "&Yes")),
              QStringLiteral("Sì"));
}

TEST(QtSeams, QuestionBoxShowsPromptTitleIconAndItalianButtons)
{
    QtMessageBoxes boxes(nullptr);
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    Qt::TextFormat format = Qt::AutoText;
    ModalScript script({[&](QWidget *modal) {
                            auto *box = qobject_cast<QMessageBox *>(modal);
                            ASSERT_NE(box, nullptr);
                            text = box->text();
                            title = box->windowTitle();
                            icon = box->icon();
                            format = box->textFormat();
                            for (QAbstractButton *button : box->buttons())
                                buttons << withoutMnemonic(button->text());
                            press(modal, QMessageBox::No);
                        },
                        [&](QWidget *modal) { press(modal, QMessageBox::Yes); }});
    EXPECT_EQ(boxes.show(QStringLiteral("uno  <b>due</b> \rSi desidera procedere?"),
                         MessageStyle::YesNoQuestion, QStringLiteral("Conversione Mime64")),
              MessageAnswer::No);
    EXPECT_EQ(boxes.show(QStringLiteral("x"), MessageStyle::YesNoQuestion, QStringLiteral("t")),
              MessageAnswer::Yes);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(text, QStringLiteral("uno  <b>due</b> \nSi desidera procedere?"));
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(title, QStringLiteral("Conversione Mime64"));
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(buttons.size(), 2);
    if (g_italianInstalled) {
        EXPECT_TRUE(buttons.contains(QStringLiteral("Sì"))) << buttons.join(',').toStdString();
        EXPECT_TRUE(buttons.contains(QStringLiteral("No")));
    }
}

TEST(QtSeams, InformationAndCriticalBoxesHaveOneOkButton)
{
    QtMessageBoxes boxes(nullptr);
    QList<QMessageBox::Icon> icons;
    QList<int> buttonCounts;
    const auto record = [&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        ASSERT_NE(box, nullptr);
        icons << box->icon();
        buttonCounts << int(box->buttons().size());
        press(modal, QMessageBox::Ok);
    };
    ModalScript script({record, record});
    EXPECT_EQ(boxes.show(QStringLiteral("/TMP/A.M64: Conversione eseguita correttamente."),
                         MessageStyle::Information, QStringLiteral("Conversione")),
              MessageAnswer::Ok);
    EXPECT_EQ(boxes.show(QStringLiteral("2: No such file"), MessageStyle::Critical,
                         QStringLiteral("Errore")),
              MessageAnswer::Ok);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(icons, (QList<QMessageBox::Icon>{QMessageBox::Information, QMessageBox::Critical}));
    EXPECT_EQ(buttonCounts, (QList<int>{1, 1}));
}

TEST(QtSeams, WindowAsksThroughRealBoxAndOpensRealDialog)
{
    FrmMain window;
    window.show();
    QString firstText;
    QString dialogTitle;
    QFileDialog::FileMode mode = QFileDialog::Directory;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptSave;
    QStringList shownFilters;
    QString openLabel;
    QString cancelLabel;
    bool modalToWindow = false;
    ModalScript script({
        [&](QWidget *modal) {
            firstText = qobject_cast<QMessageBox *>(modal)->text();
            modalToWindow = modal->parentWidget() == &window;
            press(modal, QMessageBox::No);
        },
        [&](QWidget *modal) { press(modal, QMessageBox::Yes); },
        [&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            ASSERT_NE(dialog, nullptr);
            dialogTitle = dialog->windowTitle();
            mode = dialog->fileMode();
            acceptMode = dialog->acceptMode();
            auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            for (int i = 0; combo != nullptr && i < combo->count(); ++i)
                shownFilters << combo->itemText(i);
            auto *box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
            if (box != nullptr) {
                if (box->button(QDialogButtonBox::Open) != nullptr)
                    openLabel = withoutMnemonic(box->button(QDialogButtonBox::Open)->text());
                if (box->button(QDialogButtonBox::Cancel) != nullptr)
                    cancelLabel = withoutMnemonic(box->button(QDialogButtonBox::Cancel)->text());
            }
            dialog->reject();
        },
    });
    window.cmdDecifra->click(); // answered No: no dialog follows
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    window.cmdConverti->click(); // answered Yes, then the dialog is cancelled
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(firstText,
              QStringLiteral("Il file selezionato in formato Mime64 verrà  decodificato e salvato "
                             "in un altro file il cui filename verrà specificato in un'apposita "
                             "finestra di dialogo. \nSi desidera procedere?"));
    EXPECT_TRUE(modalToWindow);
    EXPECT_EQ(dialogTitle, QStringLiteral("Selezionare il file da convertire..."));
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_EQ(acceptMode, QFileDialog::AcceptOpen);
    EXPECT_EQ(shownFilters, QStringList{QStringLiteral("Tutti i file (*.*)")});
    if (g_italianInstalled) {
        EXPECT_EQ(openLabel, QStringLiteral("Apri"));
        EXPECT_EQ(cancelLabel, QStringLiteral("Annulla"));
    }
    // The cancel ended the job without a word.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(window.isVisible());
}

TEST(QtSeams, OpenDialogShowsDescriptionsAndFiltersByTheirPatterns)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char *name : {"a.txt", "b.html", "c.htm", "LEGGIMI", "d.m64"})
        writeFile(folder.filePath(QString::fromLatin1(name)));

    QtFileDialog requester(nullptr);
    FileRequest request;
    request.filter = QStringLiteral(
        "File di Testo (*.txt)|*.txt|Pagina HTML|*.html;*.htm|Tutti i file (*.*)|*.*");
    request.flags = 4100;
    request.dialogTitle = QStringLiteral("Selezione del file da codificare...");

    QStringList shownFilters;
    QList<QStringList> listed;
    ModalScript script({[&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(combo, nullptr);
        for (int i = 0; i < combo->count(); ++i)
            shownFilters << combo->itemText(i);
        dialog->setDirectory(folder.path());
        const QList<QStringList> expected = {
            {QStringLiteral("a.txt")},
            {QStringLiteral("b.html"), QStringLiteral("c.htm")},
            {QStringLiteral("LEGGIMI"), QStringLiteral("a.txt"), QStringLiteral("b.html"),
             QStringLiteral("c.htm"), QStringLiteral("d.m64")}};
        for (int i = 0; i < combo->count(); ++i) {
            // As the person picking it from the list.
            combo->setCurrentIndex(i);
            emit combo->activated(i);
            static_cast<void>(QTest::qWaitFor([&] { return listedNames(dialog) == expected.value(i); }, 3000));
            listed << listedNames(dialog);
        }
        dialog->reject();
    }});
    EXPECT_EQ(cancelNumber([&] { requester.show(request, FileRequestKind::Open); }),
              kCancelledErrorNumber);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(shownFilters, (QStringList{QStringLiteral("File di Testo (*.txt)"),
                                         QStringLiteral("Pagina HTML"),
                                         QStringLiteral("Tutti i file (*.*)")}));
    ASSERT_EQ(listed.size(), 3);
    EXPECT_EQ(listed.at(0), QStringList{QStringLiteral("a.txt")});
    EXPECT_EQ(listed.at(1), (QStringList{QStringLiteral("b.html"), QStringLiteral("c.htm")}));
    // "*.*" lists every file, the one without a dot included.
    EXPECT_EQ(listed.at(2), (QStringList{QStringLiteral("LEGGIMI"), QStringLiteral("a.txt"),
                                         QStringLiteral("b.html"), QStringLiteral("c.htm"),
                                         QStringLiteral("d.m64")}));
}

TEST(QtSeams, OpenDialogReturnsTheChosenFullPath)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString chosen = folder.filePath(QStringLiteral("lettera.txt"));
    writeFile(chosen);
    QtFileDialog requester(nullptr);
    FileRequest request;
    request.filter = QStringLiteral("Tutti i file (*.*)|*.*");
    request.flags = 4100;
    request.dialogTitle = QStringLiteral("Selezionare il file da convertire...");
    ModalScript script({[&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        typeFileName(dialog, chosen);
        acceptDialog(dialog);
    }});
    EXPECT_EQ(requester.show(request, FileRequestKind::Open), chosen);
    EXPECT_TRUE(script.finished());
}

TEST(QtSeams, SaveDialogAsksBeforeOverwriting)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString existing = folder.filePath(QStringLiteral("uscita.bin"));
    writeFile(existing);
    QtFileDialog requester(nullptr);
    FileRequest request;
    request.filter = QStringLiteral("tutti i file (*.*)|*.*");
    request.flags = 2054;
    request.dialogTitle = QStringLiteral("Salva come...");

    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QString saveLabel;
    QString question;
    ModalScript script({[&](QWidget *modal) {
                            auto *dialog = qobject_cast<QFileDialog *>(modal);
                            ASSERT_NE(dialog, nullptr);
                            acceptMode = dialog->acceptMode();
                            auto *box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
                            if (box != nullptr && box->button(QDialogButtonBox::Save) != nullptr)
                                saveLabel = withoutMnemonic(box->button(QDialogButtonBox::Save)->text());
                            typeFileName(dialog, existing);
                            acceptDialog(dialog);
                        },
                        [&](QWidget *modal) {
                            auto *box = qobject_cast<QMessageBox *>(modal);
                            ASSERT_NE(box, nullptr);
                            question = box->text();
                            press(modal, QMessageBox::Yes);
                        }});
    EXPECT_EQ(requester.show(request, FileRequestKind::Save), existing);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(acceptMode, QFileDialog::AcceptSave);
    EXPECT_TRUE(question.contains(QStringLiteral("uscita.bin"))) << question.toStdString();
    if (g_italianInstalled) {
        EXPECT_EQ(saveLabel, QStringLiteral("Salva"));
    }
}

TEST(QtSeams, SaveDialogRefusesAMissingFolder)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString missing = folder.filePath(QStringLiteral("manca/uscita.bin"));
    QtFileDialog requester(nullptr);
    FileRequest request;
    request.filter = QStringLiteral("tutti i file (*.*)|*.*");
    request.flags = 2054;
    request.dialogTitle = QStringLiteral("Salva come...");

    QString warning;
    bool stillOpen = false;
    ModalScript script({[&](QWidget *modal) {
                            auto *dialog = qobject_cast<QFileDialog *>(modal);
                            ASSERT_NE(dialog, nullptr);
                            typeFileName(dialog, missing);
                            acceptDialog(dialog);
                        },
                        [&](QWidget *modal) {
                            auto *box = qobject_cast<QMessageBox *>(modal);
                            ASSERT_NE(box, nullptr);
                            warning = box->text();
                            box->accept();
                        },
                        [&](QWidget *modal) {
                            auto *dialog = qobject_cast<QFileDialog *>(modal);
                            ASSERT_NE(dialog, nullptr);
                            stillOpen = dialog->isVisible();
                            dialog->reject();
                        }});
    EXPECT_EQ(cancelNumber([&] { requester.show(request, FileRequestKind::Save); }),
              kCancelledErrorNumber);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(warning.contains(folder.filePath(QStringLiteral("manca")))) << warning.toStdString();
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(QFile::exists(missing));
}
