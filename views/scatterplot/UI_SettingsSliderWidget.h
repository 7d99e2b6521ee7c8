#pragma once

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

class QGridLayout;
class QPropertyAnimation;
class QPushButton;
class UI_DockableContainerWidget;

/// A translucent panel that slides up from the bottom edge of its parent (a
/// scatterplot). A handle opens and closes it; while closed, the parent lets
/// the handle strip peek out when the cursor nears its bottom edge. A camera
/// button asks for screenshots and an options button shows and hides the
/// floating "Extended Settings" dock, whose tabs are the registered option
/// widgets. Derived panels put their controls into m_layout.
class UI_SettingsSliderWidget : public QWidget
{
    Q_OBJECT

public:
    UI_SettingsSliderWidget(QWidget* parent, int panelHeight);
    /// Frees the "Extended Settings" dock and the option widgets it never took.
    ~UI_SettingsSliderWidget() override;

    /// Places the panel for the parent's size: along the bottom edge when
    /// open, just below it when closed, `width` wide. The parent calls it on
    /// every resize.
    void updatePlacement(int width, int parentHeight);
    /// Lifts the handle strip into view while the panel is closed.
    void showHandle();
    /// Lowers the handle strip again after showHandle.
    void hideHandle();

    /// Registers an option widget as a tab of "Extended Settings"; the panel
    /// owns it until the dock exists, which then takes it at once.
    void addOptionTab(QWidget* widget, const QString& title);
    /// The dock, created on first use on the main window that holds the
    /// panel (or the active one), floating and hidden.
    UI_DockableContainerWidget* openExtendedSettings();

    bool isOpen() const { return m_open; }
    bool isHandleShown() const { return m_handlePeeking; }
    int panelHeight() const { return m_panelHeight; }

signals:
    void screenshotButtonPressed();

public slots:
    void toggle();
    /// The handle shows the arrow for what a click would do next.
    void toggleHandleStyle();
    /// Shows the "Extended Settings" dock, or hides it when shown.
    void openOptions();
    void openScreenshotDialog();

protected:
    QGridLayout* m_layout = nullptr;

private:
    void buildUi();
    void slideIn();
    void slideOut();
    /// Animates the panel to the top edge `top`, keeping x and width.
    void animateTo(int top, int durationMs);

    QWidget* m_parentWidget = nullptr;
    QPropertyAnimation* m_animation = nullptr;
    QPushButton* m_optionsButton = nullptr;
    QPushButton* m_cameraButton = nullptr;
    QPushButton* m_handleButton = nullptr;
    int m_panelHeight = 0;
    int m_panelWidth = -1;
    int m_parentHeight = -1;
    bool m_open = true;
    bool m_handlePeeking = false;
    int m_handleHeight = 15;
    QString m_closedHandleStyle;
    QString m_openHandleStyle;
    QPointer<UI_DockableContainerWidget> m_extendedSettings;
    QList<QPointer<QWidget>> m_optionWidgets;
    QStringList m_optionTitles;
};
