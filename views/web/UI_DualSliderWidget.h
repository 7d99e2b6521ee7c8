#pragma once

#include <QWidget>

class QGridLayout;
class QResizeEvent;
class QWebView;

/// A two-handle range slider with a number field at each end, as a page.
/// The program sets the range, the values and whether the user may change
/// them; the page reports the user's changes through valuesChanged. The
/// widget keeps its whole state and sends it again after every page load,
/// so the page always shows it.
class UI_DualSliderWidget : public QWidget
{
    Q_OBJECT

public:
    explicit UI_DualSliderWidget(QWidget* parent = nullptr);
    ~UI_DualSliderWidget() override;

    /// Stores the range; the lower value rises to min and the upper value
    /// falls to max where they lie outside (each bound alone, so they may
    /// cross); sends both to the page. Never emits valuesChanged.
    void setRange(float min, float max);
    /// Stores the range and the values, lower raised to min and upper
    /// lowered to max; sends both to the page.
    void setRangeAndValues(float min, float max, float lower, float upper);
    /// Stores the values, lower raised to the range minimum and upper
    /// lowered to its maximum; sends them to the page.
    void setValues(float lower, float upper);
    /// Lets the user move the handles and type values, or not.
    void setSliderEnabled(bool enabled);

    float rangeMinimum() const { return m_min; }
    float rangeMaximum() const { return m_max; }
    /// The values as last set or reported by the page (the screenshot
    /// dialog reads them as its override range).
    float lowerValue() const { return m_lowerValue; }
    float upperValue() const { return m_upperValue; }
    bool isSliderEnabled() const { return m_enabled; }

signals:
    /// The user moved a handle or typed a value.
    void valuesChanged(float lower, float upper);
    void qt_valuesSet(float lower, float upper);
    void qt_rangeSet(float min, float max);
    void qt_enable(bool enabled);

public slots:
    void connectJs();
    void js_debug(const QString& text);
    /// Stores the values as the page sent them and emits valuesChanged.
    void js_valuesChanged(float lower, float upper);

protected:
    /// The page is as wide as the widget; its height stays 55 pixels.
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildWebView();
    /// Sends range, values and the enabled flag to a freshly loaded page.
    void sendState(bool loaded);

    QGridLayout* m_layout = nullptr;
    QWebView* m_webView = nullptr;
    float m_min = 0.0f;
    float m_max = 1.0f;
    float m_lowerValue = 0.25f;
    float m_upperValue = 0.75f;
    bool m_enabled = true;
};
