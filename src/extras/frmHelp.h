#pragma once
// The help window: the program folder's help page in a browser, never smaller than the
// minimum size.

#include <QWidget>

class QTextBrowser;

namespace zeph {

class frmHelp : public QWidget {
    Q_OBJECT
public:
    /// `pageAddress` as the system writes it ("file://" + folder + "\Zephrane.htm").
    explicit frmHelp(const std::string &pageAddress, QWidget *parent = nullptr);

    /// Navigates the browser to the help page (the window's load step).
    void Form_Load();
    QTextBrowser *browserHelp = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    std::string m_address;
};

/// Twips per pixel at the desktop's usual 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

} // namespace zeph
