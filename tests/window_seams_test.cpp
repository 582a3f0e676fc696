// The real Qt dialogs behind the window, driven by a timer: a question box and the file dialog.

#include "qt_file_dialog.h"
#include "qt_message_boxes.h"
#include "support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

// Runs act on the next modal widget that comes up, within 10 s, else closes it.
void whenModal(std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer;
    auto started = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal == nullptr && ++*started < 1000)
            return;
        timer->deleteLater();
        timer->stop();
        if (modal != nullptr)
            act(modal);
    });
    timer->start(10);
}

TEST(QtSeams, AQuestionShowsItsLinesAndAnswersWhatWasPressed)
{
    QtMessageBoxes boxes(nullptr);
    for (const bool yes : { true, false }) {
        QStringList shown;
        whenModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            shown << box->windowTitle() << box->text();
            for (QAbstractButton *button : box->buttons())
                shown << button->text().remove('&');
            box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        EXPECT_EQ(boxes.show("Prima riga. \rSeconda?", MessageStyle::YesNoQuestion, "Titolo"),
                  yes ? MessageAnswer::Yes : MessageAnswer::No);
        EXPECT_THAT(shown, ::testing::ElementsAre("Titolo", "Prima riga. \nSeconda?", "Sì", "No"));
    }
}

TEST(QtSeams, TheFileDialogGivesTheChosenPathOrTheCancel)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("dati.ptb"), "x");
    QtFileDialog dialog(nullptr);
    const FileRequest request { true, "Codifica Printable (*.ptb)|*.ptb", 4100, "Seleziona", {} };
    QStringList shown;
    whenModal([&](QWidget *modal) {
        auto *files = qobject_cast<QFileDialog *>(modal);
        shown << files->windowTitle() << files->findChild<QComboBox *>("fileTypeCombo")->currentText();
        shown << QString::number(files->width() >= 600);
        files->setDirectory(dir.path());
        files->selectFile("dati.ptb");
        static_cast<QDialog *>(files)->accept();
    });
    EXPECT_EQ(dialog.show(request, FileRequestKind::Open), dir.filePath("dati.ptb"));
    EXPECT_THAT(shown, ::testing::ElementsAre("Seleziona", "Codifica Printable (*.ptb)", "1"));
    whenModal([](QWidget *modal) { qobject_cast<QDialog *>(modal)->reject(); });
    EXPECT_THROW(dialog.show(request, FileRequestKind::Save), JobError);
}

} // namespace
