// The window as laid out: controls, geometry, window kind, focus and keys.

#include "frm_main.h"
#include "printable_text_box.h"
#include "window_scripted.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

struct ControlCase {
    const char *name;
    const char *container;
    const char *caption; // nullptr for the text boxes
    QRect pixels;        // twips / 15, worked out by hand from the form
};

// Left, top, width, height in pixels relative to the container.
const ControlCase kControls[] = {
    {"Frame1", "FrmMain", "Codifica Mime64", QRect(21, 27, 256, 85)},
    {"cmdConverti", "Frame1", "Converti", QRect(36, 30, 81, 33)},
    {"cmdDecifra", "Frame1", "Decodifica", QRect(144, 30, 81, 33)},
    {"Frame2", "FrmMain", "Codifica Printable", QRect(21, 162, 253, 85)},
    {"cmdConvPrintable", "Frame2", "Converti", QRect(33, 27, 81, 33)},
    {"cmdDecPrintable", "Frame2", "Decodifica", QRect(141, 27, 81, 33)},
    {"txtTesto", "FrmMain", nullptr, QRect(291, 9, 281, 115)},
    {"cmdPrintable", "FrmMain", "Cod. Printable", QRect(291, 126, 281, 33)},
    {"txtConversione", "FrmMain", nullptr, QRect(291, 159, 281, 115)},
};

// Shows the window and gives it the keyboard, as the desktop would at start.
void showActive(FrmMain &window)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

QList<QWidget *> tabCycle(FrmMain &window)
{
    return {window.txtTesto,       window.cmdPrintable,    window.cmdConverti,
            window.cmdDecifra,     window.txtConversione,  window.cmdDecPrintable,
            window.cmdConvPrintable};
}

} // namespace

TEST(WindowForm, ControlsHaveNamesCaptionsContainersAndGeometry)
{
    FrmMain window;
    EXPECT_EQ(window.objectName(), QStringLiteral("FrmMain"));
    for (const ControlCase &control : kControls) {
        SCOPED_TRACE(control.name);
        auto *widget = window.findChild<QWidget *>(QString::fromLatin1(control.name));
        ASSERT_NE(widget, nullptr);
        ASSERT_NE(widget->parentWidget(), nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(control.container));
        EXPECT_EQ(widget->geometry(), control.pixels);
        EXPECT_TRUE(widget->isEnabled());
        if (auto *button = qobject_cast<QPushButton *>(widget))
            EXPECT_EQ(button->text(), QString::fromUtf8(control.caption));
        else if (auto *frame = qobject_cast<QGroupBox *>(widget))
            EXPECT_EQ(frame->title(), QString::fromUtf8(control.caption));
        else
            EXPECT_EQ(control.caption, nullptr);
    }
    // The members are the controls of the same name.
    EXPECT_EQ(window.cmdConverti->objectName(), QStringLiteral("cmdConverti"));
    EXPECT_EQ(window.cmdDecifra->objectName(), QStringLiteral("cmdDecifra"));
    EXPECT_EQ(window.cmdConvPrintable->objectName(), QStringLiteral("cmdConvPrintable"));
    EXPECT_EQ(window.cmdDecPrintable->objectName(), QStringLiteral("cmdDecPrintable"));
    EXPECT_EQ(window.cmdPrintable->objectName(), QStringLiteral("cmdPrintable"));
    EXPECT_EQ(window.txtTesto->objectName(), QStringLiteral("txtTesto"));
    EXPECT_EQ(window.txtConversione->objectName(), QStringLiteral("txtConversione"));
    EXPECT_EQ(window.Frame1->objectName(), QStringLiteral("Frame1"));
    EXPECT_EQ(window.Frame2->objectName(), QStringLiteral("Frame2"));
}

TEST(WindowForm, ControlsAreCreatedInFormOrder)
{
    FrmMain window;
    QStringList created;
    for (QObject *child : window.children()) {
        if (auto *widget = qobject_cast<QWidget *>(child)) {
            created << widget->objectName();
            for (QObject *inner : widget->children())
                if (qobject_cast<QPushButton *>(inner) != nullptr)
                    created << inner->objectName();
        }
    }
    const QStringList expected = {QStringLiteral("Frame2"),         QStringLiteral("cmdConvPrintable"),
                                  QStringLiteral("cmdDecPrintable"), QStringLiteral("txtConversione"),
                                  QStringLiteral("Frame1"),         QStringLiteral("cmdDecifra"),
                                  QStringLiteral("cmdConverti"),    QStringLiteral("cmdPrintable"),
                                  QStringLiteral("txtTesto")};
    EXPECT_EQ(created, expected);
}

TEST(WindowForm, IsAFixedCentredToolWindowWithOnlyAClose)
{
    FrmMain window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Ostrevo di utilizzo di Dravolin.dll"));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_EQ(window.windowType(), Qt::Tool);
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window.minimumSize(), QSize(575, 279));
    EXPECT_EQ(window.maximumSize(), QSize(575, 279));
    EXPECT_TRUE(window.testAttribute(Qt::WA_QuitOnClose));

    window.show();
    EXPECT_EQ(window.size(), QSize(575, 279));
    // Centred as placed before the title bar was known: off by at most its size.
    const QRect screen = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    EXPECT_LE(qAbs(frame.center().x() - screen.center().x()), frame.width() - window.width() + 1);
    EXPECT_LE(qAbs(frame.center().y() - screen.center().y()), frame.height() - window.height() + 1);
}

