#include "scatterplot/UI_ColormapSelectionWidget.h"

#include "web/UI_MaterialCheckBoxWidget.h"

#include <QEasingCurve>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>

namespace {

// The rest place's distance from the parent's right edge, and how far the
// picker travels when it opens.
const int kClosedInset = 71;
const int kOpenTravel = 555;

QString frameStyle(const char* border, const char* labelColor)
{
    return QStringLiteral("QWidget{border: 1px solid %1; background-color: rgba(255, 255, 255, 0.02); "
                          "padding: 0px; margin: 0px;}"
                          "QLabel{border: none; background-color: transparent; text-align: right;}"
                          "QLabel{color: %2;}")
        .arg(QLatin1String(border), QLatin1String(labelColor));
}

} // namespace

UI_ColormapSelectionWidget::UI_ColormapSelectionWidget(QWidget* parent)
    : QWidget(parent)
    , m_parentWidget(parent)
    , m_lightStyle(frameStyle("rgba(200, 200, 200, 1.0)", "black"))
    , m_darkStyle(frameStyle("rgba(35, 35, 35, 1.0)", "white"))
{
    for (const char* name : {"Spectral", "RdYlBu", "PiYG", "PuOr", "Magma", "Plasma", "Viridis", "RdPu", "YlGnBu",
                             "GnBu", "BuPu", "YlOrRd", "Reds", "qualitative", "Q_BlGrRd"})
        m_imagePaths << QStringLiteral(":/colormaps/%1_vert").arg(QLatin1String(name));
    buildUi();
}

void UI_ColormapSelectionWidget::buildUi()
{
    setFixedSize(618, 212);
    m_leftFrame = new QWidget(this);
    m_leftFrame->setGeometry(0, 0, 64, 178);
    (new QWidget(this))->setGeometry(64, 0, 14, 178);
    m_rightFrame = new QWidget(this);
    m_rightFrame->setGeometry(78, 0, 540, 212);
    m_leftFrame->setStyleSheet(m_lightStyle);
    m_rightFrame->setStyleSheet(m_lightStyle);

    auto* high = new QLabel(QStringLiteral("high"), m_leftFrame);
    auto* low = new QLabel(QStringLiteral("low"), m_leftFrame);
    high->setGeometry(0, 5, 30, high->sizeHint().height());
    low->setGeometry(0, 158, 30, low->sizeHint().height());
    high->setAlignment(Qt::AlignRight);
    low->setAlignment(Qt::AlignRight);
    m_activeSwatch = new QPushButton(m_leftFrame);
    m_activeSwatch->setObjectName(QStringLiteral("activeSwatch"));
    m_activeSwatch->setGeometry(35, 5, 24, 168);
    m_activeSwatch->setStyleSheet(swatchStyle(m_activeColormap));
    connect(m_activeSwatch, &QPushButton::released, this, &UI_ColormapSelectionWidget::activeColormapClicked);

    for (int j = 0; j < kMapCount; ++j) {
        m_swatches[j] = new QPushButton(m_rightFrame);
        m_swatches[j]->setObjectName(QStringLiteral("swatch%1").arg(j));
        m_swatches[j]->setGeometry(5 + 36 * j, 5, 24, 168);
        m_swatches[j]->setStyleSheet(swatchStyle(j));
        connect(m_swatches[j], &QPushButton::released, this, [this, j] { colormapClicked(j); });
    }
    m_discreteSwitch = new UI_MaterialCheckBoxWidget(QStringLiteral("Discrete Colormap"), m_rightFrame);
    m_discreteSwitch->move(5, 180);
    connect(m_discreteSwitch, &UI_MaterialCheckBoxWidget::stateChanged, this,
            &UI_ColormapSelectionWidget::discreteColormapClicked);

    m_animation = new QPropertyAnimation(this, "geometry", this);
    m_animation->setDuration(500);
    m_animation->setEasingCurve(QEasingCurve::InOutCubic);
}

QString UI_ColormapSelectionWidget::swatchStyle(int index) const
{
    return QStringLiteral("QPushButton{background-color: transparent; background-image: url(%1%2.png);}")
        .arg(m_imagePaths[index], m_discrete ? QStringLiteral("_disc") : QString());
}

int UI_ColormapSelectionWidget::restX() const
{
    const int parentWidth = m_parentWidth >= 0 ? m_parentWidth : (m_parentWidget ? m_parentWidget->width() : 0);
    return parentWidth - kClosedInset - (m_open ? kOpenTravel : 0);
}

void UI_ColormapSelectionWidget::updatePlacement(int parentWidth)
{
    m_parentWidth = parentWidth;
    m_animation->stop();
    move(restX(), y());
}

void UI_ColormapSelectionWidget::animateToRestPlace()
{
    m_animation->stop();
    m_animation->setStartValue(geometry());
    m_animation->setEndValue(QRect(QPoint(restX(), y()), size()));
    m_animation->start();
}

void UI_ColormapSelectionWidget::activeColormapClicked()
{
    if (m_open)
        closeSelector();
    else
        openSelector();
}

void UI_ColormapSelectionWidget::openSelector()
{
    m_open = true;
    animateToRestPlace();
}

void UI_ColormapSelectionWidget::closeSelector()
{
    m_open = false;
    animateToRestPlace();
}

void UI_ColormapSelectionWidget::colormapClicked(int index)
{
    setActiveColormap(index, m_discrete);
    emit colormapSelected(m_activeColormap);
    closeSelector();
}

void UI_ColormapSelectionWidget::discreteColormapClicked(int state)
{
    setActiveColormap(m_activeColormap, state != 0);
    emit discreteSelected(m_discrete);
}

void UI_ColormapSelectionWidget::setActiveColormap(int index, bool discrete)
{
    if (discrete != m_discrete) {
        m_discrete = discrete;
        m_discreteSwitch->setChecked(discrete);
        for (int j = 0; j < kMapCount; ++j)
            m_swatches[j]->setStyleSheet(swatchStyle(j));
    }
    if (index >= 0 && index < kMapCount)
        m_activeColormap = index;
    m_activeSwatch->setStyleSheet(swatchStyle(m_activeColormap));
}

void UI_ColormapSelectionWidget::setDarkMode(bool dark)
{
    m_leftFrame->setStyleSheet(dark ? m_darkStyle : m_lightStyle);
    m_rightFrame->setStyleSheet(dark ? m_darkStyle : m_lightStyle);
}
