// The advanced search window over a real selection window, on an offscreen display.
#include "search/frmAdvancedSubscriberSearch.h"
#include "select/frmChooseSubscribers.h"
#include "select/select_helpers.h"
#include "ui_helpers.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTimer>

using namespace zeph;
using namespace zeph::search;

namespace {

class AdvancedSearchWindowTest : public ::testing::Test {
protected:
    test::SelectionHost h;
    std::unique_ptr<frmChooseSubscribers> m_chooseWindow;
    std::unique_ptr<AdvancedSearchPage> m_page;
    std::unique_ptr<frmAdvancedSubscriberSearch> m_window;

    void SetUp() override {
        test::testApplication();
        ChooseSubscribersPage &choose = h.open("Advanced");
        m_chooseWindow = std::make_unique<frmChooseSubscribers>(choose);
        m_chooseWindow->refresh();
        m_chooseWindow->show();
        m_page = std::make_unique<AdvancedSearchPage>(h.temp().host(), h.registry(), h.tarvoDb(),
                                                      choose.search());
        m_window =
            std::make_unique<frmAdvancedSubscriberSearch>(*m_page, nullptr, m_chooseWindow.get());
        m_window->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->txtSQL->setFocus();
    }
    QString editorText() const { return m_window->txtSQL->toPlainText(); }
    // The colour of a part's first character, the part found from a widget position on.
    QColor colorOf(const QString &part, int from = 0) const {
        const int at = editorText().indexOf(part, from);
        EXPECT_GE(at, 0) << part.toStdString();
        QTextCursor cursor(m_window->txtSQL->document());
        cursor.setPosition(at + 1);
        return cursor.charFormat().foreground().color();
    }
    void type(const char *text) { QTest::keyClicks(m_window->txtSQL, QString::fromUtf8(text)); }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(m_window->txtSQL, key, modifiers);
    }
    void moveTo(int from, int to = -1) {
        QTextCursor cursor = m_window->txtSQL->textCursor();
        cursor.setPosition(from);
        cursor.setPosition(to < 0 ? from : to, QTextCursor::KeepAnchor);
        m_window->txtSQL->setTextCursor(cursor);
    }
    void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
};

TEST_F(AdvancedSearchWindowTest, PasteTheHistoryMenuTheLeastSizeThenTypeExecuteImport) {
    h.page().cmdView_Click(); // rows the selection grid held before: the import replaces them
    ASSERT_GT(h.page().myGrid.Rows(), 1);
    h.ui().expectBox("You must create a query to select subscribers first");
    click(m_window->cmdImport);
    h.ui().setClipboardText("WHERE SubscriberType=1\nORDER BY Alias");
    type("old text");
    click(m_window->cmdPaste);
    EXPECT_EQ(m_page->txtSQL, "WHERE SubscriberType=1\r\nORDER BY Alias");
    EXPECT_EQ(colorOf("WHERE"), Qt::black); // pasting does not recolour
    click(m_window->cmdExecute);
    h.ui().verifyAllShown();
    click(m_window->cmdClear);
    EXPECT_EQ(editorText(), "");
    click(m_window->cmdPreviousQueries);
    ASSERT_EQ(m_window->mnuPreviousQuery.size(), 1);
    EXPECT_EQ(m_window->mnuPreviousQuery[0]->text(), "WHERE SubscriberType=1 ORDER BY Alias");
    m_window->mnuPreviousQuery[0]->trigger();
    m_window->mnuPreviousQueriesPopup->hide();
    EXPECT_EQ(editorText(), "WHERE SubscriberType=1\nORDER BY Alias");
    EXPECT_EQ(colorOf("ORDER"), Qt::blue);

    m_window->resize(100, 100); // the window keeps its least size
    QApplication::processEvents();
    EXPECT_GE(m_window->width(), AdvancedSearchLayout::kMinWidth / 15);
    EXPECT_GE(m_window->height(), AdvancedSearchLayout::kMinHeight / 15);
    click(m_window->cmdClear);
    type("where subscribertype in (1,3) order by alias");
    press(Qt::Key_End); // a keyword just typed takes its colour at the next key
    EXPECT_EQ(m_page->txtSQL, "WHERE subscribertype IN (1,3) ORDER BY alias");
    EXPECT_EQ(m_window->txtSQL->textCursor().position(), editorText().size());
    click(m_window->cmdExecute);
    h.ui().verifyAllShown();
    const int found = m_window->resultModel()->rowCount();
    ASSERT_GT(found, 2);
    EXPECT_EQ(m_window->resultModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              "SubscriberObjectID");
    EXPECT_EQ(m_window->lblRowCount->text(), QStringLiteral("%1 rows").arg(found));
    EXPECT_TRUE(QFontInfo(m_window->txtSQL->font()).fixedPitch()) << "the editor's font";
    h.ui().setStrict(false);
    click(m_window->cmdImport);
    const int n = h.page().myGrid.Rows() - 1;
    EXPECT_GT(n, 0);
    EXPECT_LE(n, found);
    ASSERT_FALSE(h.ui().boxes().empty());
    EXPECT_EQ(h.ui().boxes().back().text, std::to_string(n) + " new subscribers added to grid");
    EXPECT_EQ(m_chooseWindow->gridModel()->rowCount(), n);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), QDialog::Accepted);
}