TEST(WindowForm, TextBoxesWrapScrollVerticallyAndStartEmpty)
{
    FrmMain window;
    for (QPlainTextEdit *box : {window.txtTesto, static_cast<QPlainTextEdit *>(window.txtConversione)}) {
        SCOPED_TRACE(box->objectName().toStdString());
        EXPECT_TRUE(box->toPlainText().isEmpty());
        EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        EXPECT_TRUE(box->tabChangesFocus());
        EXPECT_FALSE(box->accessibleName().isEmpty());
    }
    EXPECT_EQ(window.txtTesto->accessibleName(), QStringLiteral("Testo da convertire"));
    EXPECT_EQ(window.txtConversione->accessibleName(), QStringLiteral("Testo convertito in Printable"));
    EXPECT_FALSE(window.txtTesto->isReadOnly());
    EXPECT_TRUE(window.txtConversione->isReadOnly());
    EXPECT_EQ(window.txtConversione->palette().color(QPalette::Base),
              window.palette().color(QPalette::Button));

    // A long line wraps instead of scrolling sideways; many lines scroll down.
    window.show();
    window.txtTesto->setPlainText(QString(400, QLatin1Char('x')));
    QApplication::processEvents();
    EXPECT_GT(window.txtTesto->document()->firstBlock().layout()->lineCount(), 1);
    window.txtTesto->setPlainText(QStringLiteral("riga\n").repeated(40));
    QApplication::processEvents();
    EXPECT_GT(window.txtTesto->verticalScrollBar()->maximum(), 0);
}

TEST(WindowForm, StartsWithFocusInTheUpperBox)
{
    FrmMain window;
    showActive(window);
    EXPECT_EQ(QApplication::focusWidget(), window.txtTesto);
}

TEST(WindowForm, TabVisitsControlsInFormOrderFromEveryControl)
{
    FrmMain window;
    showActive(window);
    const QList<QWidget *> cycle = tabCycle(window);
    for (qsizetype i = 0; i < cycle.size(); ++i) {
        SCOPED_TRACE(cycle.at(i)->objectName().toStdString());
        cycle.at(i)->setFocus(Qt::OtherFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), cycle.at(i));
        QTest::keyClick(cycle.at(i), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), cycle.at((i + 1) % cycle.size()));
        cycle.at(i)->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(cycle.at(i), Qt::Key_Tab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), cycle.at((i + cycle.size() - 1) % cycle.size()));
    }

    // A full round from the start comes back to txtTesto, never resting on a frame.
    window.txtTesto->setFocus(Qt::OtherFocusReason);
    for (qsizetype step = 1; step <= cycle.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), cycle.at(step % cycle.size()));
    }
    EXPECT_EQ(window.Frame1->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(window.Frame2->focusPolicy(), Qt::NoFocus);
}

TEST(WindowForm, LowerBoxIgnoresTypingButCopies)
{
    FrmMain window;
    showActive(window);
    window.txtConversione->setPrintableText(QStringLiteral("Caff=C3=A8"));
    window.txtConversione->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(window.txtConversione, QStringLiteral("abc"));
    QTest::keyClick(window.txtConversione, Qt::Key_Backspace);
    QTest::keyClick(window.txtConversione, Qt::Key_Delete);
    QTest::keyClick(window.txtConversione, Qt::Key_Return);
    EXPECT_EQ(window.txtConversione->toPlainText(), QStringLiteral("Caff=C3=A8"));

    QApplication::clipboard()->clear();
    QTest::keyClick(window.txtConversione, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window.txtConversione, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Caff=C3=A8"));

    // Keyboard selection of part of it: Home, then Shift+Right four times.
    QTest::keyClick(window.txtConversione, Qt::Key_Home);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(window.txtConversione, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(window.txtConversione, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Caff"));
}

TEST(WindowForm, NoButtonIsDefaultOrCancel)
{
    FrmMain window;
    for (QPushButton *button : window.findChildren<QPushButton *>()) {
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    EXPECT_EQ(window.findChildren<QPushButton *>().size(), 5);
}

TEST(WindowForm, EnterOrSpaceClickOnlyTheFocusedButtonAndEscClicksNothing)
{
    FrmMain window;
    ScriptedMessages messages; // answers No: nothing runs past the question
    CancellingDialog dialog;
    window.setInteraction(dialog, messages);
    showActive(window);

    const struct {
        QPushButton *button;
        const char *title;
    } cases[] = {{window.cmdConverti, "Conversione Mime64"},
                 {window.cmdDecifra, "Conversione Mime64"},
                 {window.cmdConvPrintable, "Codifica Printable"},
                 {window.cmdDecPrintable, "Conversione Printable"}};
    for (const auto &item : cases) {
        SCOPED_TRACE(item.button->objectName().toStdString());
        item.button->setFocus(Qt::OtherFocusReason);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
            messages.shown.clear();
            QTest::keyClick(item.button, key, key == Qt::Key_Enter ? Qt::KeypadModifier
                                                                   : Qt::NoModifier);
            ASSERT_EQ(messages.shown.size(), 1) << "key " << key;
            EXPECT_EQ(messages.shown.first().title, QString::fromUtf8(item.title));
        }
        messages.shown.clear();
        QTest::keyClick(item.button, Qt::Key_Escape);
        EXPECT_TRUE(messages.shown.isEmpty());
    }
    EXPECT_TRUE(dialog.shown.isEmpty());

    // In the upper box Enter starts a new line and clicks nothing; Esc neither.
    messages.shown.clear();
    window.txtTesto->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(window.txtTesto, QStringLiteral("uno"));
    QTest::keyClick(window.txtTesto, Qt::Key_Return);
    QTest::keyClicks(window.txtTesto, QStringLiteral("due"));
    QTest::keyClick(window.txtTesto, Qt::Key_Escape);
    EXPECT_EQ(window.txtTesto->toPlainText(), QStringLiteral("uno\ndue"));
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_TRUE(window.txtConversione->toPlainText().isEmpty());
    EXPECT_TRUE(window.isVisible());
}
