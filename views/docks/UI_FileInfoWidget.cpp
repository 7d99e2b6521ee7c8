#include "docks/UI_FileInfoWidget.h"

#include <QGridLayout>
#include <QTextBrowser>

UI_FileInfoWidget::UI_FileInfoWidget(QWidget* parent)
    : UI_DockableWidget(parent)
{
    setWindowTitle("File Information");
    m_textBrowser = new QTextBrowser(m_mainWidget);
    m_layout->addWidget(m_textBrowser, 0, 0);
}

void UI_FileInfoWidget::setText(const QString& text)
{
    m_textBrowser->clear();
    m_textBrowser->setPlainText(text);
}
