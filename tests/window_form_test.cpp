// The window as laid out: controls, geometry, window kind, focus, keys and closing.

#include "frm_main.h"
#include "printable_text_box.h"
#include "scripted_person.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace {

// Shows the window and gives it the keyboard, as the desktop would at start.
void showActive(FrmMain &window)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

} // namespace

TEST(WindowForm, ControlsHaveNamesCaptionsContainersAndGeometryInFormOrder)
{
    FrmMain window;
    const struct {
        QWidget *member;
        const char *name, *container;
        QString caption; // none for the text boxes
        QRect pixels; // twips / 15, worked out by hand from the form
    } controls[] = {
        { window.Frame2, "Frame2", "FrmMain", "Codifica Printable", QRect(21, 162, 253, 85) },
        { window.cmdConvPrintable, "cmdConvPrintable", "Frame2", "Converti", QRect(33, 27, 81, 33) },
        { window.cmdDecPrintable, "cmdDecPrintable", "Frame2", "Decodifica", QRect(141, 27, 81, 33) },
        { window.txtConversione, "txtConversione", "FrmMain", {}, QRect(291, 159, 281, 115) },
        { window.Frame1, "Frame1", "FrmMain", "Codifica Mime64", QRect(21, 27, 256, 85) },
        { window.cmdDecifra, "cmdDecifra", "Frame1", "Decodifica", QRect(144, 30, 81, 33) },
        { window.cmdConverti, "cmdConverti", "Frame1", "Converti", QRect(36, 30, 81, 33) },
        { window.cmdPrintable, "cmdPrintable", "FrmMain", "Cod. Printable", QRect(291, 126, 281, 33) },
        { window.txtTesto, "txtTesto", "FrmMain", {}, QRect(291, 9, 281, 115) },
    };
    EXPECT_EQ(window.objectName(), "FrmMain");
    QStringList created, expected;
    for (QWidget *child : window.findChildren<QWidget *>())
        if (child->parentWidget() == &window || qobject_cast<QPushButton *>(child))
            created << child->objectName();
    for (const auto &control : controls) {
        SCOPED_TRACE(control.name);
        expected << control.name;
        ASSERT_EQ(window.findChild<QWidget *>(control.name), control.member);
        EXPECT_EQ(control.member->parentWidget()->objectName(), control.container);
        EXPECT_EQ(control.member->geometry(), control.pixels);
        auto *button = qobject_cast<QPushButton *>(control.member);
        auto *frame = qobject_cast<QGroupBox *>(control.member);
        EXPECT_EQ(button ? button->text() : frame ? frame->title() : QString(), control.caption);
    }
    EXPECT_EQ(created, expected); // creation order
}

TEST(WindowForm, IsAFixedCentredToolWindowWithOnlyAClose)
{
    FrmMain window;
    EXPECT_EQ(window.windowTitle(), "Ostrevo di utilizzo di Dravolin.dll");
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_EQ(window.windowType(), Qt::Tool);
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint) && flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint) || flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window.minimumSize() == QSize(575, 279) && window.maximumSize() == QSize(575, 279));
    window.show();
    EXPECT_EQ(window.size(), QSize(575, 279));
    // Centred as placed before the title bar was known: off by at most its size.
    const QRect screen = window.screen()->availableGeometry(), frame = window.frameGeometry();
    EXPECT_LE(qAbs(frame.center().x() - screen.center().x()), frame.width() - window.width() + 1);
    EXPECT_LE(qAbs(frame.center().y() - screen.center().y()), frame.height() - window.height() + 1);
}

TEST(WindowForm, TextBoxesWrapScrollDownAndOnlyTheUpperTakesTyping)
{
    FrmMain window;
    for (QPlainTextEdit *box : { window.txtTesto, static_cast<QPlainTextEdit *>(window.txtConversione) })
        EXPECT_TRUE(box->toPlainText().isEmpty() && box->lineWrapMode() == QPlainTextEdit::WidgetWidth
                    && box->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn
                    && box->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff)
            << box->objectName().toStdString();
    EXPECT_EQ(window.txtTesto->accessibleName(), "Testo da convertire");
    EXPECT_EQ(window.txtConversione->accessibleName(), "Testo convertito in Printable");
    EXPECT_EQ(window.txtConversione->palette().color(QPalette::Base), window.palette().color(QPalette::Button));

    showActive(window);
    window.txtConversione->setPrintableText("Caff=C3=A8");
    window.txtConversione->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(window.txtConversione, "abc");
    for (Qt::Key key : { Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return })
        QTest::keyClick(window.txtConversione, key);
    EXPECT_EQ(window.txtConversione->toPlainText(), "Caff=C3=A8");
    // Selectable by keyboard, and copied as shown.
    QTest::keyClick(window.txtConversione, Qt::Key_Home);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(window.txtConversione, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(window.txtConversione, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "Caff");
}

TEST(WindowForm, StartsInTheUpperBoxAndTabVisitsControlsInFormOrder)
{
    FrmMain window;
    showActive(window);
    EXPECT_EQ(QApplication::focusWidget(), window.txtTesto);
    const QList<QWidget *> cycle
        = { window.txtTesto,       window.cmdPrintable,    window.cmdConverti,     window.cmdDecifra,
            window.txtConversione, window.cmdDecPrintable, window.cmdConvPrintable };
    for (qsizetype i = 0; i < cycle.size(); ++i) {
        for (const bool back : { false, true }) {
            cycle.at(i)->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(cycle.at(i), Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
            EXPECT_EQ(QApplication::focusWidget(), cycle.at((i + (back ? cycle.size() - 1 : 1)) % cycle.size()))
                << cycle.at(i)->objectName().toStdString() << (back ? " back" : "");
        }
    }
}

TEST(WindowForm, EnterOrSpaceClickOnlyTheFocusedButtonAndEscClicksNothing)
{
    FrmMain window;
    ScriptedMessages messages; // answers No: nothing runs past the question
    ScriptedDialog dialog;
    window.setInteraction(dialog, messages);
    showActive(window);
    const std::pair<QPushButton *, const char *> buttons[] = { { window.cmdConverti, "Conversione Mime64" },
                                                               { window.cmdDecifra, "Conversione Mime64" },
                                                               { window.cmdConvPrintable, "Codifica Printable" },
                                                               { window.cmdDecPrintable, "Conversione Printable" } };
    for (const auto &[button, title] : buttons) {
        button->setFocus(Qt::OtherFocusReason);
        for (Qt::Key key : { Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space }) {
            QTest::keyClick(button, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            EXPECT_TRUE(messages.shown.size() == 1 && messages.shown.front().title == title)
                << title << ", key " << key;
            messages.shown.clear();
        }
        QTest::keyClick(button, Qt::Key_Escape);
        EXPECT_TRUE(messages.shown.empty());
    }
    // In the upper box Enter starts a new line and clicks nothing; Esc neither.
    window.txtTesto->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(window.txtTesto, "uno");
    QTest::keyClick(window.txtTesto, Qt::Key_Return);
    QTest::keyClicks(window.txtTesto, "due");
    QTest::keyClick(window.txtTesto, Qt::Key_Escape);
    EXPECT_EQ(window.txtTesto->toPlainText(), "uno\ndue");
    EXPECT_TRUE(messages.shown.empty() && window.txtConversione->toPlainText().isEmpty() && window.isVisible());
}

TEST(WindowForm, ClosingTheWindowEndsTheProgram)
{
    FrmMain window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(0, &window, &QWidget::close);
    QTimer::singleShot(5000, &window, [] { QCoreApplication::exit(99); }); // a watchdog
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(window.isVisible());
}
