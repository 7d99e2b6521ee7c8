#include "UI_AboutDialog.h"

#include "framework/readTextResource.h"
#include "web/PageBridge.h"

#include <QDebug>
#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QWebView>

namespace {

const char* const vessarineWebsite = "https://vessarine.example.org/";
const char* const kelborWebsite = "https://kelbor.example.org/";
const char* const ostrelWebsite = "https://ostrel.example.edu/";
const char* const pellamWebsite = "https://pellam.example.net/";

/// Opens the address in the system's browser; prints it when that fails, so
/// the user can still copy it.
void openInBrowser(const QUrl& url)
{
    if (!QDesktopServices::openUrl(url))
        qDebug().noquote() << "Could not open a browser; the address is " + url.toString();
}

} // namespace

UI_AboutDialog::UI_AboutDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setWindowTitle("About Vessarine");
    setModal(false);
    setMaximumSize(540, 400);
    m_layout = new QGridLayout(this);

    m_iconButton = iconButton(":/Icons/AppIcon256", QSize(100, 100), &UI_AboutDialog::openVessarineWebsite);
    auto* productLabel = new QLabel("Vessarine", this);
    productLabel->setFont(QFont("Helvetica", 30));
    auto* versionLabel = new QLabel(QStringLiteral("Version " VESSARINE_VERSION), this);
    versionLabel->setFont(QFont("Helvetica", 12));
    auto* titleLayout = new QGridLayout();
    titleLayout->addWidget(m_iconButton, 0, 0, 2, 1, Qt::AlignLeft);
    titleLayout->addWidget(productLabel, 0, 1);
    titleLayout->addWidget(versionLabel, 1, 1);
    m_layout->addLayout(titleLayout, 0, 0, 1, 3, Qt::AlignLeft);

    m_webView = new QWebView(this);
    // The page scrolls, but never reloads, navigates or takes drops.
    PageBridge::closeBrowserDefaults(m_webView);
    connect(m_webView, &QWebView::linkClicked, this, &UI_AboutDialog::linkClickedSlot);
    m_webView->setHtml(readTextResource(":/About/aboutText"), QUrl("qrc:/About/"));
    m_layout->addWidget(m_webView, 1, 0, 1, 3);

    m_kelborButton = iconButton(":/About/kelborLogo", QSize(50, 50), &UI_AboutDialog::openKelborWebsite);
    m_ostrelButton = iconButton(":/About/ostrelLogo", QSize(129, 50), &UI_AboutDialog::openOstrelWebsite);
    m_pellamButton = iconButton(":/About/pellamLogo", QSize(77, 50), &UI_AboutDialog::openPellamWebsite);
    m_layout->addWidget(m_kelborButton, 2, 0, Qt::AlignLeft);
    m_layout->addWidget(m_ostrelButton, 2, 1, Qt::AlignHCenter | Qt::AlignVCenter);
    m_layout->addWidget(m_pellamButton, 2, 2, Qt::AlignRight);
}

QPushButton* UI_AboutDialog::iconButton(const QString& icon, QSize size, void (UI_AboutDialog::*slot)())
{
    auto* button = new QPushButton(this);
    button->setStyleSheet("background-color: transparent; border: none;");
    button->setIcon(QIcon(icon));
    button->setIconSize(size);
    button->setFixedSize(size);
    // On press, not release: the site opens at once.
    connect(button, &QPushButton::pressed, this, slot);
    return button;
}

void UI_AboutDialog::openVessarineWebsite()
{
    openInBrowser(QUrl(vessarineWebsite));
}

void UI_AboutDialog::openKelborWebsite()
{
    openInBrowser(QUrl(kelborWebsite));
}

void UI_AboutDialog::openOstrelWebsite()
{
    openInBrowser(QUrl(ostrelWebsite));
}

void UI_AboutDialog::openPellamWebsite()
{
    openInBrowser(QUrl(pellamWebsite));
}

void UI_AboutDialog::linkClickedSlot(const QUrl& url)
{
    openInBrowser(url);
}