TEST_F(AdvancedSearchWindowTest,
       TypingColoursKeywordsAndStringsAcrossLineBreaksCopyAndPastePlainText) {
    type("where alias='a'");
    press(Qt::Key_Return);
    type("and alias like 'b and c%' or alias='z");
    press(Qt::Key_End);
    EXPECT_EQ(m_page->txtSQL, "WHERE alias='a'\r\nAND alias LIKE 'b AND c%' OR alias='z");
    EXPECT_EQ(editorText(), "WHERE alias='a'\nAND alias LIKE 'b AND c%' OR alias='z");
    EXPECT_EQ(colorOf("'a'"), Qt::red);
    EXPECT_EQ(colorOf("AND"), Qt::blue);
    EXPECT_EQ(colorOf("alias", 16), Qt::black);
    EXPECT_EQ(colorOf("AND c"), Qt::red);
    EXPECT_EQ(colorOf("OR"), Qt::blue);
    EXPECT_EQ(colorOf("'z"), Qt::black) << "an unmatched last apostrophe leaves the rest black";
    // A keyword edited into a plain word turns black at the next key; typing goes on in black.
    moveTo(editorText().indexOf("OR") + 2);
    type("x");
    press(Qt::Key_Home);
    EXPECT_EQ(colorOf("ORx"), Qt::black);
    press(Qt::Key_End);
    type("q");
    EXPECT_EQ(colorOf("q", editorText().size() - 1), Qt::black);

    // Copy, cut and paste are plain text.
    m_window->txtSQL->clear();
    type("where alias='x'");
    press(Qt::Key_End);
    moveTo(0, 5);
    press(Qt::Key_C, Qt::ControlModifier);
    const QMimeData *copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_FALSE(copied->hasHtml());
    EXPECT_EQ(copied->text(), "WHERE");
    EXPECT_FALSE(m_page->bCtrlDown());
    moveTo(6, 15);
    press(Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(h.ui().clipboardText(), "alias='x'");
    EXPECT_EQ(m_page->txtSQL, "WHERE ");
    auto *rich = new QMimeData;
    rich->setHtml("<b>WHERE</b> x");
    rich->setText("where alias='a'\r\nor alias='b'");
    QGuiApplication::clipboard()->setMimeData(rich);
    press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(editorText(), "WHERE where alias='a'\nor alias='b'");
    EXPECT_EQ(m_page->txtSQL, "WHERE where alias='a'\r\nor alias='b'");
    press(Qt::Key_End);
    EXPECT_EQ(colorOf("OR"), Qt::blue);
}

// The scripted user interface, giving the event loop its pass as the real one does.
struct PassingUi : test::ScriptedUi {
    void doEvents() override {
        ScriptedUi::doEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
};

TEST_F(AdvancedSearchWindowTest, CancelStopsARunningQueryAndTheWindowStaysForTheNext) {
    PassingUi ui;
    h.temp().host().ui = &ui;
    h.temp().host().queryTimeoutSeconds = 0; // only Cancel can end it
    m_window->txtSQL->setPlainText(
        "WHERE Alias IN (SELECT 'x' FROM MessagingRule a, MessagingRule b, MessagingRule c, "
        "MessagingRule d, MessagingRule e, MessagingRule f WHERE a.Enabled + b.Enabled + "
        "c.Enabled + d.Enabled + e.Enabled + f.Enabled < 0)");
    // While it runs: the busy pointer, the other controls waiting, Cancel (then Escape) answered.
    struct Seen {
        bool busy = false;
        bool executeWaits = false;
        bool cancelAnswers = false;
    } seen;
    QTimer::singleShot(300, m_window.get(), [&] {
        seen.busy = ui.busy();
        seen.executeWaits = !m_window->cmdExecute->isEnabled() && !m_window->txtSQL->isEnabled();
        seen.cancelAnswers = m_window->cmdCancel->isEnabled();
        click(m_window->cmdCancel);
    });
    ui.expectBox("The query was cancelled.");
    click(m_window->cmdExecute);
    ui.verifyAllShown();
    EXPECT_TRUE(seen.busy);
    EXPECT_TRUE(seen.executeWaits);
    EXPECT_TRUE(seen.cancelAnswers);
    EXPECT_FALSE(ui.busy());
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(m_window->cmdExecute->isEnabled());
    EXPECT_FALSE(m_page->unloadRequested());

    // Escape stops the next one the same way, and a sound query then runs as ever.
    QTimer::singleShot(300, m_window.get(),
                       [&] { QTest::keyClick(m_window.get(), Qt::Key_Escape); });
    ui.expectBox("The query was cancelled.");
    click(m_window->cmdExecute);
    ui.verifyAllShown();
    EXPECT_TRUE(m_window->isVisible());
    m_window->txtSQL->setPlainText("WHERE SubscriberType=1");
    click(m_window->cmdExecute);
    ui.verifyAllShown();
    EXPECT_GT(m_page->gridSQL.Rows(), 1);
    h.temp().host().ui = &h.ui();
}

TEST(QueryEditorKeyCodes, QtKeysAsWindowsCodes) {
    EXPECT_EQ(windowsKeyCode(Qt::Key_Control, Qt::NoModifier), 17);
    EXPECT_EQ(windowsKeyCode(Qt::Key_Exclam, Qt::ShiftModifier), 49);
    EXPECT_EQ(windowsKeyCode(Qt::Key_3, Qt::KeypadModifier), 99);
    EXPECT_EQ(windowsKeyCode(Qt::Key_Adiaeresis, Qt::NoModifier), 0);
    EXPECT_EQ(windowsShiftState(Qt::ShiftModifier | Qt::AltModifier), 5);
}

} // namespace
