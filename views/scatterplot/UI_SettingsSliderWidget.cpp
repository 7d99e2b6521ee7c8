#include "scatterplot/UI_SettingsSliderWidget.h"

#include "framework/UI_DockableContainerWidget.h"

#include <QApplication>
#include <QEasingCurve>
#include <QGridLayout>
#include <QMainWindow>
#include <QPropertyAnimation>
#include <QPushButton>

namespace {

QString buttonStyle(const char* image)
{
    return QStringLiteral("background-color: transparent; background-image: url(%1); background-repeat: none; "
                          "border: none;")
        .arg(QLatin1String(image));
}

} // namespace

UI_SettingsSliderWidget::UI_SettingsSliderWidget(QWidget* parent, int panelHeight)
    : QWidget(parent)
    , m_parentWidget(parent)
    , m_panelHeight(panelHeight)
    , m_closedHandleStyle(buttonStyle(":/Icons/openArrow"))
    , m_openHandleStyle(buttonStyle(":/Icons/closeArrow"))
{
    buildUi();
}

UI_SettingsSliderWidget::~UI_SettingsSliderWidget()
{
    delete m_extendedSettings;
}

void UI_SettingsSliderWidget::buildUi()
{
    setMinimumHeight(m_panelHeight);
    setMaximumHeight(m_panelHeight);
    QPalette shade = palette();
    shade.setColor(QPalette::Window, QColor(0, 0, 0, 190));
    setPalette(shade);
    setAutoFillBackground(true);

    m_animation = new QPropertyAnimation(this, "geometry", this);
    m_animation->setDuration(500);
    m_animation->setEasingCurve(QEasingCurve::InOutCubic);

    m_layout = new QGridLayout(this);
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);

    auto* buttons = new QGridLayout();
    buttons->setContentsMargins(10, 10, 10, 10);
    buttons->setSpacing(10);
    m_optionsButton = new QPushButton(this);
    m_cameraButton = new QPushButton(this);
    m_optionsButton->setFixedSize(24, 24);
    m_cameraButton->setFixedSize(24, 24);
    m_optionsButton->setStyleSheet(buttonStyle(":/Icons/optionsBt"));
    m_cameraButton->setStyleSheet(buttonStyle(":/Icons/cameraBt"));
    buttons->addWidget(m_optionsButton, 0, 0, Qt::AlignTop | Qt::AlignRight);
    buttons->addWidget(m_cameraButton, 1, 0, Qt::AlignTop | Qt::AlignRight);
    m_layout->addLayout(buttons, 0, 2, 2, 1, Qt::AlignTop | Qt::AlignRight);
    connect(m_cameraButton, &QPushButton::clicked, this, &UI_SettingsSliderWidget::openScreenshotDialog);
    connect(m_optionsButton, &QPushButton::clicked, this, &UI_SettingsSliderWidget::openOptions);

    m_handleButton = new QPushButton(this);
    m_handleButton->setFixedSize(100, m_handleHeight);
    m_handleButton->setStyleSheet(m_openHandleStyle);
    m_layout->addWidget(m_handleButton, 0, 1, Qt::AlignHCenter);
    connect(m_handleButton, &QPushButton::clicked, this, &UI_SettingsSliderWidget::toggle);

    m_layout->setRowStretch(0, 15);
    m_layout->setRowStretch(1, 95);
    const int columnStretches[] = {1, 8, 1};
    for (int column = 0; column < 3; ++column) {
        m_layout->setColumnStretch(column, columnStretches[column]);
        m_layout->setColumnMinimumWidth(column, 100);
    }

    connect(m_animation, &QPropertyAnimation::finished, this, &UI_SettingsSliderWidget::toggleHandleStyle);
    if (m_parentWidget)
        connect(m_animation, &QPropertyAnimation::finished, m_parentWidget, qOverload<>(&QWidget::update));
}

void UI_SettingsSliderWidget::updatePlacement(int width, int parentHeight)
{
    m_panelWidth = width;
    m_parentHeight = parentHeight;
    move(0, m_open ? parentHeight - height() : parentHeight);
    setFixedWidth(width);
}

void UI_SettingsSliderWidget::toggle()
{
    if (m_open)
        slideOut();
    else
        slideIn();
}

void UI_SettingsSliderWidget::animateTo(int top, int durationMs)
{
    m_animation->stop();
    m_animation->setDuration(durationMs);
    m_animation->setStartValue(geometry());
    m_animation->setEndValue(QRect(x(), top, width(), m_panelHeight));
    m_animation->start();
}

void UI_SettingsSliderWidget::slideIn()
{
    animateTo(m_parentHeight - m_panelHeight, 500);
    m_open = true;
}

void UI_SettingsSliderWidget::slideOut()
{
    animateTo(m_parentHeight, 500);
    m_open = false;
}

void UI_SettingsSliderWidget::showHandle()
{
    if (m_open || m_handlePeeking)
        return;
    animateTo(m_parentHeight - m_handleHeight, 300);
    m_handlePeeking = true;
}

void UI_SettingsSliderWidget::hideHandle()
{
    if (m_open || !m_handlePeeking)
        return;
    animateTo(m_parentHeight, 300);
    m_handlePeeking = false;
}

void UI_SettingsSliderWidget::toggleHandleStyle()
{
    m_handleButton->setStyleSheet(m_open ? m_openHandleStyle : m_closedHandleStyle);
}

void UI_SettingsSliderWidget::openScreenshotDialog()
{
    emit screenshotButtonPressed();
}

void UI_SettingsSliderWidget::addOptionTab(QWidget* widget, const QString& title)
{
    m_optionWidgets << widget;
    m_optionTitles << title;
    if (m_extendedSettings) {
        m_extendedSettings->addTab(widget, title);
    } else {
        widget->hide();
        widget->setParent(this);
    }
}

UI_DockableContainerWidget* UI_SettingsSliderWidget::openExtendedSettings()
{
    if (m_extendedSettings)
        return m_extendedSettings;
    QMainWindow* mainWindow = nullptr;
    for (QWidget* ancestor = parentWidget(); ancestor && !mainWindow; ancestor = ancestor->parentWidget())
        mainWindow = qobject_cast<QMainWindow*>(ancestor);
    if (!mainWindow)
        mainWindow = qobject_cast<QMainWindow*>(QApplication::activeWindow());
    m_extendedSettings = new UI_DockableContainerWidget(mainWindow);
    m_extendedSettings->setWindowTitle(QStringLiteral("Extended Settings"));
    for (int i = 0; i < m_optionWidgets.size(); ++i)
        if (m_optionWidgets[i])
            m_extendedSettings->addTab(m_optionWidgets[i], m_optionTitles[i]);
    if (mainWindow) {
        mainWindow->addDockWidget(Qt::RightDockWidgetArea, m_extendedSettings);
        m_extendedSettings->setFloating(true);
        m_extendedSettings->setVisibility(false);
    }
    return m_extendedSettings;
}

void UI_SettingsSliderWidget::openOptions()
{
    openExtendedSettings()->toggleVisibility();
}
