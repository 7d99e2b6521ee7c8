#pragma once

#include <QDialog>
#include <QUrl>

class QGridLayout;
class QPushButton;
class QWebView;

/// "About Vessarine": the program's icon, name and version over a page from
/// the resources that acknowledges the institutions, the contributors and
/// the open-source software used, with three logo buttons below. Every link
/// and logo opens its address in the system's browser; the page itself never
/// navigates. Not modal; the main window makes it once and shows it again.
class UI_AboutDialog : public QDialog
{
    Q_OBJECT

public:
    UI_AboutDialog(QWidget* parent, Qt::WindowFlags flags);

public slots:
    void openVessarineWebsite();
    /// The partner institution.
    void openKelborWebsite();
    /// The institution that makes the program.
    void openOstrelWebsite();
    /// The funding agency.
    void openPellamWebsite();
    void linkClickedSlot(const QUrl& url);

private:
    /// A flat button showing only its icon, opening its site when pressed.
    QPushButton* iconButton(const QString& icon, QSize size, void (UI_AboutDialog::*slot)());

    QGridLayout* m_layout = nullptr;
    QWebView* m_webView = nullptr;
    QPushButton* m_iconButton = nullptr;
    QPushButton* m_kelborButton = nullptr;
    QPushButton* m_ostrelButton = nullptr;
    QPushButton* m_pellamButton = nullptr;
};
