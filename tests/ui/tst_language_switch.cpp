// A language switch on the real windows: the selection window takes the new language's
// captions and grid headers; the first page keeps its English texts.
#include "app/MainPage.h"
#include "app/Program.h"
#include "app/frmMain.h"
#include "i18n/modLocalize.h"
#include "select/ChooseSubscribersPage.h"
#include "select/frmChooseSubscribers.h"
#include "support/TempHost.h"
#include "ui/Wizard.h"
#include "ui_helpers.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace zeph;

TEST(LanguageSwitch, SelectionWindowFollowsAndFirstPageStaysEnglish) {
    test::testApplication();
    test::TempHost host(20, 4);
    const fs::path german = fs::path(ZEPH_BIN_DIR) / "zephrane_DEU.dll";
    if (!fs::exists(german))
        GTEST_SKIP() << "the language libraries were not built";
    fs::copy_file(german, fs::path(host.programFolder()) / german.filename());

    Program program(host.host());
    program.exitHandler = [](int) {};
    MainPage mainPage(program);
    mainPage.Form_Load();
    Wizard wizard(program, mainPage);
    wizard.start();
    wizard.mainWindow()->cmbTemplateListDisplayName->setCurrentIndex(0);
    wizard.mainNext();
    frmChooseSubscribers *choose = wizard.chooseWindow();
    ASSERT_NE(choose, nullptr);
    EXPECT_EQ(choose->cmdView->text().toStdString(), "Add Subscribers To Grid");
    const QString aliasHeader = choose->myGrid->model()->headerData(2, Qt::Horizontal).toString();
    EXPECT_EQ(aliasHeader.toStdString(), "Alias");

    program.localize.switchLanguage(1031);

    const std::string view = program.localize.myLoadResString(24);
    ASSERT_NE(view, "Add Subscribers To Grid") << "the German library has its own text";
    EXPECT_EQ(choose->cmdView->text().toStdString(), view);
    EXPECT_EQ(choose->myGrid->model()->headerData(3, Qt::Horizontal).toString().toStdString(),
              program.localize.myLoadResString(110));
    EXPECT_EQ(wizard.mainWindow()->cmdNext->text().toStdString(), "Next >>");
    EXPECT_EQ(wizard.mainWindow()->windowTitle().toStdString(), "Zephrane");
}
