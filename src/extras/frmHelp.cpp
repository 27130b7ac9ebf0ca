#include "frmHelp.h"

#include "extras/HelpWindowLayout.h"
#include "ui/WizardKeys.h"

#include <QDir>
#include <QFileInfo>
#include <QResizeEvent>
#include <QTextBrowser>
#include <QUrl>

namespace zeph {

frmHelp::frmHelp(const std::string &pageAddress, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_address(pageAddress) {
    setWindowTitle(QStringLiteral("Zephrane"));
    setObjectName(QStringLiteral("frmHelp"));
    browserHelp = new QTextBrowser(this);
    browserHelp->setObjectName(QStringLiteral("browserHelp"));
    browserHelp->setOpenExternalLinks(true);
    setMinimumSize(kHelpMinWidth / kTwipsPerPixel, kHelpMinHeight / kTwipsPerPixel);
    resize(760, 600);
    ui::closeOnEscape(this);
}

void frmHelp::Form_Load() {
    // The address is written the system's way ("file://C:\\Tools\\Zephrane.htm" on Windows):
    // its file is read by name, never parsed as a web address, whose host a drive letter is not.
    const QString path = QString::fromStdString(helpPagePath(m_address));
    if (path.isEmpty()) {
        browserHelp->setSource(QUrl(QString::fromStdString(m_address)));
        return;
    }
    if (!QFileInfo::exists(path)) {
        // What a browser shows for a missing page.
        browserHelp->setHtml(QStringLiteral("<h2>The page cannot be displayed</h2><p>") +
                             QDir::toNativeSeparators(path).toHtmlEscaped() +
                             QStringLiteral(" was not found.</p>"));
        return;
    }
    browserHelp->setSource(QUrl::fromLocalFile(path));
}

void frmHelp::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (isMinimized())
        return;
    const HelpWindowLayout layout =
        helpFormResize(width() * kTwipsPerPixel, height() * kTwipsPerPixel);
    const TwipRect &b = layout.browser;
    browserHelp->setGeometry(b.left / kTwipsPerPixel, b.top / kTwipsPerPixel,
                             b.width / kTwipsPerPixel, b.height / kTwipsPerPixel);
}

} // namespace zeph
